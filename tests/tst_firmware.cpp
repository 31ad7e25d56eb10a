// The System page: identity texts, choosing a firmware file, the checks before
// an update, updates run against the simulated bootloader (frames, packet ids,
// progress, elapsed time), a meter removed mid-way, and the page in its tab.

#include "com_layer.h"
#include "hidsim.h"
#include "knownmeters.h"
#include "modalresponder.h"
#include "openonarrival.h"
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
template <class T = QLabel> T* part(QWidget* page, const char* name)
{
    T* found = page->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("form has no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

QStringList log(QWidget* page)
{
    return part<QTextBrowser>(page, "textBrowser")->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray headFrame(int version, int size)
{
    QByteArray head(6, '\0');
    qToLittleEndian<quint16>(quint16(version), head.data());
    qToLittleEndian<quint32>(quint32(size), head.data() + 2);
    return hidsim::frame1(FMT1_UPDATE_HEAD, 0, 0, head);
}

// The frames of the update on the wire, the identity requests left out.
QList<QByteArray> updateFrames(const hidsim::MeterId& id)
{
    QList<QByteArray> frames = hidsim::framesWritten(id);
    frames.erase(
        std::remove_if(frames.begin(), frames.end(), [](const QByteArray& f) { return f[0] == 0x26; }), frames.end());
    return frames;
}

QByteArray dataFrame(int k, const QByteArray& firmware, int id)
{
    return hidsim::frame1(FMT1_UPDATE_DATA, quint8(id), quint16(k), firmware.mid((k - 1) * 58, 58));
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
    // window does, and asks for the meter's identity.
    usbSystem* open(const hidsim::MeterConfig& config);
    QString writeFile(const QString& name, const QByteArray& bytes);

    QTemporaryDir dir;
    std::unique_ptr<QWidget> host;
    QTranslator german;
};

void tst_Firmware::initTestCase()
{
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(german.load(QStringLiteral(":/ts/Translation_GE.qm")));
}

void tst_Firmware::cleanup()
{
    host.reset(); // pages go before their connections
    UsbEvent::resetInstance();
    hidsim::reset();
    if (QCoreApplication::removeTranslator(&german))
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QFile::remove(QStringLiteral("Setting.ini"));
}

usbSystem* tst_Firmware::open(const hidsim::MeterConfig& config)
{
    host = std::make_unique<QWidget>();
    hidsim::plug(config);
    usbSystem* page = openOnArrival<usbSystem>(host.get());
    if (page) {
        page->comLayer->getDeviceMessage(); // rather than waiting for the 1 s timer
        (void)QTest::qWaitFor([page]() { return page->comLayer->isSignIn; }, 5000); // callers check
    }
    return page;
}

QString tst_Firmware::writeFile(const QString& name, const QByteArray& bytes)
{
    QFile f(QDir(dir.path()).filePath(name)); // an absolute name stays as it is
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(name));
    return f.fileName();
}

// ---------------------------------------------------------------------------

void tst_Firmware::identityTexts_data()
{
    QTest::addColumn<QVector<uint>>("msg"); // runMode, model, bootVersion, appVersion, sn
    QTest::addColumn<QStringList>("shown"); // model, run mode, boot, app, SN

    QTest::newRow("named model") << QVector<uint> { 2, 0x0100, 0x0102, 105, 1234 }
                                 << QStringList { "KD-VX350", "Application", "V1.02", "V1.05", "001234 " };
    QTest::newRow("unknown model") << QVector<uint> { 1, 0x0200, 0x0215, 2003, 0 }
                                   << QStringList { "Unknown", "Bootloader", "V2.15", "V20.03", "000000 " };
    QTest::newRow("mode out of range, widest values") << QVector<uint> { 7, 0xFF, 0xFF99, 65535,
        4294967295u } << QStringList { "Unknown", "Unknown", "V255.99", "V655.35", "4294967295 " };
}

void tst_Firmware::identityTexts()
{
    QFETCH(QVector<uint>, msg);
    QFETCH(QStringList, shown);
    usbSystem page; // no meter: the slot alone
    page.updateDevMsgSlot(
        nullptr, DEV_MSG_T { quint8(msg[0]), 0, quint16(msg[2]), quint16(msg[1]), quint16(msg[3]), msg[4], 0 });
    const QStringList texts { part(&page, "labModel")->text(), part(&page, "labRunMode")->text(),
        part(&page, "labBootVer")->text(), part(&page, "labAppVer")->text(), part(&page, "labSN")->text() };
    QCOMPARE(texts, shown);
}

void tst_Firmware::languageChange()
{
    hidsim::MeterConfig config = bootloader(QStringLiteral("LANG1"));
    config.identity.sn = 4321;
    usbSystem* page = open(config);
    QTRY_COMPARE(part(page, "labRunMode")->text(), QStringLiteral("Bootloader"));
    page->aFileName = writeFile(QStringLiteral("FW_V1.00.uqz"), QByteArray());
    part<QLineEdit>(page, "lineEdit")->setText(page->aFileName);

    QCoreApplication::installTranslator(&german);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    // The form's "Unknown" comes back and is refilled from the meter's identity
    // (a format-1 meter's 8-bit model code is not in the model map).
    QCOMPARE(part(page, "label")->text(), QStringLiteral("Modell:"));
    QCOMPARE(part(page, "labModel")->text(), QStringLiteral("Unbekannt"));
    QCOMPARE(part(page, "labRunMode")->text(), QStringLiteral("Bootloader"));
    QCOMPARE(part(page, "labSN")->text(), QStringLiteral("004321 "));
    QCOMPARE(part<QLineEdit>(page, "lineEdit")->text(), QString());

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
    QCOMPARE(part<QLineEdit>(page, "lineEdit")->text(), path);
    QCOMPARE(QSettings("Setting.ini", QSettings::IniFormat).value("LastFirmwareFilePath").toString(), path);
    const QRegularExpression stamp(QStringLiteral("^\\[\\d{4}/\\d\\d/\\d\\d - \\d\\d:\\d\\d:\\d\\d\\] "));
    QCOMPARE(log(page).replaceInStrings(stamp, QString()), QStringList({ "Firmware name: FW_V1.00.uqz", sizeLine }));

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
    QTest::addColumn<int>("size"); // -1: no such file
    QTest::addColumn<QString>("linkTo"); // the file is a link to this
    QTest::addColumn<QString>("warning"); // empty: the update starts; "-": stops silently
    QTest::addColumn<int>("version");

    const QString fw = QStringLiteral("FW_V1.00.uqz");
    const QString nameError = QStringLiteral("Firmware name error.");
    const QString invalid = QStringLiteral("Invalid firmware file.");
    QTest::newRow("application mode") << 2 << fw << 120 << ""
                                      << "Please switch to bootloader mode." << 0;
    QTest::newRow("no file chosen") << 1 << "" << -1 << ""
                                    << "Please choose a firmware." << 0;
    QTest::newRow("no V, not a number") << 1 << "FIRMWARE.uqz" << 120 << "" << nameError << 0;
    QTest::newRow("V then junk") << 1 << "FW_V1X.uqz" << 120 << "" << nameError << 0;
    QTest::newRow("version beyond 16 bits") << 1 << "FW_V700.uqz" << 120 << "" << nameError << 0;
    QTest::newRow("empty file") << 1 << fw << 0 << "" << invalid << 0;
    QTest::newRow("65536 frames") << 1 << fw << 65535 * 58 + 1 << "" << invalid << 0;
    QTest::newRow("file gone") << 1 << fw << -1 << ""
                               << "-" << 0;
    // A sysfs attribute claims 4096 bytes and yields a few, like a file that shrank.
    QTest::newRow("reads short") << 1 << fw << -1 << "/sys/devices/system/cpu/online"
                                 << "-" << 0;
    QTest::newRow("65535 frames") << 1 << fw << 65535 * 58 << ""
                                  << "" << 100;
    QTest::newRow("X_V1.23") << 1 << "X_V1.23.uqz" << 120 << ""
                             << "" << 123;
    QTest::newRow("lower-case v") << 1 << "X_v2.5.uqz" << 120 << ""
                                  << "" << 250;
    QTest::newRow("no V, a number") << 1 << "1.07.uqz" << 120 << ""
                                    << "" << 107;
    QTest::newRow("last V counts") << 1 << "V9_V1.5.uqz" << 120 << ""
                                   << "" << 150;
}

void tst_Firmware::startChecks()
{
    QFETCH(int, runMode);
    QFETCH(QString, fileName);
    QFETCH(int, size);
    QFETCH(QString, linkTo);
    QFETCH(QString, warning);
    QFETCH(int, version);

    const hidsim::MeterConfig config = bootloader(QStringLiteral("CHK1"), quint8(runMode));
    usbSystem* page = open(config);
    QVERIFY(page && page->comLayer->isSignIn);
    QTemporaryDir files; // its own, so no later test writes through a link
    if (!fileName.isEmpty())
        page->aFileName = files.filePath(fileName);
    if (size >= 0)
        writeFile(page->aFileName, firmwareBytes(size));
    if (!linkTo.isEmpty() && !QFile::link(linkTo, page->aFileName))
        QSKIP("no sysfs attribute to link to");

    auto seen = answerNextModal([](QWidget* box) { box->close(); }, 200);
    part<QPushButton>(page, "btnUpdate")->click();
    if (!warning.isEmpty()) {
        QCOMPARE(seen->seen, warning != "-");
        QCOMPARE(seen->title, warning == "-" ? QString() : QStringLiteral("WARNING"));
        QCOMPARE(seen->text, warning == "-" ? QString() : warning);
        QCOMPARE(page->comLayer->send->pending(), 0); // nothing queued
        QVERIFY(updateFrames(config.id).isEmpty());
        QVERIFY(!page->fileStream);
        QVERIFY(part<QPushButton>(page, "btnUpdate")->isEnabled());
        QVERIFY(log(page).isEmpty());
        QTest::qWait(250); // the responder expires before the next row
        return;
    }
    QVERIFY(!part<QPushButton>(page, "btnUpdate")->isEnabled());
    QTRY_VERIFY(!updateFrames(config.id).isEmpty());
    QCOMPARE(updateFrames(config.id).first(), headFrame(version, size));
    // A small file may already be through by now, so the line need not be the last.
    QVERIFY(!log(page).filter(QRegularExpression(QStringLiteral("\\] Start upgrade\\.$"))).isEmpty());
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
    // The head, then frame k with packet id k mod 50.
    QList<QByteArray> expected { headFrame(110, size) };
    for (int k = 1; k <= (size + 57) / 58; ++k)
        expected << dataFrame(k, firmware, k % 50);
    const QList<QByteArray> sent = updateFrames(config.id);
    QCOMPARE(sent.size(), expected.size());
    for (int i = 0; i < sent.size(); ++i)
        if (sent[i] != expected[i])
            QFAIL(qPrintable(QStringLiteral("frame %1 differs").arg(i)));
    QList<int> shown;
    for (const QList<QVariant>& args : bar)
        shown << args.at(0).toInt();
    if (!progress.isEmpty())
        QCOMPARE(shown, progress);
    QCOMPARE(shown.last(), 100);
    QVERIFY(!page->fileStream);
    QVERIFY2(log(page).last().contains(QRegularExpression("\\] Update completed,Elapsed time \\d+s\\.$")),
        qPrintable(log(page).last()));
}

void tst_Firmware::elapsedTime_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QDateTime>("end");
    QTest::addColumn<QStringList>("lines");

    const QDate d(2023, 12, 31);
    QTest::newRow("across midnight") << QDateTime(d, QTime(23, 59, 50)) << QDateTime(d.addDays(1), QTime(0, 0, 20))
                                     << QStringList { "[2023/12/31 - 23:59:50] Start upgrade.",
                                            "[2024/01/01 - 00:00:20] Update completed,Elapsed time 30s." };
    QTest::newRow("whole seconds") << QDateTime(d, QTime(9, 0, 0, 500)) << QDateTime(d, QTime(9, 1, 6, 499))
                                   << QStringList { "[2023/12/31 - 09:00:00] Start upgrade.",
                                          "[2023/12/31 - 09:01:06] Update completed,Elapsed time 65s." };
}

void tst_Firmware::elapsedTime()
{
    QFETCH(QDateTime, start);
    QFETCH(QDateTime, end);
    QFETCH(QStringList, lines);

    usbSystem* page = open(bootloader(QStringLiteral("CLK1")));
    QVERIFY(page && page->comLayer->isSignIn);
    page->aFileName = writeFile(QStringLiteral("FW_V1.00.uqz"), firmwareBytes(10));
    int calls = 0;
    page->now = [&calls, start, end]() { return calls++ == 0 ? start : end; };
    part<QPushButton>(page, "btnUpdate")->click();
    QTRY_VERIFY(part<QPushButton>(page, "btnUpdate")->isEnabled());
    QCOMPARE(log(page), lines);
}

void tst_Firmware::acknowledgementsDriveFrames()
{
    const hidsim::MeterConfig config = bootloader(QStringLiteral("ACK1"));
    usbSystem* page = open(config);
    QVERIFY(page && page->comLayer->isSignIn);
    Com_Layer* com = page->comLayer;
    const auto acks = [com](QList<void (Com_Layer::*)()> list) {
        for (auto s : list)
            emit(com->*s)();
    };

    // Idle: acknowledgements send and log nothing.
    acks({ &Com_Layer::updateHeadAck, &Com_Layer::updateDataAck, &Com_Layer::updateEndAck });
    QCOMPARE(com->send->pending(), 0);
    QVERIFY(log(page).isEmpty());

    // A meter that stops answering leaves the page running; each acknowledgement
    // sends one frame, and past the last one repeats it with the next id.
    hidsim::dropReplies(config.id, 1000);
    const QByteArray firmware = firmwareBytes(59);
    page->aFileName = writeFile(QStringLiteral("FW_V1.00.uqz"), firmware);
    part<QPushButton>(page, "btnUpdate")->click();
    acks({ &Com_Layer::updateHeadAck, &Com_Layer::updateDataAck, &Com_Layer::updateDataAck });
    QTRY_COMPARE(updateFrames(config.id),
        QList<QByteArray>(
            { headFrame(100, 59), dataFrame(1, firmware, 1), dataFrame(2, firmware, 2), dataFrame(2, firmware, 3) }));
    QVERIFY(!part<QPushButton>(page, "btnUpdate")->isEnabled());
    acks({ &Com_Layer::updateEndAck, &Com_Layer::updateDataAck });
    QVERIFY(part<QPushButton>(page, "btnUpdate")->isEnabled());
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
        part<QPushButton>(page, when == "warning" ? "btnUpdate" : "btnOpen")->click();
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
    config.identity = { 1, 0x0215, 0x0100, 2003, 5024, 0 };
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
    part<QTabWidget>(window, "tabWidget")->setCurrentIndex(2);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));
    page->comLayer->getDeviceMessage();
    QTRY_COMPARE(part(page, "labRunMode")->text(), QStringLiteral("Bootloader"));

    answerFileDialog(writeFile(QStringLiteral("KD-VX350_V2.04.uqz"), firmwareBytes(12 * 1024)));
    part<QPushButton>(page, "btnOpen")->click();
    part<QPushButton>(page, "btnUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(page, "btnUpdate")->isEnabled(), 60000); // about 15 ms a frame
    QCOMPARE(log(page).size(), 4);

    const QString out = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
    QVERIFY(host->grab().save(out + QStringLiteral("/usbsystem.png")));
}

QTEST_MAIN(tst_Firmware)
#include "tst_firmware.moc"
