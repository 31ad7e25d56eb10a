#pragma once

#include "datastructure.h"
#include "usbparam.h"

#include <QByteArray>
#include <QObject>

#include <atomic>

class Com_UsbHid;
class QThread;
class QTimer;

// Reads one report per tick of the connection's 2 ms timer and decodes it.
// Lives in the connection's receive thread; its signals reach the connection
// queued, each carrying its data by value.
class Com_Receive : public QObject
{
    Q_OBJECT
public:
    // Reply codes of format 2 (frame byte 1).
    enum pc_dev_2_app_e
    {
        PC_DEV_SEND_ACK = 1,
        PC_DEV_SEND_NACK = 2,
        PC_DEV_SEND_DEVICE_MSG = 3,
        PC_DEV_SEND_REAL_TIME_DATA = 4,
        PC_DEV_SEND_CURVES_MSG = 5,
        PC_DEV_SEND_CURVES = 6,
        PC_DEV_TRIGGER_SUCCESS = 7,
        PC_DEV_TRIGGER_FAIL = 8,
    };

    explicit Com_Receive(Com_UsbHid* _hid, QObject* parent = nullptr);

    // Set before the thread starts.
    void setFormat(uchar _format);

    // Checks and dispatches the 64 bytes at frame; len is the read's count, and
    // a report shorter than a frame is dropped.
    void decodingData(quint8* frame, uchar len);

signals:
    void updateDevMsg(DEV_MSG_T _devMsg);
    void dataUpdated(DEV_PARAM_T _param);
    void addRecordFifo(PC_VOL_PARAM_QUEUE_T _queueParam);
    void deviceSendCurvesMessage(quint16 _count, quint32 _rate);
    void deviceSendCurves(int _count, QByteArray buf);
    void deviceSendTrigSuccess();
    void deviceSendTrigFail();
    void updateHeadAck();
    void updateDataAck();
    void updateEndAck();
    void updateCrcError();
    void updateInvalidData();

public slots:
    void receive();

private:
    Com_UsbHid* hid; // not owned; this thread reads while the send thread writes
    READ_BUF_T read; // receive thread only
    uint8_t communicateFormat = 0; // set before the thread starts, then read only
};

// Writes the queued frames on the connection's send thread.
class Com_Send : public QObject
{
    Q_OBJECT
public:
    explicit Com_Send(Com_UsbHid* _hid, QObject* parent = nullptr);

    void setFormat(uchar _format);

    // GUI thread: appends one 64-byte frame; a frame that does not fit is dropped.
    bool enqueue(const quint8* frame);
    // Bytes waiting in the queue (either thread).
    int pending() const;

    // Set by the GUI thread when it posts a tick, cleared by the send thread
    // when it takes one, so that at most one tick waits at a time.
    std::atomic<bool> tickPosted { false };

public slots:
    void sendData();

private:
    Com_UsbHid* hid; // not owned
    SEND_FIFO_T sendFIFO;
    uint8_t communicateFormat = 0; // kept for symmetry; sending does not depend on it
};

// The link to one opened meter: HID handle, two worker threads, the 2 ms I/O
// timer and the 1 s sign-in/keep-alive timer. Lives in the GUI thread; created
// and deleted by the registry.
class Com_Layer : public QObject
{
    Q_OBJECT
public:
    // Commands of format 2 (frame byte 1).
    enum pc_app_2_dev_e
    {
        PC_APP_GET_DEVICE_MSG = 0x81,
        PC_APP_START_TRANS_REAL_TIME_DATA = 0x82,
        PC_APP_STILL_CONNECTING = 0x83,
        PC_APP_GET_CURVES = 0x84,
        PC_APP_HAD_GET_CURVES_MSG = 0x85,
        PC_APP_HAD_GET_CURVES = 0x86,
        PC_APP_STOP_GET_CURVES = 0x87,
        PC_APP_SET_CHARGE_PROT = 0x88,
        PC_APP_RELEASE_CHARGE_PROT = 0x89,
    };

    explicit Com_Layer(QObject* parent = nullptr);
    ~Com_Layer() override;

    // Creates and starts the workers, their threads and the 2 ms timer; once.
    void openReceiveAndSend();

    void setCommunicateFormat(uchar _format);
    uchar getCommunicateFormat() const;
    quint64 getConnectTime() const;

    Com_Receive* receive = nullptr;
    Com_Send* send = nullptr;
    uint8_t communicateFormat = 0;
    QTimer* connectTimer = nullptr;
    uint64_t connectTime = 0;
    QThread* threadReceive = nullptr;
    QThread* threadSend = nullptr;
    QTimer* readWritetimer = nullptr;
    Com_UsbHid* hid = nullptr; // child; the receive thread reads and the send thread writes through it
    DEV_MSG_T devMsg {}; // GUI thread only
    UsbParam usbParam; // thread-safe, see UsbParam
    bool isSignIn = false;

signals:
    void updateConnectTime(Com_Layer* _com, quint64 _time);
    void updateDevMsg(Com_Layer* _com, DEV_MSG_T _devMsg);
    void dataUpdated(UsbParam* _usbParam);
    void addRecordFifo(PC_VOL_PARAM_QUEUE_T _queueParam);
    void deviceSendCurvesMessage(quint16 _count, quint32 _rate);
    void deviceSendCurves(int _count, QByteArray buf);
    void deviceSendTrigSuccess();
    void deviceSendTrigFail();
    void updateHeadAck();
    void updateDataAck();
    void updateEndAck();
    void updateCrcError();
    void updateInvalidData();

public slots:
    // Format 2: command and payload; _len is cut to 61. GUI thread only.
    void addPack(uchar _type, quint8* _pData, uchar _len);
    // Format 1: code, packet id, frame number and payload; _len is cut to 58. GUI thread only.
    void addPack(uchar _type, uchar _packID, ushort _packIndex, quint8* _pData, uchar _len);
    void existTimeSlot();
    void getDeviceMessage();
    void updateDevMsgSlot(DEV_MSG_T _devMsg);
    void updateParamSlot(DEV_PARAM_T _param);

private:
    void queueFrame(const quint8* frame);
    void postSendTick();
};
