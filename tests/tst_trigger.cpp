// The trigger page: voltage choice, refusals, the plan runner driven tick by
// tick, the plan file, plan editing, removal of the meter under each dialog,
// and a single trigger and a plan run against the simulated meter.

#include "com_layer.h"
#include "dacoverride.h"
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
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
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

const QString appMode = QStringLiteral("Please switch to application mode.");

template <class T> T* part(QWidget* page, const QString& name)
{
    T* found = page->findChild<T*>(name);
    if (!found)
        qFatal("page has no %s", qPrintable(name));
    return found;
}

QPushButton* button(QWidget* page, const QString& name)
{
    return part<QPushButton>(page, name);
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

const QByteArray sig(planfile::signature, sizeof planfile::signature);

QString lastPath()
{
    return QSettings(QStringLiteral("./Setting.ini"), QSettings::IniFormat).value("LastProtocolFilePath").toString();
}

// Answers the step dialog: picks a protocol (-1 keeps it) and a time (-1 keeps it), then OK or Cancel.
std::shared_ptr<ModalSeen> answerStepDialog(bool ok, int prot = -1, int time = -1)
{
    return answerNextModal([ok, prot, time](QWidget* dialog) {
        if (prot >= 0)
            dialog->findChild<QComboBox*>()->setCurrentIndex(prot);
        if (time >= 0)
            dialog->findChild<QSpinBox*>()->setValue(time);
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == (ok ? QStringLiteral("  OK  ") : QStringLiteral("Cancel")))
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
    void exportOverFileInLockedFolder();
    void fileRefused_data();
    void fileRefused();

    void removedWhileDialogOpen_data();
    void removedWhileDialogOpen();
    void destroyedPageSendsNothing();
    void retranslation();
    void againstMeter();
    void screenshot();

private:
    UsbProcotol* open(bool answersIdentity);
    // A page on a meter whose replies are lost; the test plays them.
    UsbProcotol* openDriven();
    void loadPlan(UsbProcotol* p, const QList<TRIGGER_PARAM_T>& steps);
    static void startDriven(UsbProcotol* p);
    static void ticks(UsbProcotol* p, int n);
    static QStringList log(UsbProcotol* p);
    static QStringList rowTexts(UsbProcotol* p, int row);
    // Trigger and release frames on the wire, once all the page queued is out.
    QList<QByteArray> commands(UsbProcotol* p);

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

UsbProcotol* tst_Trigger::open(bool answersIdentity)
{
    hidsim::MeterConfig config;
    config.id = { knownMeters[1].vid, knownMeters[1].pid, QStringLiteral("T1") };
    config.answersIdentity = answersIdentity;
    id = config.id;
    hidsim::plug(config);
    UsbProcotol* created = openOnArrival<UsbProcotol>(host.get());
    // As the main window does: the page goes inside the removal signal.
    QPointer<UsbProcotol> page(created);
    connect(
        UsbEvent::instance().data(), &UsbEvent::hidDevDisconnected, host.get(), [page](int) { delete page.data(); });
    return created;
}

UsbProcotol* tst_Trigger::openDriven()
{
    UsbProcotol* p = open(false);
    hidsim::dropReplies(id, 1 << 30);
    p->comLayer->devMsg.runMode = 2;
    return p;
}

void tst_Trigger::loadPlan(UsbProcotol* p, const QList<TRIGGER_PARAM_T>& steps)
{
    const QString path = dir.filePath(QStringLiteral("load.pqz"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(planfile::encode(steps)) > 0);
    f.close();
    answerFileDialog(path);
    p->btnImportSlot();
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
    QStringList lines = part<QTextBrowser>(p, "textBrowser")->toPlainText().split('\n', Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = stamp.match(line).hasMatch() ? line.remove(stamp) : QStringLiteral("no stamp: ") + line;
    return lines;
}

QStringList tst_Trigger::rowTexts(UsbProcotol* p, int row)
{
    const QTreeWidgetItem* item = part<QTreeWidget>(p, "treeWidget")->topLevelItem(row);
    return item ? QStringList { item->text(0), item->text(1), item->text(2), item->text(3) } : QStringList();
}

QList<QByteArray> tst_Trigger::commands(UsbProcotol* p)
{
    // A marker behind whatever the page queued: once it is out, all of that is.
    const int before = hidsim::countWritten(id, 0x83);
    p->comLayer->addPack(Com_Layer::PC_APP_STILL_CONNECTING, nullptr, 0);
    [&]() { QTRY_VERIFY_WITH_TIMEOUT(hidsim::countWritten(id, 0x83) > before, 5000); }();
    QList<QByteArray> found;
    for (const QByteArray& f : hidsim::framesWritten(id))
        if (quint8(f.at(1)) == 0x88 || quint8(f.at(1)) == 0x89)
            found << f;
    return found;
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
    QFETCH(int, moveTo);
    UsbProcotol* p = openDriven();
    auto* box = part<QComboBox>(p, "cBoxProtocol");
    auto* slider = part<QSlider>(p, "sliderVol");
    auto* label = part<QLabel>(p, "labelVol");
    QCOMPARE(label->text(), QStringLiteral("05.00V"));
    box->setCurrentIndex(prot == 0 ? 3 : 0); // from elsewhere, at a high position
    slider->setValue(slider->maximum());
    box->setCurrentIndex(prot);
    QTEST(slider->maximum(), "maximum");
    QTEST(slider->value(), "position");
    QTEST(label->text(), "label");
    slider->setValue(moveTo);
    QTEST(label->text(), "movedLabel");
}

// Each refusal shows one warning and sends nothing.
void tst_Trigger::refusedWithWarning_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<bool>("withPlan");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("trigger in bootloader") << 1 << true << "btnTrig" << appMode;
    QTest::newRow("release in bootloader") << 1 << true << "btnRelease" << appMode;
    QTest::newRow("start in bootloader") << 1 << true << "btnStart" << appMode;
    QTest::newRow("start without mode") << 0 << true << "btnStart" << appMode;
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
    auto seen = answerMessageBox(QMessageBox::Ok);
    ::button(p, button)->click();
    QCOMPARE(seen->title, QStringLiteral("WARNING"));
    QTEST(seen->text, "text");
    QVERIFY(::button(p, "btnStart")->isEnabled() && !p->autoTimer->isActive());
    QVERIFY(log(p).isEmpty());
    QVERIFY(commands(p).isEmpty());
}

// ---------------------------------------------------------------- plan runner

void tst_Trigger::zeroDurationStep()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(1, 7, 0) });
    startDriven(p);
    ticks(p, 2);
    QCOMPARE(log(p),
        QStringList({ "Start smart trigger.", "Smart trigger: The duration of step 1 is 0s, skip this step.",
            "Stop smart trigger.", "Release trigger." }));
    QCOMPARE(commands(p), QList<QByteArray>({ hidsim::frame2(0x89) }));
}

void tst_Trigger::stepFailingFourTimes()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 1, 1000), step(2, 2, 1000) });
    // A single trigger that uses up its retries; the next one, and then the
    // plan's step, retry afresh.
    for (int failures : { 4, 1 }) {
        button(p, "btnTrig")->click();
        for (int i = 0; i < failures; ++i)
            emit p->comLayer->deviceSendTrigFail();
    }
    QCOMPARE(log(p).count(QStringLiteral("Try to trigger again.")), 4);
    QCOMPARE(commands(p).size(), 6);
    hidsim::clearWriteLog(id);
    button(p, "btnClearText")->click();
    startDriven(p);
    ticks(p, 1);
    for (int i = 0; i < 4; ++i)
        emit p->comLayer->deviceSendTrigFail();
    const QStringList lines = log(p);
    QCOMPARE(lines.at(1),
        QStringLiteral("Smart trigger: Perform step 1, protocol is QC2.0, voltage is 09.00V, "
                       "duration is 1000ms."));
    QCOMPARE(lines.count(QStringLiteral("Trigger failed.")), 4);
    QCOMPARE(lines.count(QStringLiteral("Try to trigger again.")), 3);
    ticks(p, 1); // notes the failure
    QCOMPARE(log(p).size(), lines.size());
    ticks(p, 1);
    QVERIFY(log(p).last().startsWith(QLatin1String("Smart trigger: Perform step 2, protocol is HUAWEI FCP")));
    const QList<QByteArray> sent = commands(p);
    QCOMPARE(sent.size(), 5); // the first trigger, three retries, the next step
    QCOMPARE(sent.at(3), hidsim::frame2(0x88, QByteArray::fromHex("002823")));
}

// Times 1000 and 2000 with a zero step between them, which takes one tick of its own.
void tst_Trigger::stepTimesCountTicks()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(1, 7, 1000), step(0, 0, 0), step(2, 1, 2000) });
    auto performed = [p](int n) { return log(p).filter(QStringLiteral("Perform step %1,").arg(n)).size(); };
    for (int run = 0; run < 2; ++run) { // a second Start begins again at step 1
        startDriven(p);
        ticks(p, 1);
        QCOMPARE(performed(1), run + 1);
        emit p->comLayer->deviceSendTrigSuccess();
        ticks(p, 1 + 1000); // the reply starts the step's time
        QVERIFY(!log(p).last().contains(QLatin1String("step 2")));
        ticks(p, 1); // the 1001st: step 2 skipped
        QVERIFY(log(p).last().contains(QLatin1String("step 2 is 0s")));
        ticks(p, 1); // and the next step at once
        QCOMPARE(performed(3), run + 1);
        ticks(p, 50); // step 1's reply does not answer step 3
        emit p->comLayer->deviceSendTrigSuccess();
        ticks(p, 1 + 2000);
        QVERIFY(button(p, "btnStop")->isEnabled());
        ticks(p, 1);
        QVERIFY(!button(p, "btnStop")->isEnabled());
        QCOMPARE(log(p).mid(log(p).size() - 2), QStringList({ "Stop smart trigger.", "Release trigger." }));
    }
}

void tst_Trigger::pauseWhileReplyAwaited()
{
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 0, 5) });
    startDriven(p);
    ticks(p, 1);
    button(p, "btnPause")->click();
    // Paused: Start and Stop offered, the plan and the single trigger locked.
    QVERIFY(button(p, "btnStart")->isEnabled() && button(p, "btnStop")->isEnabled());
    for (const char* name : { "btnPause", "btnTrig", "btnAdd", "btnImport", "btnClear" })
        QVERIFY2(!button(p, name)->isEnabled(), name);
    QVERIFY(!part<QTreeWidget>(p, "treeWidget")->isEnabled());

    emit p->comLayer->deviceSendTrigSuccess();
    startDriven(p);
    ticks(p, 1 + 5); // the reply, then the step's five ticks
    QVERIFY(button(p, "btnStop")->isEnabled());
    ticks(p, 1);
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
    button(p, "btnStop")->click();
    QCOMPARE(seen->text, appMode);
    QCOMPARE(log(p).last(), QStringLiteral("Stop smart trigger."));
    for (const char* name : { "btnStart", "btnTrig", "btnRelease", "btnAdd", "btnDelete", "btnExport" })
        QVERIFY2(button(p, name)->isEnabled(), name);
    QVERIFY(!button(p, "btnPause")->isEnabled() && !button(p, "btnStop")->isEnabled());
    QCOMPARE(commands(p).size(), 1); // the step's trigger, no release
}

// ---------------------------------------------------------------- plan file and editing

void tst_Trigger::readPlan_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("steps"); // -1: refused
    const QByteArray example = QByteArray::fromHex("0100000001000000"
                                                   "07000000e8030000");
    const QByteArray one = sig + example;
    QByteArray letter = one;
    letter[3] = 'x';
    QByteArray nul = one;
    nul[10] = 'a';
    QTest::newRow("example") << one << 1;
    QTest::newRow("bytes after the last step") << one + "xyz" << 1;
    QTest::newRow("empty plan, 15 bytes") << sig + le32(0) << 0;
    QTest::newRow("negative count") << sig + le32(-5) << 0;
    QTest::newRow("QC3.0 position 82") << sig + le32(1) + le32(1) + le32(82) + le32(5) << 1;
    QTest::newRow("header cut short") << (sig + le32(0)).left(14) << -1;
    QTest::newRow("other signature") << letter << -1;
    QTest::newRow("no NUL after the letters") << nul << -1;
    QTest::newRow("count 3, two steps") << sig + le32(3) + example.mid(4) + example.mid(4) << -1;
    QTest::newRow("step cut short") << one.left(one.size() - 1) << -1;
    QTest::newRow("QC3.0 position 83") << sig + le32(1) + le32(1) + le32(83) + le32(5) << -1;
    QTest::newRow("protocol 5") << sig + le32(1) + le32(5) + le32(0) + le32(5) << -1;
    QTest::newRow("protocol -1") << sig + le32(1) + le32(-1) + le32(0) + le32(5) << -1;
    QTest::newRow("voltage -1") << sig + le32(1) + le32(0) + le32(-1) + le32(5) << -1;
    QTest::newRow("two billion steps in 20 bytes") << sig + le32(2000000000) + "abcde" << -1;
}

void tst_Trigger::readPlan()
{
    QFETCH(QByteArray, bytes);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const planfile::ReadResult result = planfile::read(buffer, SuportProtocol().allProtVol);
    QTEST(result.ok ? int(result.steps.size()) : -1, "steps");
    if (QTest::currentDataTag() == QLatin1String("example"))
        QCOMPARE(planfile::encode(result.steps), bytes);
}

void tst_Trigger::planEditing()
{
    UsbProcotol* p = openDriven();
    auto* tree = part<QTreeWidget>(p, "treeWidget");
    auto seen = answerStepDialog(true);
    button(p, "btnAdd")->click();
    QCOMPARE(seen->title, QStringLiteral("Choose protocol"));
    QCOMPARE(rowTexts(p, 0), QStringList({ "1", "QC2.0", "05.00", "1000" }));
    QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
    answerStepDialog(true, 3, 20);
    button(p, "btnAdd")->click();
    answerStepDialog(true, 4, 30);
    button(p, "btnAdd")->click();
    answerStepDialog(false, 1, 40);
    button(p, "btnAdd")->click(); // cancelled: nothing added

    tree->setCurrentItem(tree->topLevelItem(1));
    button(p, "btnDelete")->click();
    QCOMPARE(rowTexts(p, 1), QStringList({ "2", "SAMSUNG AFC", "09.00", "30" }));
    QCOMPARE(p->allAutoTrigger.size(), 2);
    QCOMPARE(p->allAutoTrigger.at(1).indexOfProt, 4);

    answerStepDialog(true, 1, 50);
    button(p, "btnAdd")->click();
    for (int i = 0; i < 3; ++i) // the third press finds the row on top
        button(p, "btnMoveUp")->click();
    QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
    QCOMPARE(rowTexts(p, 0), QStringList({ "1", "QC3.0", "05.00", "50" }));
    QCOMPARE(rowTexts(p, 2), QStringList({ "3", "SAMSUNG AFC", "09.00", "30" }));
    QCOMPARE(p->allAutoTrigger.at(0).time, 50);
    button(p, "btnMoveDown")->click();
    QCOMPARE(p->allAutoTrigger.at(1).indexOfProt, 1);
    tree->setCurrentItem(tree->topLevelItem(2));
    const QList<QStringList> rows = { rowTexts(p, 0), rowTexts(p, 1), rowTexts(p, 2) };
    const QByteArray steps = planfile::encode(p->allAutoTrigger);
    button(p, "btnMoveDown")->click(); // on the last row: nothing moves
    QCOMPARE(tree->topLevelItemCount(), 3);
    QCOMPARE((QList<QStringList> { rowTexts(p, 0), rowTexts(p, 1), rowTexts(p, 2) }), rows);
    QCOMPARE(planfile::encode(p->allAutoTrigger), steps);
    QCOMPARE(tree->currentItem(), tree->topLevelItem(2));

    // Editing: the dialog opens once the tree is out of its double-click handling.
    seen = answerStepDialog(true, 3, 70);
    p->itemDoubleClick(tree->topLevelItem(2), 1);
    QVERIFY(!seen->seen);
    QTRY_COMPARE_WITH_TIMEOUT(rowTexts(p, 2), QStringList({ "3", "HUAWEI SCP", "05.00", "70" }), 5000);
    QCOMPARE(p->allAutoTrigger.at(2).indexOfVol, 85);
    seen = answerStepDialog(false, 0, 90);
    p->itemDoubleClick(tree->topLevelItem(2), 0);
    QTRY_VERIFY_WITH_TIMEOUT(seen->seen, 5000);
    QCOMPARE(rowTexts(p, 2).at(3), QStringLiteral("70"));

    button(p, "btnClear")->click();
    QVERIFY(tree->topLevelItemCount() == 0 && p->allAutoTrigger.isEmpty());
}

void tst_Trigger::exportImportRoundTrip()
{
    UsbProcotol* p = openDriven();
    const QList<TRIGGER_PARAM_T> steps = { step(1, 7, 1000), step(3, 335, 0), step(4, 1, 2000000000) };
    loadPlan(p, steps);
    QList<QStringList> rows = { rowTexts(p, 0), rowTexts(p, 1), rowTexts(p, 2) };
    QCOMPARE(rows.at(1), QStringList({ "2", "HUAWEI SCP", "10.00", "0" }));

    const QString path = dir.filePath(QStringLiteral("out.pqz"));
    auto seen = answerFileDialog(path);
    button(p, "btnExport")->click();
    QCOMPARE(seen->title, QStringLiteral("Export"));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QCOMPARE(bytes.size(), 15 + 12 * 3);
    QCOMPARE(bytes, planfile::encode(steps));
    QCOMPARE(lastPath(), path);

    button(p, "btnClear")->click();
    answerFileDialog(path);
    button(p, "btnImport")->click();
    auto* tree = part<QTreeWidget>(p, "treeWidget");
    QCOMPARE((QList<QStringList> { rowTexts(p, 0), rowTexts(p, 1), rowTexts(p, 2) }), rows);
    QCOMPARE(tree->currentItem(), tree->topLevelItem(2));
    QCOMPARE(planfile::encode(p->allAutoTrigger), bytes);

    loadPlan(p, {}); // the 15-byte empty plan empties the tree
    QCOMPARE(tree->topLevelItemCount(), 0);
}

// A writable plan in a folder where no file may be created is overwritten in
// place, as a user who may write the file but not the folder expects.
void tst_Trigger::exportOverFileInLockedFolder()
{
    UsbProcotol* p = openDriven();
    const QList<TRIGGER_PARAM_T> steps = { step(1, 7, 1000), step(4, 1, 20) };
    loadPlan(p, steps);
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    const QString folder = dir.filePath(QStringLiteral("locked"));
    const QString path = folder + QStringLiteral("/plan.pqz");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write(planfile::encode({ step(0, 0, 5) })) > 0);
    old.close();
    QVERIFY(QFile::setPermissions(folder,
        QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    const auto unlock
        = qScopeGuard([folder]() { QFile::setPermissions(folder, QFile::permissions(folder) | QFile::WriteOwner); });
    const DacOverrideDropped dropped;
    if (!dropped.binds())
        QSKIP("file permissions cannot be made to bind for this user");
    QVERIFY(!QFile(folder + QStringLiteral("/probe")).open(QIODevice::WriteOnly));

    // The file dialog asks before replacing; a failed save would warn after it.
    auto warning = std::make_shared<std::shared_ptr<ModalSeen>>();
    answerFileDialog(path);
    auto replace = answerNextModalOf("QMessageBox", [warning](QWidget* box) {
        *warning = answerNextModalOf("QMessageBox", [](QWidget* w) { static_cast<QDialog*>(w)->accept(); });
        static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
    });
    button(p, "btnExport")->click();
    QVERIFY(replace->seen && *warning);
    (*warning)->cancelled = true;
    QVERIFY2(!(*warning)->seen, qPrintable((*warning)->text));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), planfile::encode(steps));
}

void tst_Trigger::fileRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");
    QTest::newRow("import cut short") << "btnImport"
                                      << "short.pqz"
                                      << "Error file.";
    QTest::newRow("export into no folder") << "btnExport"
                                           << "none/plan.pqz"
                                           << "Failed to save the file.";
}

// The warning is shown, the plan stays, and the key follows the choice.
void tst_Trigger::fileRefused()
{
    QFETCH(QString, button);
    QFETCH(QString, file);
    UsbProcotol* p = openDriven();
    loadPlan(p, { step(0, 1, 10), step(2, 0, 20) });
    const QString path = dir.filePath(file);
    QFile f(dir.filePath(QStringLiteral("short.pqz")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(planfile::encode({ step(1, 7, 1000), step(1, 8, 1000) }).replace(11, 4, le32(3)));
    f.close();

    answerFileDialog(path);
    auto warning = answerNextModal([](QWidget* box) { static_cast<QDialog*>(box)->accept(); }, 20000);
    ::button(p, button)->click();
    QCOMPARE(warning->title, QStringLiteral("WARNING"));
    QTEST(warning->text, "text");
    QCOMPARE(rowTexts(p, 1), QStringList({ "2", "HUAWEI FCP", "05.00", "20" }));
    QCOMPARE(p->allAutoTrigger.size(), 2);
    QCOMPARE(lastPath(), path);
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
    QTest::newRow("warning at the plan's end") << "end"
                                               << "WARNING";
}

void tst_Trigger::removedWhileDialogOpen()
{
    QFETCH(QString, action);
    QPointer<UsbProcotol> p(openDriven());
    loadPlan(p, { step(0, 0, action == QLatin1String("end") ? 0 : 10) });
    if (action == QLatin1String("end")) {
        startDriven(p);
        ticks(p, 1); // the zero step; the next tick ends the plan with a Stop
    }
    if (action == QLatin1String("btnStart") || action == QLatin1String("end"))
        p->comLayer->devMsg.runMode = 1;
    const hidsim::MeterId gone = id;
    auto seen = answerNextModal([gone](QWidget*) {
        hidsim::unplug(gone);
        UsbEvent::instance()->hidDevRemoveSlot();
    });
    if (action == QLatin1String("edit"))
        p->itemDoubleClick(part<QTreeWidget>(p, "treeWidget")->topLevelItem(0), 0);
    else if (action == QLatin1String("end"))
        p->autoTrigTimerSlot();
    else
        button(p, action)->click();
    QTRY_VERIFY_WITH_TIMEOUT(p.isNull(), 5000);
    QTEST(seen->title, "title");
    QTRY_VERIFY(!QApplication::activeModalWidget());
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

    com->addPack(Com_Layer::PC_APP_STILL_CONNECTING, nullptr, 0); // a marker behind anything queued
    QTRY_VERIFY_WITH_TIMEOUT(hidsim::countWritten(id, 0x83) > 0, 5000);
    QCOMPARE(hidsim::countWritten(id, 0x88), 1);
    QCOMPARE(hidsim::countWritten(id, 0x89), 0);
}

// ---------------------------------------------------------------- language, meter, picture

void tst_Trigger::retranslation()
{
    UsbProcotol* p = openDriven();
    part<QComboBox>(p, "cBoxProtocol")->setCurrentIndex(3);
    QCOMPARE(part<QLabel>(p, "label")->text(), QStringLiteral("Protocol："));
    QCoreApplication::installTranslator(&german);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(part<QGroupBox>(p, "groupBox")->title(), QStringLiteral("Einzelaufnahme"));
    QCOMPARE(part<QLabel>(p, "label_2")->text(), QStringLiteral("Spannung:"));
    QCOMPARE(button(p, "btnMoveDown")->toolTip(), QStringLiteral("Runter bewegen"));
    QCOMPARE(part<QTreeWidget>(p, "treeWidget")->headerItem()->text(3), QStringLiteral("Dauer (ms)"));
    QCOMPARE(part<QComboBox>(p, "cBoxProtocol")->currentIndex(), 3);
    QCoreApplication::removeTranslator(&german);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(button(p, "btnClear")->text(), QStringLiteral("Clear"));
}

// A single trigger and then a plan on the real 1 ms timer; the meter fails the
// single trigger and the plan's first step once each.
void tst_Trigger::againstMeter()
{
    UsbProcotol* p = open(true);
    QTRY_COMPARE_WITH_TIMEOUT(int(p->comLayer->devMsg.runMode), 2, 5000);
    hidsim::setTriggerScript(id, { false, true, false, true, true });
    loadPlan(p, { step(1, 7, 5), step(2, 1, 0), step(2, 1, 5) });
    hidsim::clearWriteLog(id);

    part<QComboBox>(p, "cBoxProtocol")->setCurrentIndex(3);
    part<QSlider>(p, "sliderVol")->setValue(335);
    button(p, "btnTrig")->click();
    QTRY_COMPARE_WITH_TIMEOUT(log(p).size(), 4, 5000);
    button(p, "btnStart")->click();
    QTRY_VERIFY_WITH_TIMEOUT(log(p).contains(QStringLiteral("Release trigger.")), 10000);
    const QString retried[] = { "Trigger failed.", "Try to trigger again.", "Triggered successfully." };
    QCOMPARE(log(p),
        QStringList({ "Single trigger: The protocol is HUAWEI SCP, the voltage is 10.00V.", retried[0], retried[1],
            retried[2], "Start smart trigger.",
            "Smart trigger: Perform step 1, protocol is QC3.0, voltage is 05.00V, duration is 5ms.", retried[0],
            retried[1], retried[2], "Smart trigger: The duration of step 2 is 0s, skip this step.",
            "Smart trigger: Perform step 3, protocol is HUAWEI FCP, voltage is 09.00V, duration is 5ms.", retried[2],
            "Stop smart trigger.", "Release trigger." }));
    QVERIFY(button(p, "btnStart")->isEnabled() && !p->autoTimer->isActive());

    const QByteArray scp10 = hidsim::frame2(0x88, QByteArray::fromHex("031027"));
    const QByteArray qc3 = hidsim::frame2(0x88, QByteArray::fromHex("018813"));
    QCOMPARE(commands(p),
        QList<QByteArray>(
            { scp10, scp10, qc3, qc3, hidsim::frame2(0x88, QByteArray::fromHex("022823")), hidsim::frame2(0x89) }));
}

void tst_Trigger::screenshot()
{
    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly));
    host->setStyleSheet(QString::fromUtf8(qss.readAll())); // as the main window sets it
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
    button(p, "btnPause")->click();
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));

    const QString out = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
    QVERIFY(host->grab().save(out + QStringLiteral("/usbprocotol.png")));
}

QTEST_MAIN(tst_Trigger)
#include "tst_trigger.moc"
