#pragma once

#include "usbevent.h"

#include <QObject>
#include <QWidget>

// Lets the registry open the meters plugged into the simulator and builds a
// Page for each inside its arrival signal, as the main window does, so the
// page binds to its own connection. Returns the last page built, or null.
template <class Page> Page* openOnArrival(QWidget* parent)
{
    Page* created = nullptr;
    UsbEvent* registry = UsbEvent::instance().data();
    const auto c = QObject::connect(
        registry, &UsbEvent::hidDevArrival, registry, [&created, parent](int) { created = new Page(parent); });
    registry->hidDevArrivalSlot();
    QObject::disconnect(c);
    return created;
}
