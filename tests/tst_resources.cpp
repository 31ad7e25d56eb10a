// The compiled-in resources: every picture, the alarm tone, the style sheet and
// the two translation catalogues, looked up the way the program looks them up.

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtEndian>

namespace {

QStringList capturedWarnings;

void captureWarnings(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        capturedWarnings << msg;
}

QByteArray readResource(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void pictures_data();
    void pictures();
    void alarmTone();
    void styleSheetImagesExist();
    void styleSheetApplies();
    void germanCatalogue_data();
    void germanCatalogue();
    void germanThroughApplication();
    void englishCatalogue_data();
    void englishCatalogue();
};

void TestResources::pictures_data()
{
    QTest::addColumn<QString>("path");
    // Every picture the program names, in the forms, style sheets and code.
    const char* names[] = { "1c-24", "2c-24", "add-64", "add2-30", "add2-30_disable", "alarm-50", "checkBox2-144",
        "checkBox2-no-40", "checkBox3-144", "checkBox3-no-40", "clear-16", "create-order-40", "database-export-64",
        "database-import-64", "delete-30", "delete-30_disable", "delete-80", "down-52", "down_arrow-100", "impd-24",
        "logo", "logo128x128", "noAlarm-64", "open-file-folder-48", "pause-64", "play2-64", "save-64", "stop-100",
        "temp-blue-24", "temp-red-24", "up-52", "update-50" };
    for (const char* n : names)
        QTest::newRow(n) << QStringLiteral(":/res/%1.png").arg(QLatin1String(n));
}

void TestResources::pictures()
{
    QFETCH(QString, path);
    const QImage img(path);
    QVERIFY2(!img.isNull(), qPrintable(path));
    QCOMPARE(img.width(), img.height());

    // The size in the name is what the forms and style sheets were laid out for.
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("(\\d+)(x\\d+)?(_disable)?\\.png$")).match(path);
    if (m.hasMatch())
        QCOMPARE(img.width(), m.captured(1).toInt());
    else
        QVERIFY(img.width() >= 64); // the window icon is scaled down, never up

    // Drawn, with a transparent surround so it sits on any button colour.
    const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            opaque += qAlpha(argb.pixel(x, y)) > 128;
    QVERIFY2(opaque > argb.width() * argb.height() / 10, qPrintable(path));
    QCOMPARE(qAlpha(argb.pixel(0, 0)), 0);
}

void TestResources::alarmTone()
{
    const QByteArray wav = readResource(QStringLiteral(":/res/duka3.wav"));
    QVERIFY(wav.size() > 44);
    const auto* d = reinterpret_cast<const uchar*>(wav.constData());
    QCOMPARE(wav.mid(0, 4), QByteArray("RIFF"));
    QCOMPARE(qFromLittleEndian<quint32>(d + 4), quint32(wav.size() - 8));
    QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(qFromLittleEndian<quint16>(d + 20), quint16(1)); // plain PCM, which QSound plays everywhere
    QCOMPARE(qFromLittleEndian<quint16>(d + 22), quint16(1)); // mono
    const quint32 rate = qFromLittleEndian<quint32>(d + 24);
    QCOMPARE(qFromLittleEndian<quint16>(d + 34), quint16(16));
    QCOMPARE(wav.mid(36, 4), QByteArray("data"));
    const quint32 bytes = qFromLittleEndian<quint32>(d + 40);
    QCOMPARE(bytes, quint32(wav.size() - 44));
    // It plays once a second while an alarm is raised, so it must end well
    // inside that second.
    const double seconds = double(bytes) / 2 / rate;
    QVERIFY2(seconds > 0.15 && seconds < 0.8, qPrintable(QString::number(seconds)));
}

void TestResources::styleSheetImagesExist()
{
    const QString qss = QString::fromUtf8(readResource(QStringLiteral(":/qss/LM_ElegantDark.qss")));
    QVERIFY(!qss.isEmpty());
    QStringList urls;
    QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("url\\(([^)]*)\\)")).globalMatch(qss);
    while (it.hasNext()) {
        const QString url = it.next().captured(1);
        urls << url;
        QVERIFY2(!QImage(url).isNull(), qPrintable(url));
    }
    urls.sort();
    const QStringList expected { ":/res/add2-30.png", ":/res/add2-30_disable.png", ":/res/delete-30.png",
        ":/res/delete-30_disable.png", ":/res/down_arrow-100.png" };
    QCOMPARE(urls, expected);
}

void TestResources::styleSheetApplies()
{
    // Set on the main window as the program does; a syntax error anywhere
    // in the sheet makes Qt drop it whole with a warning.
    QMainWindow win;
    auto* central = new QWidget(&win);
    auto* lay = new QVBoxLayout(central);
    auto* label = new QLabel(QStringLiteral("label"), central);
    auto* tree = new QTreeWidget(central);
    auto* button = new QPushButton(QStringLiteral("button"), central);
    auto* spin = new QDoubleSpinBox(central);
    auto* combo = new QComboBox(central);
    combo->addItem(QStringLiteral("QC2.0"));
    for (QWidget* w : { static_cast<QWidget*>(label), static_cast<QWidget*>(tree), static_cast<QWidget*>(button),
             static_cast<QWidget*>(spin), static_cast<QWidget*>(combo) })
        lay->addWidget(w);
    win.setCentralWidget(central);

    capturedWarnings.clear();
    const QtMessageHandler old = qInstallMessageHandler(captureWarnings);
    win.setStyleSheet(QString::fromUtf8(readResource(QStringLiteral(":/qss/LM_ElegantDark.qss"))));
    win.resize(300, 400);
    const QImage shot = win.grab().toImage();
    qInstallMessageHandler(old);
    QVERIFY2(capturedWarnings.isEmpty(), qPrintable(capturedWarnings.join(QLatin1Char('\n'))));

    QCOMPARE(shot.pixelColor(shot.width() - 2, shot.height() - 2), QColor(55, 55, 55));
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    QCOMPARE(tree->palette().color(QPalette::Text), QColor(0xd6, 0xcf, 0x9a));
    QCOMPARE(spin->palette().color(QPalette::Text), QColor(255, 255, 0));
    QCOMPARE(spin->palette().color(QPalette::Base), QColor(90, 90, 90));
}

void TestResources::germanCatalogue_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("german");
    QTest::newRow("menu mnemonic") << "MainWindow"
                                   << "About(&A)" << QStringLiteral("Über(&Ü)");
    QTest::newRow("device count") << "MainWindow"
                                  << "Device List: %1" << QStringLiteral("Geräteliste: %1");
    QTest::newRow("days, trailing blank") << "MainWindow"
                                          << "%1Days "
                                          << "%1Tage ";
    QTest::newRow("same text") << "MainWindow"
                               << "Brellon KD-VX350 Software"
                               << "Brellon KD-VX350 Software";
    QTest::newRow("about, leading blanks") << "AboutDialog"
                                           << "  The first version."
                                           << "  Die erste Version.";
    QTest::newRow("input dialog") << "LMInputDialog"
                                  << "Sound switch"
                                  << "Ton";
    QTest::newRow("celsius key") << "UsbWindow"
                                 << "1C" << QStringLiteral("℃");
    QTest::newRow("fahrenheit key") << "UsbWindow"
                                    << "1F" << QStringLiteral("℉");
    QTest::newRow("tab title blanks") << "UsbWindow"
                                      << "  Base  "
                                      << " Start ";
    QTest::newRow("pbus button") << "UsbWindow"
                                 << "PBUS ALARM: 168.00W"
                                 << "P-BUS Alarm: 168W";
    QTest::newRow("prompt") << "UsbWindow"
                            << "  When VBUS is greater than the following value, an alarm will occur."
                            << QStringLiteral("Wenn V-BUS den Wert überschreitet ertönt ein Alarm.");
    QTest::newRow("plot ticker") << "LMMultiCurvesPlot"
                                 << "%h:%m:%s.%z\n%dDays"
                                 << "%h:%m:%s.%z\n%dTage";
    QTest::newRow("page ticker") << "UsbGen"
                                 << "%h:%m:%s.%z\n%dDay"
                                 << "%h:%m:%s.%z\n%dTage";
    QTest::newRow("curves page") << "UsbGen"
                                 << "Open"
                                 << "An";
    QTest::newRow("curves page, failed save") << "UsbGen"
                                              << "Failed to save the file."
                                              << "Datei konnte nicht gespeichert werden.";
    QTest::newRow("full-width colon") << "UsbProcotol" << QStringLiteral("Protocol：") << "Protokoll:";
    QTest::newRow("four args") << "UsbProcotol"
                               << "Smart trigger: Perform step %1, protocol is %2, voltage is %3V, duration is %4ms."
                               << QStringLiteral(
                                      "Smart Trigger: Auslöseschritt %1, Protokoll ist %2, Spannung ist %3V, Dauer "
                                      "ist %4ms.");
    QTest::newRow("empty plan") << "UsbProcotol"
                                << "No plan."
                                << "Kein Plan.";
    QTest::newRow("same source, other context") << "UsbProcotol"
                                                << "Please switch to application mode."
                                                << "Bitte in Anwendungsmodus wechseln.";
    QTest::newRow("firmware size") << "usbSystem"
                                   << "Firmware size: %1 KB" << QStringLiteral("Firmware-Größe: %1 KB");
    QTest::newRow("elapsed") << "usbSystem"
                             << "Update completed,Elapsed time %1s."
                             << QStringLiteral("Update vollständig! Es dauerte %1s.");
    // Contexts are kept apart: a text has a German entry only where a Part gives one.
    QTest::newRow("not in this context") << "LMInputDialog"
                                         << "Unknown" << QString();
}

void TestResources::germanCatalogue()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, german);
    QTranslator tr;
    QVERIFY(tr.load(QStringLiteral("Translation_GE.qm"), QStringLiteral(":/ts")));
    QCOMPARE(tr.translate(context.toUtf8().constData(), source.toUtf8().constData()), german);
}

void TestResources::germanThroughApplication()
{
    QTranslator tr;
    QVERIFY(tr.load(QStringLiteral("Translation_GE.qm"), QStringLiteral(":/ts")));
    QVERIFY(QCoreApplication::installTranslator(&tr));
    const QString count = QCoreApplication::translate("MainWindow", "Device List: %1").arg(3);
    const QString time = QCoreApplication::translate("MainWindow", "%1Days ").arg(1) + QStringLiteral("01:01:01");
    const QString untranslated = QCoreApplication::translate("MainWindow", "SN:");
    QCoreApplication::removeTranslator(&tr);
    QCOMPARE(count, QStringLiteral("Geräteliste: 3"));
    QCOMPARE(time, QStringLiteral("1Tage 01:01:01"));
    QCOMPARE(untranslated, QStringLiteral("SN:"));
}

void TestResources::englishCatalogue_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("english");
    QTest::newRow("celsius key") << "UsbWindow"
                                 << "1C" << QStringLiteral("℃");
    QTest::newRow("fahrenheit key") << "UsbWindow"
                                    << "1F" << QStringLiteral("℉");
    QTest::newRow("celsius sign") << "UsbWindow" << QStringLiteral("℃") << QStringLiteral("℃");
    // Everything else shows its source text: no entry at all.
    QTest::newRow("other window text") << "UsbWindow"
                                       << "Unknown" << QString();
    QTest::newRow("key in another context") << "MainWindow"
                                            << "1C" << QString();
    QTest::newRow("main window") << "MainWindow"
                                 << "About(&A)" << QString();
    QTest::newRow("plot ticker") << "LMMultiCurvesPlot"
                                 << "%h:%m:%s.%z\n%dDays" << QString();
}

void TestResources::englishCatalogue()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, english);
    QTranslator tr;
    QVERIFY(tr.load(QStringLiteral("Translation_EN.qm"), QStringLiteral(":/ts")));
    QCOMPARE(tr.translate(context.toUtf8().constData(), source.toUtf8().constData()), english);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
