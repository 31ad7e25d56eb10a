// The System page: identity texts, choosing a firmware file, the checks before
// an update, updates run against the simulated bootloader (frames, packet ids,
// progress, elapsed time), a meter removed mid-way, and the page in its tab.

#include "com_layer.h"
#include "hidsim.h"
#include "knownmeters.h"
#include "modalresponder.h"
#include "usbevent.h"
#include "usbsystem.h"
#include "usbwindow.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

// A format-1 meter (the first known-meter row), by default in its bootloader.
hidsim::MeterConfig bootloader(const QString& serial, quint8 runMode = 1)
{
    hidsim::MeterConfig config;
    config.id = { knownMeters[0].vid, knownMeters[0].pid, serial };
    config.format = 1;
    config.identity.runMode = runMode;
    return config;
}

// Bytes that differ from frame to frame, so a misplaced slice shows.
QByteArray firmwareBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 251) & 0xFF);
    return bytes;
}

// A widget of the page's form by its object name; a missing one ends the run.
template <class T> T* part(QWidget* page, const char* name)
{
    T* found = page->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("form has no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

QString label(QWidget* page, const char* name)
{
    return part<QLabel>(page, name)->text();
}

// The head: id 0, frame 0, version and size little-endian.
QByteArray headFrame(int version, int size)
{
    QByteArray head(6, '\0');
    qToLittleEndian<quint16>(quint16(version), head.data());
    qToLittleEndian<quint32>(quint32(size), head.data() + 2);
    return hidsim::frame1(FMT1_UPDATE_HEAD, 0, 0, head);
}

QList<QByteArray> framesOf(const hidsim::MeterId& id, quint8 code)
{
    QList<QByteArray> frames;
    for (const QByteArray& f : hidsim::framesWritten(id))
        if (quint8(f.at(0)) == code)
            frames << f;
    return frames;
}

} // namespace

class tst_Firmware : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void identityTexts_data();
    void identityTexts();
    void languageChange();
    void chooseFile_data();
    void chooseFile();
    void startChecks_data();
    void startChecks();
    void unreadableFileSendsNothing_data();
    void unreadableFileSendsNothing();
    void updateRuns_data();
    void updateRuns();
    void elapsedTime_data();
    void elapsedTime();
    void acknowledgementsDriveFrames();
    void meterRemoved_data();
    void meterRemoved();
    void systemTabAfterUpdate();

private:
    // Plugs the meter, builds the page inside the arrival signal as the device
    // window does, and waits for the meter's identity.
    usbSystem* open(const hidsim::MeterConfig& config);
    QString writeFile(const QString& name, const QByteArray& bytes);
    void switchLanguage(QTranslator* to);
    static QStringList log(usbSystem* page)
    {
        return part<QTextBrowser>(page, "textBrowser")->toPlainText().split(QLatin1Char('\n'));
    }

    QTemporaryDir dir;
    std::unique_ptr<QWidget> host;
    QTranslator german;
};

void tst_Firmware::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(german.load(QStringLiteral(":/ts/Translation_GE.qm")));
}

void tst_Firmware::cleanup()
{
    host.reset(); // pages go before their connections
    UsbEvent::resetInstance();
    hidsim::reset();
    switchLanguage(nullptr);
    QFile::remove(QStringLiteral("Setting.ini"));
}

usbSystem* tst_Firmware::open(const hidsim::MeterConfig& config)
{
    host = std::make_unique<QWidget>();
    hidsim::plug(config);
    usbSystem* page = nullptr;
    UsbEvent* registry = UsbEvent::instance().data();
    QWidget* parent = host.get();
    const auto c = connect(registry, &UsbEvent::hidDevArrival, [&page, parent](int) { page = new usbSystem(parent); });
    registry->hidDevArrivalSlot();
    disconnect(c);
    if (page) {
        page->comLayer->getDeviceMessage(); // rather than waiting for the 1 s timer
        (void)QTest::qWaitFor([page]() { return page->comLayer->isSignIn; }, 5000); // callers check
    }
    return page;
}

QString tst_Firmware::writeFile(const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(name));
    return f.fileName();
}

void tst_Firmware::switchLanguage(QTranslator* to)
{
    QCoreApplication::removeTranslator(&german);
    if (to)
        QCoreApplication::installTranslator(to);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
}

// ---------------------------------------------------------------------------

void tst_Firmware::identityTexts_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("bootVersion");
    QTest::addColumn<int>("appVersion");
    QTest::addColumn<uint>("sn");
    QTest::addColumn<QStringList>("expected"); // model, run mode, boot, app, SN

    QTest::newRow("named model") << 2 << 0x0100 << 0x0102 << 105 << 1234u
                                 << QStringList { "KD-VX350", "Application", "V1.02", "V1.05", "001234 " };
    QTest::newRow("unknown model") << 1 << 0x0200 << 0x0215 << 2003 << 0u
                                   << QStringList { "Unknown", "Bootloader", "V2.15", "V20.03", "000000 " };
    QTest::newRow("no mode") << 0 << 0 << 0 << 0 << 999999u
                             << QStringList { "Unknown", "Unknown", "V0.00", "V0.00", "999999 " };
    QTest::newRow("mode out of range, widest values")
        << 7 << 0x00FF << 0xFF99 << 65535 << 4294967295u
        << QStringList { "Unknown", "Unknown", "V255.99", "V655.35", "4294967295 " };
}

void tst_Firmware::identityTexts()
{
    QFETCH(int, runMode);
    QFETCH(int, model);
    QFETCH(int, bootVersion);
    QFETCH(int, appVersion);
    QFETCH(uint, sn);
    QFETCH(QStringList, expected);

    usbSystem page; // no meter: the slot alone
    DEV_MSG_T msg {};
    msg.runMode = quint8(runMode);
    msg.model = quint16(model);
    msg.bootVersion = quint16(bootVersion);
    msg.appVersion = quint16(appVersion);
    msg.sn = sn;
    page.updateDevMsgSlot(nullptr, msg);
    const QStringList shown { label(&page, "labModel"), label(&page, "labRunMode"), label(&page, "labBootVer"),
        label(&page, "labAppVer"), label(&page, "labSN") };
    QCOMPARE(shown, expected);
}

void tst_Firmware::languageChange()
{
    hidsim::MeterConfig config = bootloader(QStringLiteral("LANG1"));
    config.identity.sn = 4321;
    usbSystem* page = open(config);
    QVERIFY(page && page->comLayer->isSignIn);
    QCOMPARE(label(page, "labRunMode"), QStringLiteral("Bootloader"));
    page->aFileName = writeFile(QStringLiteral("FW_V1.00.uqz"), QByteArray());
    part<QLineEdit>(page, "lineEdit")->setText(page->aFileName);

    switchLanguage(&german);
    QCOMPARE(label(page, "label"), QStringLiteral("Modell:"));
    // The form's "Unknown" is refilled from the meter's identity; a format-1
    // meter's 8-bit model code is not in the model map.
    QCOMPARE(label(page, "labModel"), QStringLiteral("Unbekannt"));
    QCOMPARE(label(page, "labRunMode"), QStringLiteral("Bootloader"));
    QCOMPARE(label(page, "labSN"), QStringLiteral("004321 "));
    QCOMPARE(part<QLineEdit>(page, "lineEdit")->text(), QString());
    QCOMPARE(part<QPushButton>(page, "btnUpdate")->toolTip(), QStringLiteral("Hochladen"));

    // The chosen (empty) file stays in effect and is refused in German.
    auto seen = answerMessageBox(QMessageBox::Ok);
    part<QPushButton>(page, "btnUpdate")->click();
    QCOMPARE(seen->title, QStringLiteral("Warnung"));
    QCOMPARE(seen->text, QStringLiteral("Ungültige Firmware-Datei."));
}

void tst_Firmware::chooseFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("sizeLine");
    QTest::newRow("1000 bytes") << 1000 << "Firmware size: 1 KB";
    QTest::newRow("1536 bytes, half rounds up") << 1536 << "Firmware size: 2 KB";
    QTest::newRow("511 bytes") << 511 << "Firmware size: 0 KB";
}

void tst_Firmware::chooseFile()
{
    QFETCH(int, size);
    QFETCH(QString, sizeLine);
    host = std::make_unique<QWidget>();
    auto* page = new usbSystem(host.get());
    const QString path = writeFile(QStringLiteral("FW_V1.00.uqz"), firmwareBytes(size));

    auto seen = answerFileDialog(path);
    part<QPushButton>(page, "btnOpen")->click();
    QCOMPARE(seen->title, QStringLiteral("Open file"));
    QCOMPARE(page->aFileName, path);
    QCOMPARE(part<QLineEdit>(page, "lineEdit")->text(), path);
    QCOMPARE(QSettings(QStringLiteral("./Setting.ini"), QSettings::IniFormat).value("LastFirmwareFilePath").toString(),
        path);
    const QStringList lines = log(page);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].endsWith(QStringLiteral("] Firmware name: FW_V1.00.uqz")), qPrintable(lines[0]));
    QVERIFY2(lines[1].endsWith("] " + sizeLine), qPrintable(lines[1]));
    QVERIFY(QRegularExpression(QStringLiteral("^\\[\\d{4}/\\d\\d/\\d\\d - \\d\\d:\\d\\d:\\d\\d\\] "))
                .match(lines[0])
                .hasMatch());

    // The next dialog starts at the last file; cancelling keeps the choice.
    QString startDir;
    answerNextModal([&startDir](QWidget* d) {
        startDir = static_cast<QFileDialog*>(d)->directory().absolutePath();
        static_cast<QDialog*>(d)->reject();
    });
    part<QPushButton>(page, "btnOpen")->click();
    QCOMPARE(startDir, dir.path());
    QCOMPARE(page->aFileName, path);
    QCOMPARE(log(page).size(), 2);
}

void tst_Firmware::startChecks_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<QString>("fileName"); // empty: none chosen
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("warning"); // empty: the update starts
    QTest::addColumn<int>("version");

    const QString nameError = QStringLiteral("Firmware name error.");
    const QString invalid = QStringLiteral("Invalid firmware file.");
    QTest::newRow("application mode") << 2 << "FW_V1.10.uqz" << 120 << "Please switch to bootloader mode." << 0;
    QTest::newRow("no file chosen") << 1 << "" << 0 << "Please choose a firmware." << 0;
    QTest::newRow("no V, not a number") << 1 << "FIRMWARE.uqz" << 120 << nameError << 0;
    QTest::newRow("V then junk") << 1 << "FW_V1X.uqz" << 120 << nameError << 0;
    QTest::newRow("version beyond 16 bits") << 1 << "FW_V700.uqz" << 120 << nameError << 0;
    QTest::newRow("empty file") << 1 << "FW_V1.00.uqz" << 0 << invalid << 0;
    QTest::newRow("65536 frames") << 1 << "FW_V1.00.uqz" << 65535 * 58 + 1 << invalid << 0;
    QTest::newRow("65535 frames") << 1 << "FW_V1.00.uqz" << 65535 * 58 << "" << 100;
    QTest::newRow("X_V1.23") << 1 << "X_V1.23.uqz" << 120 << "" << 123;
    QTest::newRow("lower-case v") << 1 << "X_v2.5.uqz" << 120 << "" << 250;
    QTest::newRow("no V, a number") << 1 << "1.07.uqz" << 120 << "" << 107;
    QTest::newRow("last V counts") << 1 << "V9_V1.5.uqz" << 120 << "" << 150;
}

void tst_Firmware::startChecks()
{
    QFETCH(int, runMode);
    QFETCH(QString, fileName);
    QFETCH(int, size);
    QFETCH(QString, warning);
    QFETCH(int, version);

    const hidsim::MeterConfig config = bootloader(QStringLiteral("CHK1"), quint8(runMode));
    usbSystem* page = open(config);
    QVERIFY(page && page->comLayer->isSignIn);
    if (!fileName.isEmpty())
        page->aFileName = writeFile(fileName, firmwareBytes(size));

    auto seen = warning.isEmpty() ? std::shared_ptr<ModalSeen>() : answerMessageBox(QMessageBox::Ok);
    part<QPushButton>(page, "btnUpdate")->click();
    if (seen) {
        QCOMPARE(seen->title, QStringLiteral("WARNING"));
        QCOMPARE(seen->text, warning);
        // Nothing queued, nothing sent, still idle.
        QCOMPARE(page->comLayer->send->pending(), 0);
        QCOMPARE(framesOf(config.id, FMT1_UPDATE_HEAD).size(), 0);
        QVERIFY(!page->fileStream);
        QVERIFY(part<QPushButton>(page, "btnUpdate")->isEnabled());
        return;
    }
    QVERIFY(!part<QPushButton>(page, "btnUpdate")->isEnabled());
    QTRY_COMPARE(framesOf(config.id, FMT1_UPDATE_HEAD).size(), 1);
    QCOMPARE(framesOf(config.id, FMT1_UPDATE_HEAD).first(), headFrame(version, size));
    QVERIFY(log(page).last().endsWith(QStringLiteral("] Start upgrade.")));
}

void tst_Firmware::unreadableFileSendsNothing_data()
{
    QTest::addColumn<QString>("target"); // what the chosen name links to; empty: nothing
    QTest::newRow("file gone") << QString();
    // A sysfs attribute claims 4096 bytes and yields a few, like a file that shrank.
    QTest::newRow("shorter than its size") << "/sys/devices/system/cpu/online";
}

void tst_Firmware::unreadableFileSendsNothing()
{
    QFETCH(QString, target);
    QFile probe(target);
    if (!target.isEmpty() && !(probe.open(QIODevice::ReadOnly) && probe.readAll().size() < probe.size()))
        QSKIP("no sysfs attribute to read short");

    usbSystem* page = open(bootloader(QStringLiteral("READ1")));
    QVERIFY(page && page->comLayer->isSignIn);
    QTemporaryDir links; // its own, so no later test writes through the link
    page->aFileName = links.filePath(QStringLiteral("FW_V1.00.uqz"));
    if (!target.isEmpty())
        QVERIFY(QFile::link(target, page->aFileName));

    auto seen = answerNextModal([](QWidget* d) { d->close(); }, 100);
    part<QPushButton>(page, "btnUpdate")->click();
    QVERIFY(!seen->seen);
    QCOMPARE(page->comLayer->send->pending(), 0);
    QVERIFY(!page->fileStream);
    QVERIFY(part<QPushButton>(page, "btnUpdate")->isEnabled());
    QCOMPARE(part<QTextBrowser>(page, "textBrowser")->toPlainText(), QString());
    QTest::qWait(150); // the responder expires before the next test
}

void tst_Firmware::updateRuns_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("progress"); // empty: not checked

    QTest::newRow("120 bytes: 58, 58, 4") << 120 << QList<int> { 33, 66, 100 };
    QTest::newRow("116 bytes: 58, 58") << 116 << QList<int> { 50, 100 };
    QTest::newRow("59 bytes: 58, 1") << 59 << QList<int> { 50, 100 };
    QTest::newRow("1 byte") << 1 << QList<int> { 100 };
    QTest::newRow("51 frames: ids 49, 0, 1") << 50 * 58 + 1 << QList<int>();
    QTest::newRow("200 KB") << 200 * 1024 << QList<int>();
}

void tst_Firmware::updateRuns()
{
    QFETCH(int, size);
    QFETCH(QList<int>, progress);

    const hidsim::MeterConfig config = bootloader(QStringLiteral("RUN1"));
    usbSystem* page = open(config);
    QVERIFY(page && page->comLayer->isSignIn);
    const QByteArray firmware = firmwareBytes(size);
    page->aFileName = writeFile(QStringLiteral("FW_V1.10.uqz"), firmware);
    QSignalSpy bar(part<QProgressBar>(page, "barUpdate"), &QProgressBar::valueChanged);

    part<QPushButton>(page, "btnUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(page, "btnUpdate")->isEnabled(), 300000);

    QCOMPARE(hidsim::receivedFirmware(config.id), firmware);
    // On the wire after the identity requests: the head, then frame k with id k mod 50.
    QList<QByteArray> expected { headFrame(110, size) };
    for (int k = 1; k <= (size + 57) / 58; ++k)
        expected << hidsim::frame1(FMT1_UPDATE_DATA, quint8(k % 50), quint16(k), firmware.mid((k - 1) * 58, 58));
    QList<QByteArray> sent = hidsim::framesWritten(config.id);
    sent.erase(
        std::remove_if(sent.begin(), sent.end(), [](const QByteArray& f) { return f.at(0) == FMT1_GET_DEV_MSG; }),
        sent.end());
    QCOMPARE(sent.size(), expected.size());
    for (int i = 0; i < sent.size(); ++i)
        if (sent[i] != expected[i])
            QFAIL(qPrintable(QStringLiteral("frame %1 differs").arg(i)));
    if (!progress.isEmpty()) {
        QList<int> shown;
        for (const QList<QVariant>& args : bar)
            shown << args.at(0).toInt();
        QCOMPARE(shown, progress);
    }
    QCOMPARE(part<QProgressBar>(page, "barUpdate")->value(), 100);
    QVERIFY(!page->fileStream);
    QVERIFY2(QRegularExpression(QStringLiteral("\\] Update completed,Elapsed time \\d+s\\.$"))
                 .match(log(page).last())
                 .hasMatch(),
        qPrintable(log(page).last()));
}

void tst_Firmware::elapsedTime_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QDateTime>("end");
    QTest::addColumn<QString>("startLine");
    QTest::addColumn<QString>("endLine");

    const QDate d(2023, 12, 31);
    QTest::newRow("across midnight") << QDateTime(d, QTime(23, 59, 50)) << QDateTime(d.addDays(1), QTime(0, 0, 20))
                                     << "[2023/12/31 - 23:59:50] Start upgrade."
                                     << "[2024/01/01 - 00:00:20] Update completed,Elapsed time 30s.";
    QTest::newRow("whole seconds only") << QDateTime(d, QTime(9, 0, 0, 500)) << QDateTime(d, QTime(9, 1, 6, 499))
                                        << "[2023/12/31 - 09:00:00] Start upgrade."
                                        << "[2023/12/31 - 09:01:06] Update completed,Elapsed time 65s.";
}

void tst_Firmware::elapsedTime()
{
    QFETCH(QDateTime, start);
    QFETCH(QDateTime, end);
    QFETCH(QString, startLine);
    QFETCH(QString, endLine);

    usbSystem* page = open(bootloader(QStringLiteral("CLK1")));
    QVERIFY(page && page->comLayer->isSignIn);
    page->aFileName = writeFile(QStringLiteral("FW_V1.00.uqz"), firmwareBytes(10));
    int calls = 0;
    page->now = [&calls, start, end]() { return calls++ == 0 ? start : end; };

    part<QPushButton>(page, "btnUpdate")->click();
    QTRY_VERIFY(part<QPushButton>(page, "btnUpdate")->isEnabled());
    QCOMPARE(log(page), QStringList({ startLine, endLine }));
}

void tst_Firmware::acknowledgementsDriveFrames()
{
    const hidsim::MeterConfig config = bootloader(QStringLiteral("ACK1"));
    usbSystem* page = open(config);
    QVERIFY(page && page->comLayer->isSignIn);
    Com_Layer* com = page->comLayer;

    // Idle: acknowledgements send and log nothing.
    emit com->updateHeadAck();
    emit com->updateDataAck();
    emit com->updateEndAck();
    QCOMPARE(com->send->pending(), 0);
    QCOMPARE(part<QTextBrowser>(page, "textBrowser")->toPlainText(), QString());

    // A meter that stops answering, or answers with an error, leaves the page running.
    hidsim::dropReplies(config.id, 1000);
    const QByteArray firmware = firmwareBytes(59);
    page->aFileName = writeFile(QStringLiteral("FW_V1.00.uqz"), firmware);
    part<QPushButton>(page, "btnUpdate")->click();
    QTRY_COMPARE(framesOf(config.id, FMT1_UPDATE_HEAD).size(), 1);
    hidsim::injectReport(config.id, hidsim::frame1(FMT1_CRC_ERROR, 0, 0));
    hidsim::injectReport(config.id, hidsim::frame1(FMT1_INVALID_DATA, 0, 0));
    QTest::qWait(100); // nothing should happen; let the reports arrive
    QVERIFY(!part<QPushButton>(page, "btnUpdate")->isEnabled());
    QCOMPARE(framesOf(config.id, FMT1_UPDATE_DATA).size(), 0);

    // Each acknowledgement sends one frame; past the last one it repeats with the next id.
    emit com->updateHeadAck();
    emit com->updateDataAck();
    emit com->updateDataAck();
    const QList<QByteArray> expected { hidsim::frame1(FMT1_UPDATE_DATA, 1, 1, firmware.left(58)),
        hidsim::frame1(FMT1_UPDATE_DATA, 2, 2, firmware.mid(58)),
        hidsim::frame1(FMT1_UPDATE_DATA, 3, 2, firmware.mid(58)) };
    QTRY_COMPARE(framesOf(config.id, FMT1_UPDATE_DATA), expected);
    QVERIFY(!part<QPushButton>(page, "btnUpdate")->isEnabled());
    emit com->updateEndAck();
    QVERIFY(part<QPushButton>(page, "btnUpdate")->isEnabled());
    emit com->updateDataAck();
    QCOMPARE(com->send->pending(), 0);
}

void tst_Firmware::meterRemoved_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("during an update") << "update";
    QTest::newRow("while a warning shows") << "warning";
    QTest::newRow("while the file dialog shows") << "dialog";
}

void tst_Firmware::meterRemoved()
{
    QFETCH(QString, when);
    const hidsim::MeterConfig config = bootloader(QStringLiteral("GONE1"), when == "warning" ? 2 : 1);
    QPointer<usbSystem> page(open(config));
    QVERIFY(page && page->comLayer->isSignIn);
    UsbEvent* registry = UsbEvent::instance().data();
    // As the main window does: the page goes inside the removal signal.
    connect(registry, &UsbEvent::hidDevDisconnected, host.get(), [page](int) { delete page.data(); });
    const auto unplug = [config]() {
        hidsim::unplug(config.id);
        UsbEvent::instance()->hidDevRemoveSlot();
    };

    if (when == "update") {
        page->aFileName = writeFile(QStringLiteral("FW_V1.00.uqz"), firmwareBytes(64 * 1024));
        part<QPushButton>(page, "btnUpdate")->click();
        QTRY_VERIFY(hidsim::receivedFirmware(config.id).size() >= 5 * 58);
        unplug();
    } else {
        auto seen = answerNextModal([unplug](QWidget*) { unplug(); });
        (when == "warning" ? part<QPushButton>(page, "btnUpdate") : part<QPushButton>(page, "btnOpen"))->click();
        QVERIFY(seen->seen);
    }
    QVERIFY(page.isNull());
    QCOMPARE(int(registry->getDeviceCount()), 0);
    QVERIFY(!QApplication::activeModalWidget());
    QTest::qWait(50); // stray acknowledgements, if any, would arrive now
}

void tst_Firmware::systemTabAfterUpdate()
{
    hidsim::MeterConfig config = bootloader(QStringLiteral("SHOT1"));
    config.identity.sn = 5024;
    config.identity.bootVersion = 0x0215;
    config.identity.appVersion = 2003;
    hidsim::plug(config);
    host = std::make_unique<QWidget>();
    host->resize(1015, 737);
    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly));
    host->setStyleSheet(QString::fromUtf8(qss.readAll())); // as the main window sets it
    auto* layout = new QVBoxLayout(host.get());
    layout->setContentsMargins(0, 0, 0, 0);

    UsbWindow* window = nullptr;
    UsbEvent* registry = UsbEvent::instance().data();
    connect(
        registry, &UsbEvent::hidDevArrival, host.get(), [&window, this](int) { window = new UsbWindow(host.get()); });
    registry->hidDevArrivalSlot();
    QVERIFY(window);
    layout->addWidget(window);
    auto* page = qobject_cast<usbSystem*>(window->findChild<QWidget*>(QStringLiteral("usbSysWidget")));
    QVERIFY(page);
    window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(2);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));
    page->comLayer->getDeviceMessage();
    QTRY_COMPARE(label(page, "labRunMode"), QStringLiteral("Bootloader"));

    const QString path = writeFile(QStringLiteral("KD-VX350_V2.04.uqz"), firmwareBytes(12 * 1024));
    answerFileDialog(path);
    part<QPushButton>(page, "btnOpen")->click();
    part<QPushButton>(page, "btnUpdate")->click();
    QTRY_VERIFY(part<QPushButton>(page, "btnUpdate")->isEnabled());
    QCOMPARE(log(page).size(), 4);

    const QString out = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
    QVERIFY(host->grab().save(out + QStringLiteral("/usbsystem.png")));
}

QTEST_MAIN(tst_Firmware)
#include "tst_firmware.moc"
