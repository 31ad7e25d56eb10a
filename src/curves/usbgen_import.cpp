// Reading back a recording stored in the meter: the button, the replies and
// the watchdog are wired, the exchange comes next.

#include "usbgen.h"

void UsbGen::importButtonSlot() { }

void UsbGen::importCurvesMessageSlot(quint16 _count, quint32 _rate)
{
    Q_UNUSED(_count)
    Q_UNUSED(_rate)
}

void UsbGen::importCurvesSlot(int _count)
{
    Q_UNUSED(_count)
}

void UsbGen::getCurvesTimeoutSlot() { }
