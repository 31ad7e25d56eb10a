// The trigger page: voltage choice, single trigger with retries, the plan
// runner driven tick by tick, plan editing, the plan file, removal of the
// meter while a dialog is open, and a plan run against the simulated meter.

#include "com_layer.h"
#include "hidsim.h"
#include "knownmeters.h"
#include "modalresponder.h"
#include "openonarrival.h"
#include "planfile.h"
#include "suportprotocol.h"
#include "usbevent.h"
#include "usbprocotol.h"

#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace {

hidsim::MeterConfig meter(const QString& serial, bool answers)
{
    hidsim::MeterConfig config;
    config.id.vid = knownMeters[1].vid;
    config.id.pid = knownMeters[1].pid;
    config.id.serial = serial;
    config.answersIdentity = answers;
    return config;
}

template <class T> T* part(QWidget* page, const char* name)
{
    T* found = page->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("page has no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

TRIGGER_PARAM_T step(int prot, int vol, int time)
{
    TRIGGER_PARAM_T s;
    s.indexOfProt = prot;
    s.indexOfVol = vol;
    s.time = time;
    return s;
}

QByteArray le32(qint32 v)
{
    QByteArray b(4, 0);
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray sig()
{
    return QByteArray(planfile::signature, sizeof planfile::signature);
}

// Answers the step dialog: picks a protocol (-1 keeps it) and a time (-1 keeps it), then OK or Cancel.
std::shared_ptr<ModalSeen> answerStepDialog(bool ok, int prot = -1, int time = -1)
{
    return answerNextModal([ok, prot, time](QWidget* dialog) {
        if (prot >= 0)
            dialog->findChild<QComboBox*>()->setCurrentIndex(prot);
        if (time >= 0)
            dialog->findChild<QSpinBox*>()->setValue(time);
        const QString wanted = ok ? QStringLiteral("  OK  ") : QStringLiteral("Cancel");
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == wanted)
                b->click();
    });
}

} // namespace

class tst_Trigger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void protocolOpenings_data();
    void protocolOpenings();
    void singleTriggerOnTheWire_data();
    void singleTriggerOnTheWire();
    void refusedWithWarning_data();
    void refusedWithWarning();

    void zeroDurationStep();
    void stepFailingFourTimes();
    void stepTimesCountTicks();
    void pauseWhileReplyAwaited();
    void stopInBootloader();

    void readPlan_data();
    void readPlan();
    void planEditing();
    void exportImportRoundTrip();
    void importRejectedKeepsPlan();
    void exportFailureIsShown();

    void removedWhileDialogOpen_data();
    void removedWhileDialogOpen();
    void removedWhileEndWarningOpen();
    void destroyedPageSendsNothing();
    void retranslation();
    void planRunAgainstMeter();
    void screenshot();

private:
    UsbProcotol* open(const hidsim::MeterConfig& config);
    // A page on a meter that answers no trigger; the test plays the replies.
    UsbProcotol* openDriven();
    void loadPlan(UsbProcotol* p, const QList<TRIGGER_PARAM_T>& steps);
    void startDriven(UsbProcotol* p);
    static void ticks(UsbProcotol* p, int n);
    static QStringList log(UsbProcotol* p);
    static QStringList rowTexts(UsbProcotol* p, int row);
    // Every frame the page queued so far has reached the meter; returns them.
    QList<QByteArray> wire(UsbProcotol* p);
    int sent(UsbProcotol* p, quint8 code);

    std::unique_ptr<QWidget> host;
    QTemporaryDir dir;
    hidsim::MeterId id;
    QTranslator german;
};

void tst_Trigger::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(german.load(QStringLiteral(":/ts/Translation_GE.qm")));
}

void tst_Trigger::init()
{
    hidsim::reset();
    host = std::make_unique<QWidget>();
}

void tst_Trigger::cleanup()
{
    host.reset();
    UsbEvent::resetInstance();
    hidsim::reset();
}

UsbProcotol* tst_Trigger::open(const hidsim::MeterConfig& config)
{
    id = config.id;
    hidsim::plug(config);
    UsbProcotol* created = openOnArrival<UsbProcotol>(host.get());
    UsbEvent* registry = UsbEvent::instance().data();
    // As the main window does: the page goes inside the removal signal.
    QPointer<UsbProcotol> page(created);
    connect(registry, &UsbEvent::hidDevDisconnected, host.get(), [page](int) { delete page.data(); });
    return created;
}

UsbProcotol* tst_Trigger::openDriven()
{
    UsbProcotol* p = open(meter(QStringLiteral("T1"), false));
    hidsim::dropReplies(id, 1 << 30);
    p->comLayer->devMsg.runMode = 2;
    return p;
}

void tst_Trigger::loadPlan(UsbProcotol* p, const QList<TRIGGER_PARAM_T>& steps)
{
    const QString path = dir.filePath(QStringLiteral("load.pqz"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(planfile::encode(steps));
    f.close();
    auto seen = answerFileDialog(path);
    p->btnImportSlot();
    QVERIFY(seen->seen);
    QCOMPARE(p->allAutoTrigger.size(), steps.size());
}

void tst_Trigger::startDriven(UsbProcotol* p)
{
    p->btnStartSlot();
    p->autoTimer->stop(); // the test delivers the ticks
}

void tst_Trigger::ticks(UsbProcotol* p, int n)
{
    for (int i = 0; i < n; ++i)
        p->autoTrigTimerSlot();
}

QStringList tst_Trigger::log(UsbProcotol* p)
{
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d{4}/\\d\\d/\\d\\d - \\d\\d:\\d\\d:\\d\\d\\] "));
    QStringList lines = part<QTextBrowser>(p, "textBrowser")->toPlainText().split(QLatin1Char('\n'));
    lines.removeAll(QString());
    for (QString& line : lines) {
        if (!stamp.match(line).hasMatch())
            return { QStringLiteral("bad stamp: ") + line };
        line.remove(stamp);
    }
    return lines;
}

QStringList tst_Trigger::rowTexts(UsbProcotol* p, int row)
{
    const QTreeWidgetItem* item = part<QTreeWidget>(p, "treeWidget")->topLevelItem(row);
    return item ? QStringList { item->text(0), item->text(1), item->text(2), item->text(3) } : QStringList();
}

QList<QByteArray> tst_Trigger::wire(UsbProcotol* p)
{
    // A marker behind whatever the page queued: once it is out, all of that is.
    const int before = hidsim::countWritten(id, 0x83);
    p->comLayer->addPack(Com_Layer::PC_APP_STILL_CONNECTING, nullptr, 0);
    [&]() { QTRY_VERIFY_WITH_TIMEOUT(hidsim::countWritten(id, 0x83) > before, 5000); }();
    return hidsim::framesWritten(id);
}

int tst_Trigger::sent(UsbProcotol* p, quint8 code)
{
    int n = 0;
    for (const QByteArray& f : wire(p))
        n += quint8(f.at(1)) == code;
    return n;
}

// ---------------------------------------------------------------- single trigger

void tst_Trigger::protocolOpenings_data()
{
    QTest::addColumn<int>("prot");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("moveTo");
    QTest::addColumn<QString>("movedLabel");
    QTest::newRow("QC3.0") << 1 << 82 << 7 << "05.00V" << 82 << "20.00V";
    QTest::newRow("HUAWEI FCP") << 2 << 2 << 0 << "05.00V" << 1 << "09.00V";
    QTest::newRow("HUAWEI SCP") << 3 << 335 << 85 << "05.00V" << 86 << "05.02V";
    QTest::newRow("SAMSUNG AFC") << 4 << 1 << 0 << "09.00V" << 1 << "12.00V";
    QTest::newRow("back to QC2.0") << 0 << 3 << 0 << "05.00V" << 3 << "20.00V";
}

void tst_Trigger::protocolOpenings()
{
    QFETCH(int, prot);
    UsbProcotol* p = openDriven();
    auto* box = part<QComboBox>(p, "cBoxProtocol");
    auto* slider = part<QSlider>(p, "sliderVol");
    auto* label = part<QLabel>(p, "labelVol");
    QCOMPARE(label->text(), QStringLiteral("05.00V"));

    box->setCurrentIndex(prot == 0 ? 3 : 0); // from somewhere else, at a high position
    slider->setValue(slider->maximum());
    box->setCurrentIndex(prot);
    QTEST(slider->maximum(), "maximum");
    QTEST(slider->value(), "position");
    QTEST(label->text(), "label");
    QFETCH(int, moveTo);
    slider->setValue(moveTo);
    QTEST(label->text(), "movedLabel");
}

void tst_Trigger::singleTriggerOnTheWire_data()
{
    QTest::addColumn<int>("prot");
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("QC3.0 5V") << 1 << 7 << QByteArray::fromHex("018813")
                              << "Single trigger: The protocol is QC3.0, the voltage is 05.00V.";
    QTest::newRow("QC2.0 20V") << 0 << 3 << QByteArray::fromHex("00204e")
                               << "Single trigger: The protocol is QC2.0, the voltage is 20.00V.";
    QTest::newRow("HUAWEI SCP 10V") << 3 << 335 << QByteArray::fromHex("031027")
                                    << "Single trigger: The protocol is HUAWEI SCP, the voltage is 10.00V.";
}

void tst_Trigger::singleTriggerOnTheWire()
{
    QFETCH(int, prot);
    QFETCH(int, position);
    QFETCH(QByteArray, payload);
    UsbProcotol* p = open(meter(QStringLiteral("W1"), true));
    QTRY_COMPARE_WITH_TIMEOUT(int(p->comLayer->devMsg.runMode), 2, 5000);
    hidsim::setTriggerScript(id, { false, true });
    hidsim::clearWriteLog(id);

    part<QComboBox>(p, "cBoxProtocol")->setCurrentIndex(prot);
    part<QSlider>(p, "sliderVol")->setValue(position);
    part<QPushButton>(p, "btnTrig")->click();
    QTRY_COMPARE_WITH_TIMEOUT(log(p).size(), 4, 5000);
    QFETCH(QString, logLine);
    QCOMPARE(log(p), QStringList({ logLine, "Trigger failed.", "Try to trigger again.", "Triggered successfully." }));

    // The first trigger and its retry, byte for byte.
    QList<QByteArray> triggers;
    for (const QByteArray& f : wire(p))
        if (quint8(f.at(1)) == 0x88)
            triggers << f;
    QCOMPARE(triggers, QList<QByteArray>({ hidsim::frame2(0x88, payload), hidsim::frame2(0x88, payload) }));
}

// Each refusal shows one warning and sends nothing.
void tst_Trigger::refusedWithWarning_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<bool>("withPlan");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("trigger in bootloader") << 1 << true << "btnTrig"
                                           << "Please switch to application mode.";
    QTest::newRow("release in bootloader") << 1 << true << "btnRelease"
                                           << "Please switch to application mode.";
    QTest::newRow("start in bootloader") << 1 << true << "btnStart"
                                         << "Please switch to application mode.";
    QTest::newRow("start without mode") << 0 << true << "btnStart"
                                        << "Please switch to application mode.";
    QTest::newRow("start empty plan") << 2 << false << "btnStart"
                                      << "No plan.";
    QTest::newRow("export empty plan") << 2 << false << "btnExport"
                                       << "No plan.";
}

void tst_Trigger::refusedWithWarning()
{
    QFETCH(int, runMode);
    QFETCH(bool, withPlan);
    QFETCH(QString, button);
    UsbProcotol* p = openDriven();
    if (withPlan)
        loadPlan(p, { step(0, 0, 10) });
    p->comLayer->devMsg.runMode = quint8(runMode);
    hidsim::clearWriteLog(id);

    auto seen = answerMessageBox(QMessageBox::Ok);
    part<QPushButton>(p, button.toLatin1().constData())->click();
    QVERIFY(seen->seen);
    QCOMPARE(seen->title, QStringLiteral("WARNING"));
    QTEST(seen->text, "text");
    QVERIFY(!p->autoTimer->isActive());
    QVERIFY(part<QPushButton>(p, "btnStart")->isEnabled());
    QCOMPARE(sent(p, 0x88) + sent(p, 0x89), 0);
    QVERIFY(log(p).isEmpty());
}

// ---------------------------------------------------------------- plan runner

void tst_Trigger::zeroDurationStep()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(1, 7, 0) });
    hidsim::clearWriteLog(id);
    startDriven(p);
    ticks(p, 2);
    QCOMPARE(log(p),
        QStringList({ "Start smart trigger.", "Smart trigger: The duration of step 1 is 0s, skip this step.",
            "Stop smart trigger.", "Release trigger." }));
    QCOMPARE(sent(p, 0x88), 0);
    QCOMPARE(sent(p, 0x89), 1);
}

void tst_Trigger::stepFailingFourTimes()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 1, 1000), step(2, 2, 1000) });
    startDriven(p);
    ticks(p, 1);
    for (int i = 0; i < 4; ++i)
        emit p->comLayer->deviceSendTrigFail();
    const QStringList lines = log(p);
    QCOMPARE(lines.count(QStringLiteral("Trigger failed.")), 4);
    QCOMPARE(lines.count(QStringLiteral("Try to trigger again.")), 3);
    QCOMPARE(lines.at(1),
        QStringLiteral("Smart trigger: Perform step 1, protocol is QC2.0, voltage is 09.00V, "
                       "duration is 1000ms."));

    ticks(p, 1); // notes the failure
    QCOMPARE(log(p).size(), lines.size());
    ticks(p, 1);
    QCOMPARE(log(p).last(),
        QStringLiteral("Smart trigger: Perform step 2, protocol is HUAWEI FCP, voltage is 12.00V, "
                       "duration is 1000ms."));
    const QList<QByteArray> frames = wire(p);
    QList<QByteArray> triggers;
    for (const QByteArray& f : frames)
        if (quint8(f.at(1)) == 0x88)
            triggers << f.mid(2, 3);
    QCOMPARE(triggers,
        QList<QByteArray>({ QByteArray::fromHex("002823"), QByteArray::fromHex("002823"), QByteArray::fromHex("002823"),
            QByteArray::fromHex("002823"), QByteArray::fromHex("02e02e") }));
}

// Times 1000 and 2000 with a zero step between them, which takes one tick of its own.
void tst_Trigger::stepTimesCountTicks()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(1, 7, 1000), step(0, 0, 0), step(2, 1, 2000) });
    auto performed = [p](int stepNo) { return log(p).filter(QStringLiteral("Perform step %1,").arg(stepNo)).size(); };
    for (int run = 0; run < 2; ++run) { // a second Start begins again at step 1
        startDriven(p);
        ticks(p, 1);
        QCOMPARE(performed(1), run + 1);
        emit p->comLayer->deviceSendTrigSuccess();
        ticks(p, 1); // takes the reply: the step's time starts here
        ticks(p, 1000);
        QVERIFY(!log(p).last().contains(QLatin1String("step 2")));
        ticks(p, 1); // the 1001st: step 2 skipped
        QVERIFY(log(p).last().contains(QLatin1String("step 2 is 0s")));
        ticks(p, 1); // the next tick goes on at once
        QCOMPARE(performed(3), run + 1);
        emit p->comLayer->deviceSendTrigSuccess();
        ticks(p, 1 + 2000);
        QVERIFY(part<QPushButton>(p, "btnStop")->isEnabled());
        ticks(p, 1);
        QVERIFY(!part<QPushButton>(p, "btnStop")->isEnabled());
        QCOMPARE(log(p).mid(log(p).size() - 2), QStringList({ "Stop smart trigger.", "Release trigger." }));
    }
}

void tst_Trigger::pauseWhileReplyAwaited()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 0, 5) });
    startDriven(p);
    ticks(p, 1);
    part<QPushButton>(p, "btnPause")->click();
    // Paused: Start and Stop offered, the plan and the single trigger locked.
    for (const char* name : { "btnStart", "btnStop" })
        QVERIFY2(part<QPushButton>(p, name)->isEnabled(), name);
    for (const char* name : { "btnPause", "btnTrig", "btnAdd", "btnImport", "btnClear" })
        QVERIFY2(!part<QPushButton>(p, name)->isEnabled(), name);
    QVERIFY(!part<QTreeWidget>(p, "treeWidget")->isEnabled());

    emit p->comLayer->deviceSendTrigSuccess();
    startDriven(p);
    ticks(p, 1 + 5); // the reply, then the step's five ticks
    QVERIFY(part<QPushButton>(p, "btnStop")->isEnabled());
    ticks(p, 1);
    QVERIFY(!part<QPushButton>(p, "btnStop")->isEnabled());
    QCOMPARE(log(p).mid(2),
        QStringList({ "Pause smart trigger.", "Triggered successfully.", "Start smart trigger.", "Stop smart trigger.",
            "Release trigger." }));
}

void tst_Trigger::stopInBootloader()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 0, 1000) });
    startDriven(p);
    ticks(p, 1);
    p->comLayer->devMsg.runMode = 1;
    auto seen = answerMessageBox(QMessageBox::Ok);
    part<QPushButton>(p, "btnStop")->click();
    QCOMPARE(seen->text, QStringLiteral("Please switch to application mode."));
    QCOMPARE(log(p).last(), QStringLiteral("Stop smart trigger."));
    for (const char* name : { "btnStart", "btnTrig", "btnRelease", "btnAdd", "btnDelete", "btnExport" })
        QVERIFY2(part<QPushButton>(p, name)->isEnabled(), name);
    QVERIFY(!part<QPushButton>(p, "btnPause")->isEnabled());
    QVERIFY(!part<QPushButton>(p, "btnStop")->isEnabled());
    QCOMPARE(p->indexOfTrigging, 0);
    QCOMPARE(sent(p, 0x89), 0);
}

// ---------------------------------------------------------------- plan file and editing

void tst_Trigger::readPlan_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("steps");
    const QByteArray example = QByteArray::fromHex("0100000001000000"
                                                   "07000000e8030000");
    const QByteArray one = sig() + example;
    QTest::newRow("example") << one << true << 1;
    QTest::newRow("bytes after the last step") << one + "xyz" << true << 1;
    QTest::newRow("empty plan, 15 bytes") << sig() + le32(0) << true << 0;
    QTest::newRow("negative count") << sig() + le32(-5) << true << 0;
    QTest::newRow("QC3.0 last position") << sig() + le32(1) + le32(1) + le32(82) + le32(5) << true << 1;
    QTest::newRow("header cut short") << (sig() + le32(0)).left(14) << false << 0;
    QByteArray letter = one;
    letter[3] = 'x';
    QTest::newRow("other signature") << letter << false << 0;
    QByteArray nul = one;
    nul[10] = 'a';
    QTest::newRow("no NUL after the letters") << nul << false << 0;
    QTest::newRow("count 3, two steps") << sig() + le32(3) + example.mid(4) + example.mid(4) << false << 0;
    QTest::newRow("step cut short") << one.left(one.size() - 1) << false << 0;
    QTest::newRow("QC3.0 position 83") << sig() + le32(1) + le32(1) + le32(83) + le32(5) << false << 0;
    QTest::newRow("protocol 5") << sig() + le32(1) + le32(5) + le32(0) + le32(5) << false << 0;
    QTest::newRow("protocol -1") << sig() + le32(1) + le32(-1) + le32(0) + le32(5) << false << 0;
    QTest::newRow("voltage -1") << sig() + le32(1) + le32(0) + le32(-1) + le32(5) << false << 0;
    QTest::newRow("two billion steps in 20 bytes") << sig() + le32(2000000000) + "abcde" << false << 0;
}

void tst_Trigger::readPlan()
{
    QFETCH(QByteArray, bytes);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const SuportProtocol table;
    const planfile::ReadResult result = planfile::read(buffer, table.allProtVol);
    QTEST(result.ok, "ok");
    QTEST(int(result.steps.size()), "steps");
    if (QTest::currentDataTag() == QLatin1String("example")) {
        QCOMPARE(result.steps.at(0).indexOfProt, 1);
        QCOMPARE(result.steps.at(0).indexOfVol, 7);
        QCOMPARE(result.steps.at(0).time, 1000);
        QCOMPARE(planfile::encode(result.steps), bytes);
    }
}

void tst_Trigger::planEditing()
{
    UsbProcotol* p = openDriven();
    auto* tree = part<QTreeWidget>(p, "treeWidget");
    auto seen = answerStepDialog(true);
    part<QPushButton>(p, "btnAdd")->click();
    QCOMPARE(seen->title, QStringLiteral("Choose protocol"));
    QCOMPARE(rowTexts(p, 0), QStringList({ "1", "QC2.0", "05.00", "1000" }));
    QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
    QCOMPARE(tree->topLevelItem(0)->textAlignment(2), int(Qt::AlignHCenter | Qt::AlignVCenter));

    answerStepDialog(true, 3, 20);
    part<QPushButton>(p, "btnAdd")->click();
    answerStepDialog(true, 4, 30);
    part<QPushButton>(p, "btnAdd")->click();
    answerStepDialog(false, 1, 40);
    part<QPushButton>(p, "btnAdd")->click(); // cancelled: nothing added
    QCOMPARE(tree->topLevelItemCount(), 3);

    tree->setCurrentItem(tree->topLevelItem(1));
    part<QPushButton>(p, "btnDelete")->click();
    QCOMPARE(rowTexts(p, 1), QStringList({ "2", "SAMSUNG AFC", "09.00", "30" }));
    QCOMPARE(p->allAutoTrigger.at(1).indexOfProt, 4);

    answerStepDialog(true, 1, 50);
    part<QPushButton>(p, "btnAdd")->click();
    part<QPushButton>(p, "btnMoveUp")->click();
    part<QPushButton>(p, "btnMoveUp")->click();
    part<QPushButton>(p, "btnMoveUp")->click(); // already first: nothing
    QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
    QCOMPARE(rowTexts(p, 0), QStringList({ "1", "QC3.0", "05.00", "50" }));
    QCOMPARE(rowTexts(p, 1), QStringList({ "2", "QC2.0", "05.00", "1000" }));
    QCOMPARE(rowTexts(p, 2), QStringList({ "3", "SAMSUNG AFC", "09.00", "30" }));
    QCOMPARE(p->allAutoTrigger.at(0).time, 50);
    part<QPushButton>(p, "btnMoveDown")->click();
    QCOMPARE(rowTexts(p, 1).at(1), QStringLiteral("QC3.0"));
    QCOMPARE(p->allAutoTrigger.at(1).indexOfProt, 1);

    // Editing by double-click: the dialog opens once the tree is out of its handler.
    seen = answerStepDialog(true, 3, 70);
    p->itemDoubleClick(tree->topLevelItem(2), 1);
    QVERIFY(!seen->seen);
    QTRY_COMPARE_WITH_TIMEOUT(rowTexts(p, 2), QStringList({ "3", "HUAWEI SCP", "05.00", "70" }), 5000);
    QCOMPARE(p->allAutoTrigger.at(2).indexOfVol, 85);
    seen = answerStepDialog(false, 0, 90);
    p->itemDoubleClick(tree->topLevelItem(2), 0);
    QTRY_VERIFY_WITH_TIMEOUT(seen->seen, 5000);
    QCOMPARE(rowTexts(p, 2), QStringList({ "3", "HUAWEI SCP", "05.00", "70" }));

    part<QPushButton>(p, "btnClear")->click();
    QCOMPARE(tree->topLevelItemCount(), 0);
    QVERIFY(p->allAutoTrigger.isEmpty());
}

void tst_Trigger::exportImportRoundTrip()
{
    UsbProcotol* p = openDriven();
    const QList<TRIGGER_PARAM_T> steps = { step(1, 7, 1000), step(3, 335, 0), step(4, 1, 2000000000) };
    loadPlan(p, steps);
    QList<QStringList> rows;
    for (int i = 0; i < 3; ++i)
        rows << rowTexts(p, i);
    QCOMPARE(rows.at(1), QStringList({ "2", "HUAWEI SCP", "10.00", "0" }));

    const QString path = dir.filePath(QStringLiteral("out.pqz"));
    QFile::remove(path);
    auto seen = answerFileDialog(path);
    part<QPushButton>(p, "btnExport")->click();
    QCOMPARE(seen->title, QStringLiteral("Export"));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QCOMPARE(bytes.size(), 15 + 12 * 3);
    QCOMPARE(bytes, planfile::encode(steps));
    QCOMPARE(QSettings(QStringLiteral("./Setting.ini"), QSettings::IniFormat).value("LastProtocolFilePath").toString(),
        path);

    part<QPushButton>(p, "btnClear")->click();
    seen = answerFileDialog(path);
    part<QPushButton>(p, "btnImport")->click();
    QCOMPARE(seen->title, QStringLiteral("Import"));
    auto* tree = part<QTreeWidget>(p, "treeWidget");
    QCOMPARE(tree->topLevelItemCount(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(rowTexts(p, i), rows.at(i));
    QCOMPARE(tree->currentItem(), tree->topLevelItem(2));
    QCOMPARE(planfile::encode(p->allAutoTrigger), bytes);

    // The 15-byte empty plan empties the tree.
    loadPlan(p, {});
    QCOMPARE(tree->topLevelItemCount(), 0);
}

void tst_Trigger::importRejectedKeepsPlan()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 1, 10), step(2, 0, 20) });
    const QString path = dir.filePath(QStringLiteral("short.pqz"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(planfile::encode({ step(1, 7, 1000), step(1, 8, 1000) }).replace(11, 4, le32(3)));
    f.close();

    answerFileDialog(path);
    auto warning = answerNextModal([](QWidget* box) { static_cast<QMessageBox*>(box)->accept(); }, 20000);
    part<QPushButton>(p, "btnImport")->click();
    QCOMPARE(warning->text, QStringLiteral("Error file."));
    QCOMPARE(p->allAutoTrigger.size(), 2);
    QCOMPARE(rowTexts(p, 1), QStringList({ "2", "HUAWEI FCP", "05.00", "20" }));
    // The key follows the choice, also for a file that was refused.
    QCOMPARE(QSettings(QStringLiteral("./Setting.ini"), QSettings::IniFormat).value("LastProtocolFilePath").toString(),
        path);
}

void tst_Trigger::exportFailureIsShown()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 0, 10) });
    const QString path = dir.filePath(QStringLiteral("no-such-dir/plan.pqz"));
    answerFileDialog(path);
    auto warning = answerNextModal([](QWidget* box) { static_cast<QMessageBox*>(box)->accept(); }, 20000);
    part<QPushButton>(p, "btnExport")->click();
    QCOMPARE(warning->title, QStringLiteral("WARNING"));
    QCOMPARE(warning->text, QStringLiteral("Failed to save the file."));
    QVERIFY(!QFile::exists(path));
}

// ---------------------------------------------------------------- removal

void tst_Trigger::removedWhileDialogOpen_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("title");
    QTest::newRow("edit step") << "edit"
                               << "Choose protocol";
    QTest::newRow("add step") << "btnAdd"
                              << "Choose protocol";
    QTest::newRow("warning") << "btnStart"
                             << "WARNING";
    QTest::newRow("export") << "btnExport"
                            << "Export";
    QTest::newRow("import") << "btnImport"
                            << "Import";
}

// Every dialog of the page may see the meter unplugged and the page deleted.
void tst_Trigger::removedWhileDialogOpen()
{
    QFETCH(QString, action);
    UsbProcotol* created = openDriven();
    loadPlan(created, { step(0, 0, 10) });
    QPointer<UsbProcotol> p(created);
    if (action == QLatin1String("btnStart"))
        p->comLayer->devMsg.runMode = 1;
    const hidsim::MeterId gone = id;
    auto seen = answerNextModal([gone](QWidget*) {
        hidsim::unplug(gone);
        UsbEvent::instance()->hidDevRemoveSlot();
    });
    if (action == QLatin1String("edit"))
        p->itemDoubleClick(part<QTreeWidget>(p, "treeWidget")->topLevelItem(0), 0);
    else
        part<QPushButton>(p, action.toLatin1().constData())->click();
    QTRY_VERIFY_WITH_TIMEOUT(p.isNull(), 5000);
    QTEST(seen->title, "title");
    QTRY_VERIFY(!QApplication::activeModalWidget());
}

// The last step's end is a Stop; its warning may outlive the page.
void tst_Trigger::removedWhileEndWarningOpen()
{
    UsbProcotol* created = openDriven();
    loadPlan(created, { step(0, 0, 0) });
    QPointer<UsbProcotol> p(created);
    startDriven(p);
    ticks(p, 1);
    p->comLayer->devMsg.runMode = 1;
    const hidsim::MeterId gone = id;
    auto seen = answerNextModal([gone](QWidget*) {
        hidsim::unplug(gone);
        UsbEvent::instance()->hidDevRemoveSlot();
    });
    p->autoTrigTimerSlot();
    QVERIFY(p.isNull());
    QCOMPARE(seen->text, QStringLiteral("Please switch to application mode."));
}

void tst_Trigger::destroyedPageSendsNothing()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 0, 1000) });
    p->btnStartSlot(); // on the real timer
    QTRY_COMPARE_WITH_TIMEOUT(p->trigStep, 1, 5000);
    Com_Layer* com = p->comLayer;
    delete p;
    emit com->deviceSendTrigFail(); // no page left to retry

    const int before = hidsim::countWritten(id, 0x83);
    com->addPack(Com_Layer::PC_APP_STILL_CONNECTING, nullptr, 0);
    QTRY_VERIFY_WITH_TIMEOUT(hidsim::countWritten(id, 0x83) > before, 5000);
    QCOMPARE(hidsim::countWritten(id, 0x88), 1);
    QCOMPARE(hidsim::countWritten(id, 0x89), 0);
}

// ---------------------------------------------------------------- language, end to end, picture

void tst_Trigger::retranslation()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(4, 0, 10) });
    part<QComboBox>(p, "cBoxProtocol")->setCurrentIndex(3);
    QCOMPARE(part<QLabel>(p, "label")->text(), QStringLiteral("Protocol："));
    QCoreApplication::installTranslator(&german);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(part<QGroupBox>(p, "groupBox")->title(), QStringLiteral("Einzelaufnahme"));
    QCOMPARE(part<QLabel>(p, "label")->text(), QStringLiteral("Protokoll:"));
    QCOMPARE(part<QPushButton>(p, "btnClear")->text(), QStringLiteral("Pläne löschen"));
    QCOMPARE(part<QPushButton>(p, "btnMoveDown")->toolTip(), QStringLiteral("Runter bewegen"));
    QCOMPARE(part<QTreeWidget>(p, "treeWidget")->headerItem()->text(3), QStringLiteral("Dauer (ms)"));
    QCOMPARE(part<QComboBox>(p, "cBoxProtocol")->currentIndex(), 3);
    QCOMPARE(part<QLabel>(p, "labelVol")->text(), QStringLiteral("05.00V"));
    QCoreApplication::removeTranslator(&german);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(part<QGroupBox>(p, "groupBox_2")->title(), QStringLiteral("Smart trigger"));
}

// A plan run on the real 1 ms timer; the meter fails the first trigger once.
void tst_Trigger::planRunAgainstMeter()
{
    UsbProcotol* p = open(meter(QStringLiteral("E1"), true));
    QTRY_COMPARE_WITH_TIMEOUT(int(p->comLayer->devMsg.runMode), 2, 5000);
    hidsim::setTriggerScript(id, { false, true, true });
    loadPlan(p, { step(1, 7, 5), step(2, 1, 0), step(2, 1, 5) });
    hidsim::clearWriteLog(id);

    part<QPushButton>(p, "btnStart")->click();
    QTRY_VERIFY_WITH_TIMEOUT(log(p).contains(QStringLiteral("Release trigger.")), 10000);
    QCOMPARE(log(p),
        QStringList({ "Start smart trigger.",
            "Smart trigger: Perform step 1, protocol is QC3.0, voltage is 05.00V, duration is 5ms.", "Trigger failed.",
            "Try to trigger again.", "Triggered successfully.",
            "Smart trigger: The duration of step 2 is 0s, skip this step.",
            "Smart trigger: Perform step 3, protocol is HUAWEI FCP, voltage is 09.00V, duration is 5ms.",
            "Triggered successfully.", "Stop smart trigger.", "Release trigger." }));
    QVERIFY(part<QPushButton>(p, "btnStart")->isEnabled());
    QVERIFY(!p->autoTimer->isActive());

    QList<QByteArray> commands;
    for (const QByteArray& f : wire(p))
        if (quint8(f.at(1)) == 0x88 || quint8(f.at(1)) == 0x89)
            commands << f;
    QCOMPARE(commands,
        QList<QByteArray>(
            { hidsim::frame2(0x88, QByteArray::fromHex("018813")), hidsim::frame2(0x88, QByteArray::fromHex("018813")),
                hidsim::frame2(0x88, QByteArray::fromHex("022823")), hidsim::frame2(0x89) }));
}

void tst_Trigger::screenshot()
{
    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly));
    host->setStyleSheet(QString::fromUtf8(qss.readAll()));
    auto* layout = new QVBoxLayout(host.get());
    layout->setContentsMargins(0, 0, 0, 0);
    host->resize(980, 724);

    UsbProcotol* p = openDriven();
    layout->addWidget(p);
    loadPlan(p, { step(1, 7, 1000), step(3, 85, 2500), step(4, 1, 0), step(0, 3, 1500) });
    part<QComboBox>(p, "cBoxProtocol")->setCurrentIndex(1);
    part<QSlider>(p, "sliderVol")->setValue(27);
    p->btnTrigOnceSlot();
    p->trigSuccessSlot();
    startDriven(p);
    ticks(p, 1);
    p->trigFailSlot();
    p->trigSuccessSlot();
    ticks(p, 1);
    part<QPushButton>(p, "btnPause")->click();
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));

    const QString out = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
    QVERIFY(host->grab().save(out + QStringLiteral("/usbprocotol.png")));
}

QTEST_MAIN(tst_Trigger)
#include "tst_trigger.moc"
