#pragma once

#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

#include <cstdint>

class Com_Layer;
class QEvent;
class QSound;
class QTimer;
class QToolButton;
class UsbEvent;

namespace Ui {
class UsbWindow;
}

// The window of one connected meter: the three page tabs, the live readings
// panel with the charging protocol the readings suggest, and the VBUS, IBUS
// and PBUS alarms with their sound. Binds, while being constructed, to the
// newest connection of the registry and keeps it for its whole life.
class UsbWindow : public QWidget
{
    Q_OBJECT
public:
    // Charging protocols named on the panel; the value is the nibble code.
    enum PROTOCOL_IDENTITY_E
    {
        UNKNOWN = 0,
        DCP_1_5A,
        QC2_0_5V,
        QC2_0_9V,
        QC2_0_12V,
        QC2_0_20V,
        QC3_0,
        APPLE_2_1A,
        APPLE_2_4A,
        SAMSUNG2_0A,
        USB_2_FULL,
        USB_2_HIGH,
        FCP_AFC_9V,
        FCP_AFC_12V,
        HUAWEI_SCP,
        PD_MTK,
    };

    explicit UsbWindow(QWidget* parent = nullptr);
    ~UsbWindow() override;

public slots:
    void updateParam();
    void btnTempSlot();
    void btnVbusAlarmSlot();
    void btnIbusAlarmSlot();
    void btnPbusAlarmSlot();
    void timerSoundSlot();

protected:
    void changeEvent(QEvent* event) override;

private:
    friend class tst_Window;

    // The alarm dialog of one channel (0 VBUS, 1 IBUS, 2 PBUS) with that alarm's state.
    void runAlarmDialog(int channel, double& limit, bool& soundSwitch, bool& raised, QToolButton* button);
    void evaluateAlarm(double reading, double limit, bool& raised, bool soundSwitch, QToolButton* button);
    void retranslateAlarmButtons();

    uint8_t identifyProtocol(double _Dp, double _Dm, double _vol) const;
    void setAlarmSound(bool _state);

    Ui::UsbWindow* ui;
    double alarmVbus = 24.0;
    double alarmIbus = 7.0;
    double alarmPbus = 168.0;
    bool soundSwVbus = true;
    bool soundSwIbus = true;
    bool soundSwPbus = true;
    bool alarmVbusStatus = false;
    bool alarmIbusStatus = false;
    bool alarmPbusStatus = false;
    QTimer* timerUpdate = nullptr;
    uint8_t tempSymbol = 0; // 0 Celsius, 1 Fahrenheit
    QSharedPointer<UsbEvent> app;
    Com_Layer* comLayer = nullptr; // not owned; outlives this window
    bool soundState = false;
    QSound* alarmSound = nullptr;
    QTimer* timerSound = nullptr;
    QList<QString> allProto;
};
