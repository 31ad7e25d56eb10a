// The device window: the refresh and its formatting, the protocol naming, the
// alarms with their dialogs and sound, the re-translation, and the window
// bound to simulated meters streaming live data.

#include "com_layer.h"
#include "hidsim.h"
#include "identifyprotocol.h"
#include "knownmeters.h"
#include "modalresponder.h"
#include "usbevent.h"
#include "usbparam.h"
#include "usbwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace {

hidsim::MeterId meterId(int row, const QString& serial)
{
    hidsim::MeterId id;
    id.vid = knownMeters[row].vid;
    id.pid = knownMeters[row].pid;
    id.serial = serial;
    return id;
}

// A format-2 meter that never answers the identity request, so it never
// streams and the test writes the readings store itself.
hidsim::MeterConfig silentMeter(const QString& serial)
{
    hidsim::MeterConfig config;
    config.id = meterId(1, serial);
    config.format = 2;
    config.answersIdentity = false;
    return config;
}

// Is w inside one of the pages the window's tabs hold (they reuse some of its names)?
bool insidePage(const QWidget* window, const QWidget* w)
{
    for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget()) {
        const QString name = p->objectName();
        if (name == QLatin1String("usbGenWidget") || name == QLatin1String("usbProcotoWidget")
            || name == QLatin1String("usbSysWidget"))
            return true;
    }
    return false;
}

// A widget of the window's own form, by its object name; a missing one ends the run.
template <class T> T* part(QWidget* window, const char* name)
{
    for (T* found : window->findChildren<T*>(QString::fromLatin1(name))) {
        if (!insidePage(window, found))
            return found;
    }
    qFatal("form has no %s named %s", T::staticMetaObject.className(), name);
    return nullptr;
}

QImage resourceImage(const QString& path)
{
    return QPixmap(path).toImage();
}

// What the alarm dialog showed, recorded by the responder; checked afterwards.
struct AlarmDialogSeen
{
    QString title;
    QStringList labels;
    double minimum = -1;
    double maximum = -1;
    int decimals = -1;
    double valueAtOpen = -1;
    bool checkedAtOpen = false;
};

// Answers the next alarm dialog: records it, optionally enters a value and
// the sound switch, then presses OK or Cancel.
std::shared_ptr<AlarmDialogSeen> answerAlarmDialog(bool pressOk, double value = -1, int sound = -1)
{
    auto seen = std::make_shared<AlarmDialogSeen>();
    answerNextModal([seen, pressOk, value, sound](QWidget* dialog) {
        seen->title = dialog->windowTitle();
        for (QLabel* label : dialog->findChildren<QLabel*>())
            seen->labels << label->text();
        auto* spin = dialog->findChild<QDoubleSpinBox*>();
        auto* check = dialog->findChild<QCheckBox*>();
        if (spin) {
            seen->minimum = spin->minimum();
            seen->maximum = spin->maximum();
            seen->decimals = spin->decimals();
            seen->valueAtOpen = spin->value();
            if (value >= 0)
                spin->setValue(value);
        }
        if (check) {
            seen->checkedAtOpen = check->isChecked();
            if (sound >= 0)
                check->setChecked(sound == 1);
        }
        const QString wanted = pressOk ? QStringLiteral("  OK  ") : QStringLiteral("Cancel");
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == wanted) {
                button->click();
                return;
            }
        }
        dialog->close();
    });
    return seen;
}

} // namespace

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void identifyProtocolCases_data();
    void identifyProtocolCases();

    void newWindowShowsStartValues();
    void readingBoxesHoldWidestReading();
    void loadDigits_data();
    void loadDigits();
    void temperature_data();
    void temperature();
    void protocolLabels_data();
    void protocolLabels();
    void temperatureButtonToggles();

    void alarmEdges_data();
    void alarmEdges();
    void alarmSoundRepeats();
    void soundRestartsAfterAnotherAlarmClears();
    void laterAlarmKeepsSoundInSameRefresh();
    void alarmSwitchOff();

    void alarmDialog_data();
    void alarmDialog();
    void alarmDialogCancelClearsRaisedAlarm();
    void retranslation();
    void builtUnderGerman();

    void liveReadingsFromTwoMeters();
    void meterRemovedWhileAlarmDialogOpen();
    void screenshot();

private:
    // Plugs the meter and lets the registry open it; the window is built
    // inside the arrival signal, as the main window does.
    UsbWindow* plugAndOpen(const hidsim::MeterConfig& config);
    // The window with its refresh timer stopped, so the test drives the refresh.
    UsbWindow* openDriven(const QString& serial = QStringLiteral("W0001"));
    static void setReadings(UsbWindow* w, double vbus, double ibus, double pbus);
    static void setParam(UsbWindow* w, UsbParam::usb_param_e which, double value);
    void switchLanguage(QTranslator* to);

    std::unique_ptr<QWidget> host;
    QTranslator english;
    QTranslator german;
    QTranslator* current = nullptr;
};

void tst_Window::initTestCase()
{
    QVERIFY(english.load(QStringLiteral(":/ts/Translation_EN.qm")));
    QVERIFY(german.load(QStringLiteral(":/ts/Translation_GE.qm")));
    QCoreApplication::installTranslator(&english);
    current = &english;
}

void tst_Window::init()
{
    hidsim::reset();
    host = std::make_unique<QWidget>();
    host->resize(1015, 737);
}

void tst_Window::cleanup()
{
    // Windows go before their connections, as on a removal.
    host.reset();
    UsbEvent::resetInstance();
    hidsim::reset();
    if (current != &english)
        switchLanguage(&english);
}

UsbWindow* tst_Window::plugAndOpen(const hidsim::MeterConfig& config)
{
    hidsim::plug(config);
    UsbWindow* created = nullptr;
    QWidget* parent = host.get();
    UsbEvent* registry = UsbEvent::instance().data();
    const auto c = connect(
        registry, &UsbEvent::hidDevArrival, registry, [&created, parent](int) { created = new UsbWindow(parent); });
    registry->hidDevArrivalSlot();
    disconnect(c);
    return created;
}

UsbWindow* tst_Window::openDriven(const QString& serial)
{
    UsbWindow* w = plugAndOpen(silentMeter(serial));
    if (w)
        w->timerUpdate->stop();
    return w;
}

void tst_Window::setParam(UsbWindow* w, UsbParam::usb_param_e which, double value)
{
    w->comLayer->usbParam.setParam(value, which);
}

void tst_Window::setReadings(UsbWindow* w, double vbus, double ibus, double pbus)
{
    setParam(w, UsbParam::USB_PARAM_VBUS, vbus);
    setParam(w, UsbParam::USB_PARAM_IBUS, ibus);
    setParam(w, UsbParam::USB_PARAM_PBUS, pbus);
}

void tst_Window::switchLanguage(QTranslator* to)
{
    QCoreApplication::removeTranslator(current);
    QCoreApplication::installTranslator(to);
    current = to;
    // The application posts the change to its top-level widgets.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
}

// ---------------------------------------------------------------------------

void tst_Window::identifyProtocolCases_data()
{
    QTest::addColumn<double>("dp");
    QTest::addColumn<double>("dm");
    QTest::addColumn<double>("vbus");
    QTest::addColumn<int>("expected");

    struct Case
    {
        const char* name;
        double dp, dm, vbus;
        int expected;
    };
    const Case cases[] = {
        { "nothing attached", 0.0, 0.0, 0.0, 0x1B },
        { "A 0.1/0.1 5V", 0.100, 0.100, 5.0, 0x1B },
        { "A 0.1/0.5 5V ends empty", 0.100, 0.500, 5.0, 0x00 },
        { "A 0.1/0.5 9V last rule", 0.100, 0.500, 9.0, 0xF0 },
        { "B 0.6/0.1 5V", 0.600, 0.100, 5.0, 0xE2 },
        { "B 0.6/0.1 9V", 0.600, 0.100, 9.0, 0xEC },
        { "B 0.6/0.1 12V", 0.600, 0.100, 12.0, 0xD0 },
        { "B 0.6/0.1 7V", 0.600, 0.100, 7.0, 0xF0 },
        { "B 0.6/0.1 3V", 0.600, 0.100, 3.0, 0x00 },
        { "B 0.6/0.6 12V", 0.600, 0.600, 12.0, 0x40 },
        { "B 0.6/0.6 5V", 0.600, 0.600, 5.0, 0xE1 },
        { "B 0.6/0.6 9V", 0.600, 0.600, 9.0, 0xF0 },
        { "B 0.6/3.3 5V", 0.600, 3.300, 5.0, 0xE6 },
        { "B 0.6/3.3 11V", 0.600, 3.300, 11.0, 0xE6 },
        { "B 0.6/3.3 12V", 0.600, 3.300, 12.0, 0x60 },
        { "B 0.6/1.5 5V", 0.600, 1.500, 5.0, 0xE0 },
        { "B 0.6/1.5 12V", 0.600, 1.500, 12.0, 0xF0 },
        { "B 0.6/0.25 11V", 0.600, 0.250, 11.0, 0xE0 },
        { "C 1.2/1.2 5V", 1.200, 1.200, 5.0, 0x91 },
        { "C 1.2/1.2 0V", 1.200, 1.200, 0.0, 0x91 },
        { "C 1.2/1.2 20V", 1.200, 1.200, 20.0, 0x91 },
        { "C 1.2/0.5 5V", 1.200, 0.500, 5.0, 0x00 },
        { "C 1.2/0.5 9V", 1.200, 0.500, 9.0, 0xF0 },
        { "D 2.7/2.7 5V", 2.700, 2.700, 5.0, 0x81 },
        { "D 2.7/2.7 6V", 2.700, 2.700, 6.0, 0x81 },
        { "D 2.7/2.7 9V", 2.700, 2.700, 9.0, 0xF0 },
        { "D 2.7/2.7 3V", 2.700, 2.700, 3.0, 0x00 },
        { "D 2.7/2.0 5V", 2.700, 2.000, 5.0, 0x70 },
        { "D 2.7/2.0 0V", 2.700, 2.000, 0.0, 0x70 },
        { "D 2.7/2.0 20V", 2.700, 2.000, 20.0, 0x70 },
        { "E 3.3/0.0", 3.300, 0.000, 5.0, 0xA1 },
        { "E 3.3/0.6 9V", 3.300, 0.600, 9.0, 0x30 },
        { "E 3.3/0.6 12V", 3.300, 0.600, 12.0, 0xF0 },
        { "E 3.3/3.3 20V", 3.300, 3.300, 20.0, 0x50 },
        { "E 3.3/3.3 12V", 3.300, 3.300, 12.0, 0xF0 },
        { "E 3.3/3.3 5V", 3.300, 3.300, 5.0, 0x00 },
        { "D+ 0.300 is below 0.3f", 0.300, 0.100, 5.0, 0x10 },
        { "D+ 0.301", 0.301, 0.100, 5.0, 0xE2 },
        { "D- 0.300 is below 0.3f", 0.600, 0.300, 12.0, 0xF0 },
        { "D- 0.301", 0.600, 0.301, 12.0, 0x40 },
        { "F 1.6/1.4 5V", 1.600, 1.400, 5.0, 0x10 },
        { "F 1.6/1.4 9V", 1.600, 1.400, 9.0, 0xF0 },
        { "F 1.601/1.4 5V", 1.601, 1.400, 5.0, 0x00 },
        { "F 0.25/0.25 5V", 0.250, 0.250, 5.0, 0x10 },
        { "F 0.25/0.25 9V", 0.250, 0.250, 9.0, 0xF0 },
        { "F 0.25/0.25 3V", 0.250, 0.250, 3.0, 0x00 },
        { "B top 1.000", 1.000, 0.100, 5.0, 0xE2 },
        { "F above 1.000", 1.001, 0.100, 5.0, 0x00 },
        { "A top 0.200", 0.200, 0.200, 5.0, 0x1B },
        { "F above 0.200", 0.201, 0.100, 5.0, 0x10 },
        { "C bottom 1.050", 1.050, 1.050, 5.0, 0x91 },
        { "C top 1.350", 1.350, 1.350, 5.0, 0x91 },
        { "F above 1.350", 1.351, 1.351, 5.0, 0x10 },
        { "F at 2.200", 2.200, 2.200, 5.0, 0x10 },
        { "D above 2.200", 2.201, 2.201, 5.0, 0x81 },
        { "D top 2.900", 2.900, 2.900, 5.0, 0x81 },
        { "E above 2.900", 2.901, 2.901, 20.0, 0x50 },
        { "5V window low edge", 0.600, 0.100, 4.0, 0xE2 },
        { "below 5V window", 0.600, 0.100, 3.999, 0x00 },
        { "5V window high edge", 0.600, 0.100, 6.0, 0xE2 },
        { "9V window low edge", 0.600, 0.100, 8.0, 0xEC },
        { "9V window high edge", 0.600, 0.100, 10.0, 0xEC },
        { "12V window low edge", 0.600, 0.100, 11.0, 0xD0 },
        { "12V window high edge", 0.600, 0.100, 13.0, 0xD0 },
        { "above 12V window", 0.600, 0.100, 13.001, 0xF0 },
        { "20V window low edge", 3.300, 3.300, 19.0, 0x50 },
        { "20V window high edge", 3.300, 3.300, 21.0, 0x50 },
        { "above 20V window", 3.300, 3.300, 21.001, 0xF0 },
        { "6.000V no last rule", 0.100, 0.500, 6.0, 0x00 },
        { "just above 6V last rule", 0.100, 0.500, 6.00001, 0xF0 },
    };
    for (const Case& c : cases)
        QTest::newRow(c.name) << c.dp << c.dm << c.vbus << c.expected;
}

void tst_Window::identifyProtocolCases()
{
    QFETCH(double, dp);
    QFETCH(double, dm);
    QFETCH(double, vbus);
    QFETCH(int, expected);
    const int got = identifyProtocol(dp, dm, vbus);
    QCOMPARE(QString::number(got, 16), QString::number(expected, 16));
    // A second protocol never stands without a main one.
    QVERIFY((got >> 4) != 0 || (got & 0x0F) == 0);
}

// ---------------------------------------------------------------------------

void tst_Window::readingBoxesHoldWidestReading()
{
    // A shown window does not grow, so each box must already have room for
    // its widest reading in the font it draws with, never less than the form's minimum.
    UsbWindow* w = plugAndOpen(silentMeter(QStringLiteral("W0001")));
    QVERIFY(w);
    const struct
    {
        const char* name;
        const char* widest;
        int formMinimum;
    } boxes[] = {
        { "labelVbus", "224.00000", 108 },
        { "labelIbus", "224.00000", 108 },
        { "labelPbus", "224.00000", 108 },
        { "labelDp", "224.00000", 108 },
        { "labelDm", "224.00000", 108 },
        { "labelImpd", "9999999", 98 },
        { "labelTemp", "-888.8", 98 },
    };
    for (const auto& box : boxes) {
        auto* label = part<QLabel>(w, box.name);
        label->ensurePolished(); // the style sheet's 16 pt bold, as it is drawn
        QCOMPARE(label->font().pointSize(), 16);
        QVERIFY(label->font().bold());
        QVERIFY(label->minimumWidth() >= box.formMinimum);
        QVERIFY2(label->minimumWidth() > label->fontMetrics().horizontalAdvance(QLatin1String(box.widest)), box.name);
    }
}

void tst_Window::newWindowShowsStartValues()
{
    UsbWindow* w = plugAndOpen(silentMeter(QStringLiteral("W0001")));
    QVERIFY(w);

    // Before the first refresh: the form's own texts.
    QCOMPARE(part<QLabel>(w, "labelVbus")->text(), QStringLiteral("0.00000"));
    QCOMPARE(part<QLabel>(w, "labelDp")->text(), QStringLiteral("0.000"));
    QCOMPARE(part<QLabel>(w, "labelProt1")->text(), QStringLiteral("DCP 1.5A"));
    QCOMPARE(part<QLabel>(w, "labelProt2")->text(), QStringLiteral("USB2.0 HIGH"));
    QCOMPARE(part<QLabel>(w, "labelImpd")->text(), QStringLiteral("0.00000"));
    QCOMPARE(part<QLabel>(w, "labelTemp")->text(), QStringLiteral("25"));
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℃"));
    QCOMPARE(part<QToolButton>(w, "btnVbusAlarm")->text(), QStringLiteral("VBUS ALARM: 24.00V"));
    QCOMPARE(part<QToolButton>(w, "btnIbusAlarm")->text(), QStringLiteral("IBUS ALARM: 7.00A"));
    QCOMPARE(part<QToolButton>(w, "btnPbusAlarm")->text(), QStringLiteral("PBUS ALARM: 168.00W"));
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->count(), 3);
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->currentIndex(), 0);
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->tabText(0), QStringLiteral("  Base  "));
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->tabText(1), QStringLiteral("Protocol"));
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->tabText(2), QStringLiteral(" System "));
    QVERIFY(w->findChild<QWidget*>(QStringLiteral("usbGenWidget")));
    QVERIFY(w->findChild<QWidget*>(QStringLiteral("usbProcotoWidget")));
    QVERIFY(w->findChild<QWidget*>(QStringLiteral("usbSysWidget")));

    // Bound to the registry's newest connection; refresh every 200 ms.
    QCOMPARE(w->comLayer, UsbEvent::instance()->allComLayer.last());
    QVERIFY(w->timerUpdate->isActive());
    QCOMPARE(w->timerUpdate->interval(), 200);
    QVERIFY(!w->timerSound->isActive());

    // A meter that sends nothing: the first refresh shows the store's start values.
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(w, "labelTemp")->text(), QStringLiteral("25.0"), 5000);
    QCOMPARE(part<QLabel>(w, "labelVbus")->text(), QStringLiteral("0.00000"));
    QCOMPARE(part<QLabel>(w, "labelIbus")->text(), QStringLiteral("0.00000"));
    QCOMPARE(part<QLabel>(w, "labelPbus")->text(), QStringLiteral("0.00000"));
    QCOMPARE(part<QLabel>(w, "labelDp")->text(), QStringLiteral("0.000"));
    QCOMPARE(part<QLabel>(w, "labelDm")->text(), QStringLiteral("0.000"));
    QCOMPARE(part<QLabel>(w, "labelProt1")->text(), QStringLiteral("DCP 1.5A"));
    QCOMPARE(part<QLabel>(w, "labelProt2")->text(), QStringLiteral("USB2.0 HIGH"));
    QCOMPARE(part<QLabel>(w, "labelImpd")->text(), QStringLiteral("0.00000"));
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℃"));
}

void tst_Window::loadDigits_data()
{
    QTest::addColumn<double>("impd");
    QTest::addColumn<QString>("shown");
    QTest::newRow("zero") << 0.0 << "0.00000";
    QTest::newRow("one digit") << 1.234567 << "1.23457";
    QTest::newRow("two digits") << 12.3456789 << "12.3457";
    QTest::newRow("three digits") << 123.456789 << "123.457";
    QTest::newRow("four digits") << 1234.56789 << "1234.57";
    QTest::newRow("five digits") << 12345.678 << "12345.7";
    QTest::newRow("five digits top") << 99999.4 << "99999.4";
    // Digits are counted before rounding: 99999.96 keeps one decimal.
    QTest::newRow("five digits rounding up") << 99999.96 << "100000.0";
    QTest::newRow("six digits round down") << 100000.4 << "100000";
    QTest::newRow("six digits round up") << 123456.6 << "123457";
    QTest::newRow("no current") << 9999998.99999 << "9999999";
    // Below one ohm: five decimals, rounded to nearest.
    QTest::newRow("just below one") << 0.999996 << "1.00000";
}

void tst_Window::loadDigits()
{
    QFETCH(double, impd);
    QFETCH(QString, shown);
    UsbWindow* w = openDriven();
    QVERIFY(w);
    setParam(w, UsbParam::USB_PARAM_IMPD, impd);
    w->updateParam();
    QCOMPARE(part<QLabel>(w, "labelImpd")->text(), shown);
}

void tst_Window::temperature_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("red");
    QTest::newRow("49.9 C") << 49.9 << false << "49.9" << false;
    QTest::newRow("50.0 C") << 50.0 << false << "50.0" << true;
    QTest::newRow("50.0 C in F") << 50.0 << true << "122.0" << true;
    QTest::newRow("25.0 C in F") << 25.0 << true << "77.0" << false;
    QTest::newRow("49.9 C in F") << 49.9 << true << "121.8" << false;
    QTest::newRow("below zero") << -5.3 << false << "-5.3" << false;
}

void tst_Window::temperature()
{
    QFETCH(double, celsius);
    QFETCH(bool, fahrenheit);
    QFETCH(QString, shown);
    QFETCH(bool, red);
    UsbWindow* w = openDriven();
    QVERIFY(w);
    QVERIFY(resourceImage(QStringLiteral(":/res/temp-red-24.png"))
        != resourceImage(QStringLiteral(":/res/temp-blue-24.png")));
    if (fahrenheit)
        part<QPushButton>(w, "btnTemp")->click();
    setParam(w, UsbParam::USB_PARAM_TEMP, celsius);
    w->updateParam();
    QCOMPARE(part<QLabel>(w, "labelTemp")->text(), shown);
    const QImage picture = part<QLabel>(w, "labelTempIcon")->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(picture,
        resourceImage(red ? QStringLiteral(":/res/temp-red-24.png") : QStringLiteral(":/res/temp-blue-24.png")));
}

void tst_Window::protocolLabels_data()
{
    QTest::addColumn<double>("dp");
    QTest::addColumn<double>("dm");
    QTest::addColumn<double>("vbus");
    QTest::addColumn<QString>("main");
    QTest::addColumn<QString>("second");
    QTest::newRow("huawei scp / qc2 5v") << 0.6 << 0.1 << 5.0 << "HUAWEI SCP"
                                         << "QC2.0 5V";
    QTest::newRow("fcp afc 12v alone") << 0.6 << 0.1 << 12.0 << "FCP AFC 12V"
                                       << "Unknown";
    QTest::newRow("nothing") << 0.6 << 0.1 << 3.0 << "Unknown"
                             << "Unknown";
    QTest::newRow("qc2 20v") << 3.3 << 3.3 << 20.0 << "QC2.0 20V"
                             << "Unknown";
}

void tst_Window::protocolLabels()
{
    QFETCH(double, dp);
    QFETCH(double, dm);
    QFETCH(double, vbus);
    QFETCH(QString, main);
    QFETCH(QString, second);
    UsbWindow* w = openDriven();
    QVERIFY(w);
    setParam(w, UsbParam::USB_PARAM_DP, dp);
    setParam(w, UsbParam::USB_PARAM_DM, dm);
    setParam(w, UsbParam::USB_PARAM_VBUS, vbus);
    w->updateParam();
    QCOMPARE(part<QLabel>(w, "labelProt1")->text(), main);
    QCOMPARE(part<QLabel>(w, "labelProt2")->text(), second);
    QCOMPARE(part<QLabel>(w, "labelDp")->text(), QString::number(dp, 'f', 3));
}

void tst_Window::temperatureButtonToggles()
{
    UsbWindow* w = openDriven();
    QVERIFY(w);
    part<QPushButton>(w, "btnTemp")->click();
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℉"));
    // The label follows at the next refresh.
    QCOMPARE(part<QLabel>(w, "labelTemp")->text(), QStringLiteral("25"));
    w->updateParam();
    QCOMPARE(part<QLabel>(w, "labelTemp")->text(), QStringLiteral("77.0"));

    // A language change keeps the unit and its text.
    switchLanguage(&german);
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℉"));
    switchLanguage(&english);
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℉"));

    part<QPushButton>(w, "btnTemp")->click();
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℃"));
    w->updateParam();
    QCOMPARE(part<QLabel>(w, "labelTemp")->text(), QStringLiteral("25.0"));
    switchLanguage(&german);
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℃"));
}

// ---------------------------------------------------------------------------

void tst_Window::alarmEdges_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<double>("reading");
    QTest::addColumn<bool>("raised");
    QTest::newRow("VBUS at the limit") << 0 << 24.000 << false;
    QTest::newRow("VBUS above the limit") << 0 << 24.00001 << true;
    QTest::newRow("IBUS at the limit") << 1 << 7.0 << false;
    QTest::newRow("IBUS above the limit") << 1 << 7.00001 << true;
    QTest::newRow("PBUS at the limit") << 2 << 168.0 << false;
    QTest::newRow("PBUS above the limit") << 2 << 168.00001 << true;
}

void tst_Window::alarmEdges()
{
    QFETCH(int, channel);
    QFETCH(double, reading);
    QFETCH(bool, raised);
    UsbWindow* w = openDriven();
    QVERIFY(w);
    const UsbParam::usb_param_e which[3]
        = { UsbParam::USB_PARAM_VBUS, UsbParam::USB_PARAM_IBUS, UsbParam::USB_PARAM_PBUS };
    const bool* status[3] = { &w->alarmVbusStatus, &w->alarmIbusStatus, &w->alarmPbusStatus };
    QToolButton* buttons[3] = { part<QToolButton>(w, "btnVbusAlarm"), part<QToolButton>(w, "btnIbusAlarm"),
        part<QToolButton>(w, "btnPbusAlarm") };
    QToolButton* button = buttons[channel];

    setParam(w, which[channel], reading);
    w->updateParam();
    QCOMPARE(*status[channel], raised);
    QCOMPARE(w->soundState, raised);
    QCOMPARE(w->timerSound->isActive(), raised);
    for (int other = 0; other < 3; ++other) {
        if (other != channel)
            QVERIFY(!*status[other]);
    }
    const QString icon = raised ? QStringLiteral(":/res/alarm-50.png") : QStringLiteral(":/res/noAlarm-64.png");
    QCOMPARE(button->icon().pixmap(QSize(50, 50)).toImage(), QIcon(icon).pixmap(QSize(50, 50)).toImage());
    if (!raised)
        return;

    // Still above at the next refresh: the icon is not set again.
    const qint64 iconKey = button->icon().cacheKey();
    w->updateParam();
    QCOMPARE(button->icon().cacheKey(), iconKey);

    // Back at the limit: cleared, icon back, silent.
    setParam(w, which[channel], reading - 0.00001);
    w->updateParam();
    QVERIFY(!*status[channel]);
    QVERIFY(!w->soundState);
    QVERIFY(!w->timerSound->isActive());
    QCOMPARE(button->icon().pixmap(QSize(50, 50)).toImage(),
        QIcon(QStringLiteral(":/res/noAlarm-64.png")).pixmap(QSize(50, 50)).toImage());
}

void tst_Window::alarmSoundRepeats()
{
    UsbWindow* w = openDriven();
    QVERIFY(w);
    setReadings(w, 24.00001, 0, 0);
    w->updateParam();
    QVERIFY(w->timerSound->isActive());
    QCOMPARE(w->timerSound->interval(), 1000);
    QVERIFY(!w->timerSound->isSingleShot());

    // Each refresh while the alarm stays raised leaves the running period alone.
    QTRY_VERIFY_WITH_TIMEOUT(w->timerSound->remainingTime() <= 900, 5000);
    w->updateParam();
    QVERIFY(w->timerSound->remainingTime() <= 950);

    // It plays every second; the offscreen machine may have no audio at all,
    // and playing must neither block nor crash there.
    QSignalSpy plays(w->timerSound, &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(plays.count() >= 2, 5000);
    w->timerSoundSlot();
    w->timerSoundSlot();
}

void tst_Window::soundRestartsAfterAnotherAlarmClears()
{
    UsbWindow* w = openDriven();
    QVERIFY(w);
    setReadings(w, 25.0, 7.5, 0);
    w->updateParam();
    QVERIFY(w->alarmVbusStatus);
    QVERIFY(w->alarmIbusStatus);
    QVERIFY(w->timerSound->isActive());

    // IBUS clears: it silences the still raised VBUS alarm in that refresh...
    setParam(w, UsbParam::USB_PARAM_IBUS, 1.0);
    w->updateParam();
    QVERIFY(w->alarmVbusStatus);
    QVERIFY(!w->alarmIbusStatus);
    QVERIFY(!w->soundState);
    QVERIFY(!w->timerSound->isActive());

    // ...and the next refresh starts a fresh period.
    w->updateParam();
    QVERIFY(w->soundState);
    QVERIFY(w->timerSound->isActive());
}

void tst_Window::laterAlarmKeepsSoundInSameRefresh()
{
    UsbWindow* w = openDriven();
    QVERIFY(w);
    setReadings(w, 0, 7.5, 170.0);
    w->updateParam();
    QVERIFY(w->alarmIbusStatus);
    QVERIFY(w->alarmPbusStatus);

    // IBUS clears before PBUS is evaluated, so PBUS turns the sound on again at once.
    setParam(w, UsbParam::USB_PARAM_IBUS, 1.0);
    w->updateParam();
    QVERIFY(!w->alarmIbusStatus);
    QVERIFY(w->alarmPbusStatus);
    QVERIFY(w->soundState);
    QVERIFY(w->timerSound->isActive());
}

void tst_Window::alarmSwitchOff()
{
    UsbWindow* w = openDriven();
    QVERIFY(w);
    // Sound switch off through the dialog, limit unchanged.
    auto seen = answerAlarmDialog(true, 24.0, 0);
    w->btnVbusAlarmSlot();
    QVERIFY(seen->title.size());
    QVERIFY(!w->soundSwVbus);

    setReadings(w, 30.0, 0, 0);
    w->updateParam();
    QVERIFY(w->alarmVbusStatus);
    QVERIFY(!w->soundState);
    QVERIFY(!w->timerSound->isActive());

    // Another alarm with its switch on still sounds.
    setParam(w, UsbParam::USB_PARAM_IBUS, 7.5);
    w->updateParam();
    QVERIFY(w->timerSound->isActive());
}

// ---------------------------------------------------------------------------

void tst_Window::alarmDialog_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<double>("entered");
    QTest::addColumn<double>("oldLimit");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("unitText");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<double>("limit");

    const QString vPrompt = QStringLiteral("  When VBUS is greater than the following value, an alarm will occur.");
    const QString iPrompt = QStringLiteral("  When IBUS is greater than the following value, an alarm will occur.");
    const QString pPrompt = QStringLiteral("  When PBUS is greater than the following value, an alarm will occur.");
    QTest::newRow("VBUS 20.5") << 0 << 20.5 << 24.0 << 28.0 << vPrompt << "Unit:(V)"
                               << "VBUS ALARM: 20.50V" << 20.5;
    QTest::newRow("VBUS clamped") << 0 << 30.0 << 24.0 << 28.0 << vPrompt << "Unit:(V)"
                                  << "VBUS ALARM: 28.00V" << 28.0;
    QTest::newRow("IBUS two decimals") << 1 << 3.256 << 7.0 << 8.0 << iPrompt << "Unit:(A)"
                                       << "IBUS ALARM: 3.26A" << 3.26;
    QTest::newRow("IBUS zero") << 1 << 0.0 << 7.0 << 8.0 << iPrompt << "Unit:(A)"
                               << "IBUS ALARM: 0.00A" << 0.0;
    QTest::newRow("PBUS top") << 2 << 224.0 << 168.0 << 224.0 << pPrompt << "Unit:(W)"
                              << "PBUS ALARM: 224.00W" << 224.0;
}

void tst_Window::alarmDialog()
{
    QFETCH(int, channel);
    QFETCH(double, entered);
    QFETCH(double, oldLimit);
    QFETCH(double, maximum);
    QFETCH(QString, prompt);
    QFETCH(QString, unitText);
    QFETCH(QString, buttonText);
    QFETCH(double, limit);

    UsbWindow* w = openDriven();
    QVERIFY(w);
    QToolButton* buttons[3] = { part<QToolButton>(w, "btnVbusAlarm"), part<QToolButton>(w, "btnIbusAlarm"),
        part<QToolButton>(w, "btnPbusAlarm") };
    const double* limits[3] = { &w->alarmVbus, &w->alarmIbus, &w->alarmPbus };

    auto seen = answerAlarmDialog(true, entered);
    buttons[channel]->click();
    QCOMPARE(seen->title, QStringLiteral("Set alarm value"));
    QVERIFY2(seen->labels.contains(prompt), qPrintable(seen->labels.join('|')));
    QVERIFY(seen->labels.contains(unitText));
    QCOMPARE(seen->minimum, 0.0);
    QCOMPARE(seen->maximum, maximum);
    QCOMPARE(seen->decimals, 2);
    QCOMPARE(seen->valueAtOpen, oldLimit);
    QVERIFY(seen->checkedAtOpen);

    QCOMPARE(buttons[channel]->text(), buttonText);
    QCOMPARE(*limits[channel], limit);

    // Cancel keeps the limit and the text.
    auto cancelled = answerAlarmDialog(false, 1.0);
    buttons[channel]->click();
    QVERIFY(cancelled->title.size());
    QCOMPARE(buttons[channel]->text(), buttonText);
    QCOMPARE(*limits[channel], limit);
}

void tst_Window::alarmDialogCancelClearsRaisedAlarm()
{
    UsbWindow* w = openDriven();
    QVERIFY(w);
    setReadings(w, 25.0, 0, 0);
    w->updateParam();
    QVERIFY(w->alarmVbusStatus);
    QVERIFY(w->timerSound->isActive());

    auto seen = answerAlarmDialog(false, 10.0, 0);
    part<QToolButton>(w, "btnVbusAlarm")->click();
    QVERIFY(seen->title.size());
    QVERIFY(!w->alarmVbusStatus);
    QVERIFY(!w->soundState);
    QVERIFY(!w->timerSound->isActive());
    QCOMPARE(w->alarmVbus, 24.0);
    QVERIFY(w->soundSwVbus);
    QCOMPARE(part<QToolButton>(w, "btnVbusAlarm")->text(), QStringLiteral("VBUS ALARM: 24.00V"));
    QCOMPARE(part<QToolButton>(w, "btnVbusAlarm")->icon().pixmap(QSize(50, 50)).toImage(),
        QIcon(QStringLiteral(":/res/noAlarm-64.png")).pixmap(QSize(50, 50)).toImage());

    // Still above the limit: the next refresh raises it again, with sound.
    w->updateParam();
    QVERIFY(w->alarmVbusStatus);
    QVERIFY(w->timerSound->isActive());
}

void tst_Window::retranslation()
{
    UsbWindow* w = openDriven();
    QVERIFY(w);
    auto seen = answerAlarmDialog(true, 20.5);
    part<QToolButton>(w, "btnVbusAlarm")->click();
    QCOMPARE(part<QToolButton>(w, "btnVbusAlarm")->text(), QStringLiteral("VBUS ALARM: 20.50V"));
    setParam(w, UsbParam::USB_PARAM_VBUS, 3.0);
    setParam(w, UsbParam::USB_PARAM_DP, 0.6);
    setParam(w, UsbParam::USB_PARAM_DM, 0.1);
    w->updateParam();
    QCOMPARE(part<QLabel>(w, "labelProt1")->text(), QStringLiteral("Unknown"));

    switchLanguage(&german);
    QCOMPARE(part<QToolButton>(w, "btnVbusAlarm")->text(), QStringLiteral("V-BUS Alarm: 20.50V"));
    QCOMPARE(part<QToolButton>(w, "btnIbusAlarm")->text(), QStringLiteral("I-BUS Alarm: 7.00A"));
    // The limit in force, not the catalogue's form text.
    QCOMPARE(part<QToolButton>(w, "btnPbusAlarm")->text(), QStringLiteral("P-BUS Alarm: 168.00W"));
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->tabText(0), QStringLiteral(" Start "));
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->tabText(1), QStringLiteral("Protokoll"));
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->tabText(2), QStringLiteral(" System "));
    QCOMPARE(part<QGroupBox>(w, "groupBoxParam")->title(), QStringLiteral("Parameter-Übersicht"));
    QCOMPARE(part<QLabel>(w, "labelVol_4")->toolTip(), QStringLiteral("Last"));
    QCOMPARE(part<QLabel>(w, "labelTempIcon")->toolTip(), QStringLiteral("Temperatur"));
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℃"));
    // Never translated, and the readings stay until the next refresh.
    QCOMPARE(part<QLabel>(w, "labelVol")->text(), QStringLiteral("VBUS:"));
    QCOMPARE(part<QLabel>(w, "labelVbus")->text(), QStringLiteral("3.00000"));
    QCOMPARE(part<QLabel>(w, "label_7")->text(), QStringLiteral("Ω"));
    QCOMPARE(part<QLabel>(w, "labelProt1")->text(), QStringLiteral("Unknown"));
    w->updateParam();
    QCOMPARE(part<QLabel>(w, "labelProt1")->text(), QStringLiteral("Unbekannt"));

    // The dialog asks in German.
    auto german = answerAlarmDialog(false);
    part<QToolButton>(w, "btnIbusAlarm")->click();
    QCOMPARE(german->title, QStringLiteral("Setze Alarm-Wert"));
    QVERIFY(german->labels.contains(QStringLiteral("Wenn I-BUS den Wert überschreitet ertönt ein Alarm.")));
    QVERIFY(german->labels.contains(QStringLiteral("Einheit:(A)")));

    switchLanguage(&english);
    QCOMPARE(part<QToolButton>(w, "btnVbusAlarm")->text(), QStringLiteral("VBUS ALARM: 20.50V"));
    QCOMPARE(part<QToolButton>(w, "btnPbusAlarm")->text(), QStringLiteral("PBUS ALARM: 168.00W"));
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->tabText(0), QStringLiteral("  Base  "));
    QCOMPARE(part<QGroupBox>(w, "groupBoxParam")->title(), QStringLiteral("Parameter display"));
}

void tst_Window::builtUnderGerman()
{
    switchLanguage(&german);
    UsbWindow* w = openDriven();
    QVERIFY(w);
    QCOMPARE(part<QToolButton>(w, "btnVbusAlarm")->text(), QStringLiteral("V-BUS Alarm: 24.00V"));
    QCOMPARE(part<QToolButton>(w, "btnPbusAlarm")->text(), QStringLiteral("P-BUS Alarm: 168W"));
    QCOMPARE(part<QTabWidget>(w, "tabWidget")->tabText(0), QStringLiteral(" Start "));
    part<QPushButton>(w, "btnTemp")->click();
    QCOMPARE(part<QPushButton>(w, "btnTemp")->text(), QStringLiteral("℉"));
}

// ---------------------------------------------------------------------------

void tst_Window::liveReadingsFromTwoMeters()
{
    hidsim::MeterConfig first;
    first.id = meterId(1, QStringLiteral("LIVE1"));
    hidsim::Sample a;
    a.vol = 512345; // 5.12345 V
    a.cur = 123456; // 1.23456 A
    a.dp = 600;
    a.dm = 100;
    a.temp = 312;
    hidsim::plug(first);
    hidsim::setSample(first.id, a);

    hidsim::MeterConfig second;
    second.id = meterId(2, QStringLiteral("LIVE2"));
    hidsim::Sample b;
    b.vol = 2000000; // 20 V
    b.cur = 0;
    b.dp = 3300;
    b.dm = 3300;
    b.temp = 505;
    hidsim::plug(second);
    hidsim::setSample(second.id, b);

    // Both arrive in one scan; each window binds to the meter announced.
    QList<UsbWindow*> windows;
    QWidget* parent = host.get();
    UsbEvent* registry = UsbEvent::instance().data();
    connect(
        registry, &UsbEvent::hidDevArrival, host.get(), [&windows, parent](int) { windows << new UsbWindow(parent); });
    registry->hidDevArrivalSlot();
    QCOMPARE(windows.size(), 2);
    QCOMPARE(windows[0]->comLayer, registry->allComLayer.at(0));
    QCOMPARE(windows[1]->comLayer, registry->allComLayer.at(1));

    UsbWindow* w = windows[0];
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(w, "labelVbus")->text(), QStringLiteral("5.12345"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(w, "labelTemp")->text(), QStringLiteral("31.2"), 5000);
    QCOMPARE(part<QLabel>(w, "labelIbus")->text(), QStringLiteral("1.23456"));
    // 512345 * 123456 / 100000 = 632520 (truncated) -> 6.32520 W
    QCOMPARE(part<QLabel>(w, "labelPbus")->text(), QStringLiteral("6.32520"));
    QCOMPARE(part<QLabel>(w, "labelDp")->text(), QStringLiteral("0.600"));
    QCOMPARE(part<QLabel>(w, "labelDm")->text(), QStringLiteral("0.100"));
    QCOMPARE(part<QLabel>(w, "labelProt1")->text(), QStringLiteral("HUAWEI SCP"));
    QCOMPARE(part<QLabel>(w, "labelProt2")->text(), QStringLiteral("QC2.0 5V"));
    QCOMPARE(part<QLabel>(w, "labelImpd")->text(), QStringLiteral("4.15002"));

    UsbWindow* v = windows[1];
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(v, "labelVbus")->text(), QStringLiteral("20.00000"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(v, "labelTemp")->text(), QStringLiteral("50.5"), 5000);
    QCOMPARE(part<QLabel>(v, "labelImpd")->text(), QStringLiteral("9999999"));
    QCOMPARE(part<QLabel>(v, "labelProt1")->text(), QStringLiteral("QC2.0 20V"));
    QCOMPARE(part<QLabel>(v, "labelProt2")->text(), QStringLiteral("Unknown"));
    QCOMPARE(part<QLabel>(v, "labelTempIcon")->pixmap(Qt::ReturnByValue).toImage(),
        resourceImage(QStringLiteral(":/res/temp-red-24.png")));

    // A live change reaches the panel at a later refresh.
    a.vol = 2500000; // 25 V: above the VBUS limit
    hidsim::setSample(first.id, a);
    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(w, "labelVbus")->text(), QStringLiteral("25.00000"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(w->alarmVbusStatus, 5000);
    QVERIFY(w->timerSound->isActive());
    QVERIFY(!v->alarmVbusStatus);
}

void tst_Window::meterRemovedWhileAlarmDialogOpen()
{
    const hidsim::MeterConfig config = silentMeter(QStringLiteral("GONE1"));
    UsbWindow* created = plugAndOpen(config);
    QVERIFY(created);
    QPointer<UsbWindow> w(created);
    UsbEvent* registry = UsbEvent::instance().data();
    // As the main window does: the window goes inside the removal signal.
    connect(registry, &UsbEvent::hidDevDisconnected, host.get(), [w](int) { delete w.data(); });

    // Raised and sounding, so the window has everything running when it goes.
    setReadings(w, 30.0, 0, 0);
    w->updateParam();
    QVERIFY(w->timerSound->isActive());

    auto seen = answerNextModal([config](QWidget*) {
        hidsim::unplug(config.id);
        UsbEvent::instance()->hidDevRemoveSlot();
    });
    part<QToolButton>(w, "btnVbusAlarm")->click();
    QVERIFY(seen->seen);
    QVERIFY(w.isNull());
    QCOMPARE(int(registry->getDeviceCount()), 0);
    QVERIFY(!QApplication::activeModalWidget());
}

void tst_Window::screenshot()
{
    hidsim::MeterConfig config;
    config.id = meterId(1, QStringLiteral("SHOT1"));
    hidsim::Sample s;
    s.vol = 901234; // 9.01234 V, HUAWEI SCP / FCP AFC 9V
    s.cur = 203456;
    s.dp = 612;
    s.dm = 48;
    s.temp = 367;
    hidsim::plug(config);
    hidsim::setSample(config.id, s);

    // Styled as under the main window: the sheet set on a parent.
    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly));
    host->setStyleSheet(QString::fromUtf8(qss.readAll()));
    auto* layout = new QVBoxLayout(host.get());
    layout->setContentsMargins(0, 0, 0, 0);

    UsbWindow* w = plugAndOpen(config);
    QVERIFY(w);
    layout->addWidget(w);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));

    // Raise the IBUS alarm at a 2 A limit so the picture shows both icons.
    auto seen = answerAlarmDialog(true, 2.0);
    part<QToolButton>(w, "btnIbusAlarm")->click();
    QVERIFY(seen->title.size());

    QTRY_COMPARE_WITH_TIMEOUT(part<QLabel>(w, "labelVbus")->text(), QStringLiteral("9.01234"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(w->alarmIbusStatus, 5000);
    QCOMPARE(part<QLabel>(w, "labelProt1")->text(), QStringLiteral("HUAWEI SCP"));
    QCOMPARE(part<QLabel>(w, "labelProt2")->text(), QStringLiteral("FCP AFC 9V"));

    const QString dir = qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath());
    QVERIFY(host->grab().save(dir + QStringLiteral("/usbwindow.png")));
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
