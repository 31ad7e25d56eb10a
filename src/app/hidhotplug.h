#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// Watches the kernel's hidraw devices through libudev and reports each "add" and
// "remove" event once. The main window turns them into its hidDevArrival() and
// hidDevRemoved(); nothing else in the program sees the platform's notifications.
class HidHotplug : public QObject
{
    Q_OBJECT
public:
    // source is the netlink source of the monitor: "udev" gets events after the
    // udev rules have run, so a new node already carries its access rights.
    explicit HidHotplug(QObject* parent = nullptr, const char* source = "udev");
    ~HidHotplug() override;

    // False when the monitor could not be created; then no event is ever reported.
    bool isActive() const { return notifier != nullptr; }

public slots:
    // Reports one event by its udev action; actions other than "add" and "remove" are ignored.
    void handleAction(const QByteArray& action);

signals:
    void deviceAdded();
    void deviceRemoved();

private:
    void readEvents();

    struct udev* context = nullptr;
    struct udev_monitor* monitor = nullptr;
    QSocketNotifier* notifier = nullptr;
};
