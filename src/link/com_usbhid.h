#pragma once

#include <QObject>

#include <atomic>

#include <hidapi.h>

// The HID handle of one meter. Opened and closed in the GUI thread; while the
// connection's workers run, the receive thread reads and the send thread
// writes through the same handle at once (hidapi allows one reader and one
// writer).
class Com_UsbHid : public QObject
{
    Q_OBJECT
public:
    explicit Com_UsbHid(QObject* parent = nullptr);
    ~Com_UsbHid() override;

    bool isConnected() const;

    // Makes a write that is still retrying give up at its next attempt, and
    // every later write return at once. Called when the connection is being
    // torn down, so joining the send thread never waits for the retries.
    void abortWrites();

public slots:
    // A device without a serial string (_SN null or empty) is opened by _path,
    // the path its enumeration gave; with neither, the first device of (_vid, _pid).
    void open(ushort _vid, ushort _pid, const wchar_t* _SN, const char* _path = nullptr);
    void close();
    // Writes one output report: _reportID, then _len bytes. A refused write is
    // retried, 150 attempts in all, with 10 ms after every attempt.
    void sendData(uchar _reportID, quint8* _pData, uchar _len);
    // Non-blocking: the report's length, 0 when none waits, -1 without a handle or on error.
    int readData(quint8* _pData, uchar _len);

private:
    hid_device* device = nullptr; // set and cleared in the GUI thread, only while the workers are stopped
    bool connected = false; // GUI thread only
    uint16_t realVID = 0;
    uint16_t realPID = 0;
    std::atomic<bool> aborting { false }; // set by the GUI thread, read by the send thread
};
