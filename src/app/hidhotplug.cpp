#include "hidhotplug.h"

#include <QDebug>
#include <QSocketNotifier>

#include <libudev.h>

HidHotplug::HidHotplug(QObject* parent, const char* source)
    : QObject(parent)
{
    context = udev_new();
    if (context)
        monitor = udev_monitor_new_from_netlink(context, source);
    if (monitor
        && (udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0
            || udev_monitor_enable_receiving(monitor) < 0)) {
        udev_monitor_unref(monitor);
        monitor = nullptr;
    }
    const int fd = monitor ? udev_monitor_get_fd(monitor) : -1;
    if (fd < 0) {
        // Meters present at start are still found by the first scan; later
        // arrivals and removals go unnoticed.
        qDebug() << "register fail";
        return;
    }
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &HidHotplug::readEvents);
}

HidHotplug::~HidHotplug()
{
    delete notifier;
    if (monitor)
        udev_monitor_unref(monitor);
    if (context)
        udev_unref(context);
}

void HidHotplug::handleAction(const QByteArray& action)
{
    if (action == "add")
        emit deviceAdded();
    else if (action == "remove")
        emit deviceRemoved();
}

void HidHotplug::readEvents()
{
    // The monitor's socket is non-blocking: take every event that is waiting.
    while (struct udev_device* device = udev_monitor_receive_device(monitor)) {
        const QByteArray action(udev_device_get_action(device));
        udev_device_unref(device);
        handleAction(action);
    }
}
