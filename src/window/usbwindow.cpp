#include "usbwindow.h"
#include "ui_usbwindow.h"

#include "com_layer.h"
#include "identifyprotocol.h"
#include "lminputdialog.h"
#include "usbevent.h"
#include "usbparam.h"

#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QSound>
#include <QTimer>
#include <QToolButton>

#include <cmath>

namespace {

const int updateIntervalMs = 200;
const int soundIntervalMs = 1000;

// Above this many degrees Celsius the temperature picture turns red.
const double hotCelsius = 50.0;

// Texts and range of each alarm's dialog and button, by channel (VBUS, IBUS, PBUS).
struct AlarmText
{
    const char* prompt;
    const char* unitText;
    double maximum;
    const char* labelKey;
    const char* format; // %1 the label, %2 the limit
};

const AlarmText alarmTexts[3] = {
    { QT_TRANSLATE_NOOP("UsbWindow", "  When VBUS is greater than the following value, an alarm will occur."),
        QT_TRANSLATE_NOOP("UsbWindow", "Unit:(V)"), 28.0, QT_TRANSLATE_NOOP("UsbWindow", "VBUS ALARM"), "%1: %2V" },
    { QT_TRANSLATE_NOOP("UsbWindow", "  When IBUS is greater than the following value, an alarm will occur."),
        QT_TRANSLATE_NOOP("UsbWindow", "Unit:(A)"), 8.0, QT_TRANSLATE_NOOP("UsbWindow", "IBUS ALARM"), "%1: %2A" },
    { QT_TRANSLATE_NOOP("UsbWindow", "  When PBUS is greater than the following value, an alarm will occur."),
        QT_TRANSLATE_NOOP("UsbWindow", "Unit:(W)"), 224.0, QT_TRANSLATE_NOOP("UsbWindow", "PBUS ALARM"), "%1: %2W" },
};

// Six significant digits below 100000 ohm, whole ohms from there on. Counted
// on the whole part as a double, so no reading (not even an absurd one) can
// overflow an integer conversion.
int loadDecimals(double impd)
{
    const double whole = std::trunc(std::fabs(impd));
    if (whole >= 100000.0)
        return 0;
    if (whole >= 10000.0)
        return 1;
    if (whole >= 1000.0)
        return 2;
    if (whole >= 100.0)
        return 3;
    if (whole >= 10.0)
        return 4;
    return 5;
}

// The form's minimum widths suit a narrow font. Where the desktop's font is
// wider, the box grows to hold its widest reading: a shown window does not
// grow by itself, so a box sized for "0.00000" would clip "224.00000" later.
void reserveWidth(QLabel* label, const QString& widest)
{
    label->ensurePolished();
    const QMargins margins = label->contentsMargins();
    const int needed = label->fontMetrics().horizontalAdvance(widest) + 2 * (label->frameWidth() + label->margin())
        + margins.left() + margins.right() + label->fontMetrics().averageCharWidth();
    if (label->minimumWidth() < needed)
        label->setMinimumWidth(needed);
}

} // namespace

UsbWindow::UsbWindow(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UsbWindow)
    , timerUpdate(new QTimer(this))
{
    ui->setupUi(this);
    // One width for the five reading boxes keeps them in line.
    for (QLabel* box : { ui->labelVbus, ui->labelIbus, ui->labelPbus, ui->labelDp, ui->labelDm })
        reserveWidth(box, QStringLiteral("224.00000"));
    reserveWidth(ui->labelImpd, QStringLiteral("9999999"));
    reserveWidth(ui->labelTemp, QStringLiteral("-888.8"));

    connect(ui->btnTemp, &QPushButton::clicked, this, &UsbWindow::btnTempSlot);

    connect(timerUpdate, &QTimer::timeout, this, &UsbWindow::updateParam);
    timerUpdate->start(updateIntervalMs);

    alarmVbus = 24.0;
    alarmIbus = 7.0;
    alarmPbus = 168.0;
    alarmVbusStatus = false;
    alarmIbusStatus = false;
    alarmPbusStatus = false;
    soundSwVbus = true;
    soundSwIbus = true;
    soundSwPbus = true;
    tempSymbol = 0;

    connect(ui->btnVbusAlarm, &QToolButton::clicked, this, &UsbWindow::btnVbusAlarmSlot);
    connect(ui->btnIbusAlarm, &QToolButton::clicked, this, &UsbWindow::btnIbusAlarmSlot);
    connect(ui->btnPbusAlarm, &QToolButton::clicked, this, &UsbWindow::btnPbusAlarmSlot);

    // Built while the registry announces its newest meter; with no meter at
    // all the window stays unbound and shows its start values.
    app = UsbEvent::instance();
    comLayer = app->newestComLayer();

    allProto << QStringLiteral("DCP 1.5A") << QStringLiteral("QC2.0 5V") << QStringLiteral("QC2.0 9V")
             << QStringLiteral("QC2.0 12V") << QStringLiteral("QC2.0 20V") << QStringLiteral("QC3.0")
             << QStringLiteral("APPLE 2.1A") << QStringLiteral("APPLE 2.4A") << QStringLiteral("SAMSUNG2.0A")
             << QStringLiteral("USB2.0 FULL") << QStringLiteral("USB2.0 HIGH") << QStringLiteral("FCP AFC 9V")
             << QStringLiteral("FCP AFC 12V") << QStringLiteral("HUAWEI SCP") << QStringLiteral("PD MTK");

    soundState = false;
    alarmSound = new QSound(QStringLiteral(":/res/duka3.wav"), this);
    timerSound = new QTimer(this);
    timerSound->setInterval(soundIntervalMs);
    connect(timerSound, &QTimer::timeout, this, &UsbWindow::timerSoundSlot);
}

UsbWindow::~UsbWindow()
{
    delete ui;
    ui = nullptr;
    app.reset();
}

void UsbWindow::updateParam()
{
    if (!comLayer)
        return;
    const UsbParam& param = comLayer->usbParam;

    const double vbus = param.getParam(UsbParam::USB_PARAM_VBUS);
    const double ibus = param.getParam(UsbParam::USB_PARAM_IBUS);
    const double pbus = param.getParam(UsbParam::USB_PARAM_PBUS);
    ui->labelVbus->setText(QString::number(vbus, 'f', 5));
    ui->labelIbus->setText(QString::number(ibus, 'f', 5));
    ui->labelPbus->setText(QString::number(pbus, 'f', 5));

    const double dp = param.getParam(UsbParam::USB_PARAM_DP);
    const double dm = param.getParam(UsbParam::USB_PARAM_DM);
    ui->labelDp->setText(QString::number(dp, 'f', 3));
    ui->labelDm->setText(QString::number(dm, 'f', 3));

    const uint8_t code = identifyProtocol(dp, dm, vbus);
    const int mainCode = code >> 4;
    const int secondCode = code & 0x0F;
    ui->labelProt1->setText(mainCode == UNKNOWN ? tr("Unknown") : allProto.at(mainCode - 1));
    ui->labelProt2->setText(secondCode == UNKNOWN ? tr("Unknown") : allProto.at(secondCode - 1));

    const double impd = param.getParam(UsbParam::USB_PARAM_IMPD);
    ui->labelImpd->setText(QString::number(impd, 'f', loadDecimals(impd)));

    const double celsius = param.getParam(UsbParam::USB_PARAM_TEMP);
    // The picture follows the Celsius value whichever unit is shown.
    ui->labelTempIcon->setPixmap(QPixmap(
        celsius < hotCelsius ? QStringLiteral(":/res/temp-blue-24.png") : QStringLiteral(":/res/temp-red-24.png")));
    const double shown = tempSymbol == 1 ? celsius * 9.0 / 5.0 + 32.0 : celsius;
    ui->labelTemp->setText(QString::number(shown, 'f', 1));

    // The alarms compare fresh readings, VBUS first.
    evaluateAlarm(param.getParam(UsbParam::USB_PARAM_VBUS), alarmVbus, alarmVbusStatus, soundSwVbus, ui->btnVbusAlarm);
    evaluateAlarm(param.getParam(UsbParam::USB_PARAM_IBUS), alarmIbus, alarmIbusStatus, soundSwIbus, ui->btnIbusAlarm);
    evaluateAlarm(param.getParam(UsbParam::USB_PARAM_PBUS), alarmPbus, alarmPbusStatus, soundSwPbus, ui->btnPbusAlarm);
}

void UsbWindow::evaluateAlarm(double reading, double limit, bool& raised, bool soundSwitch, QToolButton* button)
{
    if (reading > limit) {
        if (!raised) {
            raised = true;
            button->setIcon(QIcon(QStringLiteral(":/res/alarm-50.png")));
        }
        if (soundSwitch)
            setAlarmSound(true);
    } else if (raised) {
        raised = false;
        button->setIcon(QIcon(QStringLiteral(":/res/noAlarm-64.png")));
        // Silences every alarm; one still raised with sound turns it on again
        // at its next evaluation, with a fresh period.
        setAlarmSound(false);
    }
}

void UsbWindow::setAlarmSound(bool _state)
{
    if (_state) {
        if (!soundState) {
            soundState = true;
            timerSound->start();
        }
    } else if (soundState) {
        soundState = false;
        timerSound->stop();
    }
}

void UsbWindow::timerSoundSlot()
{
    alarmSound->play();
}

void UsbWindow::btnTempSlot()
{
    if (tempSymbol == 0) {
        ui->btnTemp->setText(tr("1F"));
        tempSymbol = 1;
    } else {
        ui->btnTemp->setText(tr("1C"));
        tempSymbol = 0;
    }
}

void UsbWindow::btnVbusAlarmSlot()
{
    runAlarmDialog(0, alarmVbus, soundSwVbus, alarmVbusStatus, ui->btnVbusAlarm);
}

void UsbWindow::btnIbusAlarmSlot()
{
    runAlarmDialog(1, alarmIbus, soundSwIbus, alarmIbusStatus, ui->btnIbusAlarm);
}

void UsbWindow::btnPbusAlarmSlot()
{
    runAlarmDialog(2, alarmPbus, soundSwPbus, alarmPbusStatus, ui->btnPbusAlarm);
}

void UsbWindow::runAlarmDialog(int channel, double& limit, bool& soundSwitch, bool& raised, QToolButton* button)
{
    const AlarmText& text = alarmTexts[channel];
    bool ok = false;
    // The meter may be unplugged while the dialog is open: its window, and the
    // dialog with it, are then deleted inside the dialog's event loop, and
    // nothing of this window may be touched afterwards.
    const QPointer<UsbWindow> alive(this);
    const ALARM_PARAM_T result = LMInputDialog::getDouble(this, tr("Set alarm value"), tr(text.prompt),
        tr(text.unitText), ALARM_PARAM_T { limit, soundSwitch }, 0.0, text.maximum, 2, &ok);
    if (!alive)
        return;

    limit = result.value;
    soundSwitch = result.soundSwitch;
    if (ok)
        button->setText(QString::fromLatin1(text.format).arg(tr(text.labelKey), QString::number(limit, 'f', 2)));

    // Closing the dialog acknowledges the alarm; a reading still above the
    // limit raises it again at the next refresh.
    if (raised) {
        raised = false;
        button->setIcon(QIcon(QStringLiteral(":/res/noAlarm-64.png")));
        setAlarmSound(false);
    }
}

void UsbWindow::retranslateAlarmButtons()
{
    const double limits[3] = { alarmVbus, alarmIbus, alarmPbus };
    QToolButton* buttons[3] = { ui->btnVbusAlarm, ui->btnIbusAlarm, ui->btnPbusAlarm };
    for (int i = 0; i < 3; ++i) {
        const AlarmText& text = alarmTexts[i];
        buttons[i]->setText(
            QString::fromLatin1(text.format).arg(tr(text.labelKey), QString::number(limits[i], 'f', 2)));
    }
}

void UsbWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange && ui) {
        ui->retranslateUi(this);
        ui->btnTemp->setText(tempSymbol == 1 ? tr("1F") : tr("1C"));
        retranslateAlarmButtons();
    }
}

uint8_t UsbWindow::identifyProtocol(double _Dp, double _Dm, double _vol) const
{
    return ::identifyProtocol(_Dp, _Dm, _vol);
}
