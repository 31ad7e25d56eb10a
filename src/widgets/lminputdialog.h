#pragma once

#include <QDialog>
#include <QString>

// An alarm limit of the device window: the limit in the unit of its channel
// (V, A or W) and whether the alarm also sounds while it is active.
typedef struct alarm_param_t
{
    double value = 0.0;
    bool soundSwitch = false;
} ALARM_PARAM_T;

// One step of a fast-charge trigger plan. The voltage is named by its position
// in the protocol's list of SuportProtocol::allProtVol; plan files store the
// three fields in this order.
typedef struct trigger_param_t
{
    int indexOfProt = 0; // 0 QC2.0, 1 QC3.0, 2 HUAWEI FCP, 3 HUAWEI SCP, 4 SAMSUNG AFC
    int indexOfVol = 0;
    int time = 0; // duration in ms
} TRIGGER_PARAM_T;

// The device pages' two modal input dialogs. Each static call builds its own
// dialog, runs it and returns the edited record; *_ok is set to true only when
// the user presses OK and is never written otherwise, so callers clear it first.
class LMInputDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LMInputDialog(QWidget* parent);

    // Asks for an alarm limit and its sound switch. Returns _val unchanged
    // unless the user presses OK.
    static ALARM_PARAM_T getDouble(QWidget* parent, const QString& _title, const QString& _str1, const QString& _str2,
        ALARM_PARAM_T _val, double _min, double _max, int _decimals, bool* _ok);

    // Asks for one trigger step. Returns the step as the dialog shows it when
    // it closes, with every edit made, also when the user cancels.
    static TRIGGER_PARAM_T getTrigData(QWidget* parent, TRIGGER_PARAM_T _val, bool* _ok);
};
