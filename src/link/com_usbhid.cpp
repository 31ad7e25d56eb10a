#include "com_usbhid.h"

#include <QThread>

#include <cstring>

namespace {
constexpr int WRITE_ATTEMPTS = 150;
constexpr unsigned long WRITE_PAUSE_MS = 10;
} // namespace

Com_UsbHid::Com_UsbHid(QObject* parent)
    : QObject(parent)
{
}

Com_UsbHid::~Com_UsbHid()
{
    close();
}

bool Com_UsbHid::isConnected() const
{
    return connected;
}

void Com_UsbHid::abortWrites()
{
    aborting.store(true, std::memory_order_release);
}

void Com_UsbHid::open(ushort _vid, ushort _pid, const wchar_t* _SN, const char* _path)
{
    if (device)
        return;
    // With a null serial hidapi opens the first device of (_vid, _pid), which may
    // be another meter already open: a device without a serial goes by its path.
    const bool hasSerial = _SN && *_SN;
    if (!hasSerial && _path)
        device = hid_open_path(_path);
    else
        device = hid_open(_vid, _pid, hasSerial ? _SN : nullptr);
    if (!device) {
        connected = false;
        return;
    }
    connected = true;
    hid_set_nonblocking(device, 1);
    realVID = _vid;
    realPID = _pid;
}

void Com_UsbHid::close()
{
    if (!device)
        return;
    hid_close(device);
    device = nullptr;
    connected = false;
}

void Com_UsbHid::sendData(uchar _reportID, quint8* _pData, uchar _len)
{
    if (!device)
        return;
    unsigned char report[256] = {}; // a null payload goes out as zeros
    report[0] = _reportID;
    if (_pData && _len)
        std::memcpy(report + 1, _pData, _len);
    for (int attempt = 0; attempt < WRITE_ATTEMPTS; ++attempt) {
        const bool written = hid_write(device, report, size_t(_len) + 1) != -1;
        // While the connection shuts down a refused frame is not retried, so
        // joining the send thread never waits 1.5 s per pending frame.
        if (!written && aborting.load(std::memory_order_acquire))
            return;
        QThread::msleep(WRITE_PAUSE_MS); // after every attempt: the meter takes one frame per 10 ms
        if (written)
            return;
    }
}

int Com_UsbHid::readData(quint8* _pData, uchar _len)
{
    if (!device)
        return -1;
    return hid_read(device, _pData, _len);
}
