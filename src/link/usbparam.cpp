#include "usbparam.h"

#include <QMutexLocker>

UsbParam::UsbParam(QObject* parent)
    : QObject(parent)
    , allParam(USB_PARAM_COUNT, 0.0)
{
    allParam[USB_PARAM_TEMP] = 25.0;
}

void UsbParam::setParam(double value, usb_param_e which)
{
    if (which < 0 || which >= USB_PARAM_COUNT)
        return;
    QMutexLocker lock(&mutex);
    allParam[which] = value;
}

double UsbParam::getParam(usb_param_e which) const
{
    if (which < 0 || which >= USB_PARAM_COUNT)
        return 0.0;
    QMutexLocker lock(&mutex);
    return allParam[which];
}
