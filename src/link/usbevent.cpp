#include "usbevent.h"

#include "com_layer.h"
#include "com_usbhid.h"
#include "knownmeters.h"

#include <QMutexLocker>

#include <hidapi.h>

QMutex UsbEvent::m_Mutex;
QSharedPointer<UsbEvent> UsbEvent::m_pInstance;

namespace {
constexpr ushort MODEL_KD_VX350 = 0x0100;
constexpr int MAX_METERS = 255; // the count is 8 bits wide

std::wstring serialKey(const wchar_t* serial)
{
    return serial ? std::wstring(serial) : std::wstring();
}
} // namespace

UsbEvent::UsbEvent()
    : QObject(nullptr)
{
    qRegisterMetaType<DEV_MSG_T>("DEV_MSG_T");
    qRegisterMetaType<DEV_PARAM_T>("DEV_PARAM_T");
    qRegisterMetaType<PC_VOL_PARAM_QUEUE_T>("PC_VOL_PARAM_QUEUE_T");
    // Lets listeners queue or record the registry's once-a-second signal.
    qRegisterMetaType<uint64_t>("uint64_t");

    for (const known_meter_t& meter : knownMeters) {
        allVID.append(meter.vid);
        allPID.append(meter.pid);
    }
    modelMap.insert(MODEL_KD_VX350, QStringLiteral("KD-VX350"));
}

UsbEvent::~UsbEvent()
{
    removeAllDev();
}

QSharedPointer<UsbEvent>& UsbEvent::instance()
{
    if (m_pInstance.isNull()) {
        QMutexLocker lock(&m_Mutex);
        if (m_pInstance.isNull())
            m_pInstance = QSharedPointer<UsbEvent>(new UsbEvent);
    }
    return m_pInstance;
}

void UsbEvent::resetInstance()
{
    QMutexLocker lock(&m_Mutex);
    m_pInstance.reset();
}

uint8_t UsbEvent::getDeviceCount() const
{
    return deviceCounter;
}

Com_Layer* UsbEvent::newestComLayer() const
{
    const int index = static_cast<uint8_t>(deviceCounter - 1);
    return index < allComLayer.size() ? allComLayer.at(index) : nullptr;
}

void UsbEvent::removeAllDev()
{
    existSN.clear();
    while (!allComLayer.isEmpty())
        delete allComLayer.takeLast();
}

bool UsbEvent::isExistInPC(ushort vid, ushort pid, const wchar_t* serial)
{
    const std::wstring wanted = serialKey(serial);
    bool found = false;
    hid_device_info* devices = hid_enumerate(vid, pid);
    for (hid_device_info* dev = devices; dev && !found; dev = dev->next)
        found = dev->vendor_id == vid && dev->product_id == pid && serialKey(dev->serial_number) == wanted;
    hid_free_enumeration(devices);
    return found;
}

void UsbEvent::hidDevArrivalSlot()
{
    for (int row = 0; row < allVID.size(); ++row) {
        const ushort vid = allVID.at(row);
        const ushort pid = allPID.at(row);
        hid_device_info* devices = hid_enumerate(vid, pid);
        for (hid_device_info* dev = devices; dev; dev = dev->next) {
            if (dev->vendor_id != vid || dev->product_id != pid)
                continue;
            const std::wstring serial = serialKey(dev->serial_number);
            bool known = false;
            for (int k = 0; k < existSN.size() && !known; ++k)
                known = existVID.at(k) == vid && existPID.at(k) == pid && existSN.at(k) == serial;
            if (!known)
                addNewDevice(vid, pid, serial.c_str(), dev->path);
        }
        hid_free_enumeration(devices);
    }
}

void UsbEvent::addNewDevice(ushort vid, ushort pid, const wchar_t* serial, const char* path)
{
    // A 256th meter would wrap the 8-bit count and break every index.
    if (deviceCounter >= MAX_METERS)
        return;

    auto* com = new Com_Layer(nullptr);
    com->hid->open(vid, pid, serial, path);
    if (!com->hid->isConnected()) {
        delete com;
        return;
    }

    existVID.append(vid);
    existPID.append(pid);
    existSN.append(serialKey(serial));
    allComLayer.append(com);
    const bool formatOne = !allVID.isEmpty() && vid == allVID.first() && pid == allPID.first();
    com->setCommunicateFormat(formatOne ? 1 : 2);
    ++deviceCounter;

    // The pages of this meter are built inside this emission and bind to it.
    emit hidDevArrival(deviceCounter - 1);

    connect(com, &Com_Layer::updateDevMsg, this, &UsbEvent::receiveDevMsg, Qt::UniqueConnection);
    connect(com, &Com_Layer::updateConnectTime, this, &UsbEvent::connectTimeUpdatedSlot, Qt::UniqueConnection);
    // Only now may replies arrive: every page is listening.
    com->openReceiveAndSend();
}

void UsbEvent::hidDevRemoveSlot()
{
    if (deviceCounter == 0)
        return;
    int i = 0;
    while (i < deviceCounter && i < allComLayer.size()) {
        if (isExistInPC(existVID.at(i), existPID.at(i), existSN.at(i).c_str())) {
            ++i;
            continue;
        }
        --deviceCounter;
        // The main window removes the meter's row and window first; the connection still exists.
        emit hidDevDisconnected(i);
        delete allComLayer.takeAt(i);
        existVID.removeAt(i);
        existPID.removeAt(i);
        existSN.removeAt(i);
        // Position i now holds the next meter: look at it again.
    }
}

void UsbEvent::receiveDevMsg(Com_Layer* _com, DEV_MSG_T _devMsg)
{
    const int index = allComLayer.indexOf(_com);
    if (index < 0)
        return;
    emit updateDevMsg(index, _devMsg);
    // Every identity reply (re)starts the live stream of a format-2 meter.
    if (_com->getCommunicateFormat() == 2)
        _com->addPack(Com_Layer::PC_APP_START_TRANS_REAL_TIME_DATA, nullptr, 0);
}

void UsbEvent::connectTimeUpdatedSlot(Com_Layer* _com, uint64_t _time)
{
    const int index = allComLayer.indexOf(_com);
    if (index >= 0)
        emit updateConnectTime(index, _time);
}
