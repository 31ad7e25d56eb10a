#pragma once

#include <QMutex>
#include <QObject>
#include <QVector>

// The latest readings of one meter. Written by the connection in the GUI
// thread, read by the device window (GUI thread) and the recorders (their own
// threads); every entry is set and read under mutex, one entry per lock.
class UsbParam : public QObject
{
    Q_OBJECT
public:
    enum usb_param_e
    {
        USB_PARAM_VBUS = 0, // V
        USB_PARAM_IBUS, // A
        USB_PARAM_DP, // V
        USB_PARAM_DM, // V
        USB_PARAM_PBUS, // W
        USB_PARAM_IMPD, // ohm
        USB_PARAM_TEMP, // degC
        USB_PARAM_COUNT
    };

    explicit UsbParam(QObject* parent = nullptr);

    // An index outside the seven entries is ignored.
    void setParam(double value, usb_param_e which);
    // An index outside the seven entries reads 0.0.
    double getParam(usb_param_e which) const;

private:
    mutable QMutex mutex;
    QVector<double> allParam; // guarded by mutex
};
