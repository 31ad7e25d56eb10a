#include "com_layer.h"

#include "com_usbhid.h"
#include "lib_crc.h"

#include <QThread>
#include <QTimer>

#include <cstring>
#include <limits>

namespace {
constexpr int CONNECT_INTERVAL_MS = 1000;
constexpr int IO_INTERVAL_MS = 2;
constexpr int FRAMES_QUEUE_BYTES = SEND_FIFO_SIZE - 1; // 16 frames

quint16 le16(const quint8* p)
{
    return quint16(p[0] | (p[1] << 8));
}

quint32 le32(const quint8* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}
} // namespace

// ---------------------------------------------------------------- Com_Receive

Com_Receive::Com_Receive(Com_UsbHid* _hid, QObject* parent)
    : QObject(parent)
    , hid(_hid)
{
    read.write = 0;
    std::memset(read.buf, 0, sizeof read.buf);
}

void Com_Receive::setFormat(uchar _format)
{
    communicateFormat = _format;
}

void Com_Receive::receive()
{
    const uint16_t slot = read.write;
    // write never exceeds 960, so a whole report always fits at slot.
    int n = hid->readData(read.buf + slot, COM_FRAME_SIZE);
    if (n <= 0)
        return;
    if (n > COM_FRAME_SIZE)
        n = COM_FRAME_SIZE;
    read.write = uint16_t((slot + n) % (READ_BUF_SIZE + 1));
    if (READ_BUF_SIZE - read.write < COM_FRAME_SIZE)
        read.write = 0;
    decodingData(read.buf + slot, uchar(n));
}

void Com_Receive::decodingData(quint8* frame, uchar len)
{
    // The rest of a short report's slot still holds a report read 16 reads ago:
    // decoding it would replay that one. A meter sends whole reports only.
    if (len < COM_FRAME_SIZE)
        return;
    if (communicateFormat == 2) {
        if (frame[0] != COM_FORMAT_2_START)
            return;
        if (frame[COM_CRC_LEN] != lib_CRC::getCRC8(frame, COM_CRC_LEN, COM_CRC_POLY))
            return;
        const quint8* data = frame + 2;
        switch (frame[1]) {
        case PC_DEV_SEND_DEVICE_MSG: {
            DEV_MSG_T msg;
            std::memcpy(&msg, data, sizeof msg);
            emit updateDevMsg(msg);
            break;
        }
        case PC_DEV_SEND_REAL_TIME_DATA: {
            PC_VOL_PARAM_QUEUE_T queue;
            std::memcpy(&queue, data, sizeof queue);
            const PC_VOL_PARAM_T& newest = queue.param[3];
            DEV_PARAM_T param;
            param.vol = newest.vol;
            param.cur = newest.cur;
            param.dp = newest.dp;
            param.dm = newest.dm;
            param.temp = double(newest.temp);
            if (newest.symbol == 0)
                param.temp = -param.temp;
            emit dataUpdated(param);
            emit addRecordFifo(queue);
            break;
        }
        case PC_DEV_SEND_CURVES_MSG:
            emit deviceSendCurvesMessage(le16(data), le32(data + 4));
            break;
        case PC_DEV_SEND_CURVES: {
            int count = data[0];
            if (count > CURVES_BLOCK_POINTS_MAX)
                count = CURVES_BLOCK_POINTS_MAX;
            // A copy: the slot is reused once 16 more reports have been read.
            emit deviceSendCurves(
                count, QByteArray(reinterpret_cast<const char*>(data + 1), count * CURVES_POINT_SIZE));
            break;
        }
        case PC_DEV_TRIGGER_SUCCESS:
            emit deviceSendTrigSuccess();
            break;
        case PC_DEV_TRIGGER_FAIL:
            emit deviceSendTrigFail();
            break;
        default:
            break;
        }
    } else if (communicateFormat == 1) {
        if (frame[COM_CRC_LEN] != lib_CRC::getCRC8(frame, COM_CRC_LEN, COM_CRC_POLY))
            return;
        switch (frame[0]) {
        case FMT1_DEV_MSG: {
            DEV_MSG_T msg {};
            msg.runMode = frame[8];
            msg.bootVersion = le16(frame + 9);
            msg.model = frame[5];
            msg.appVersion = le16(frame + 6);
            msg.sn = le16(frame + 11);
            msg.runCnt = 0;
            emit updateDevMsg(msg);
            break;
        }
        case FMT1_HEAD_ACK:
            emit updateHeadAck();
            break;
        case FMT1_DATA_ACK:
            emit updateDataAck();
            break;
        case FMT1_END_ACK:
            emit updateEndAck();
            break;
        case FMT1_CRC_ERROR:
            emit updateCrcError();
            break;
        case FMT1_INVALID_DATA:
            emit updateInvalidData();
            break;
        default:
            break;
        }
    }
}

// ------------------------------------------------------------------- Com_Send

Com_Send::Com_Send(Com_UsbHid* _hid, QObject* parent)
    : QObject(parent)
    , hid(_hid)
{
    sendFIFO.front.store(0);
    sendFIFO.rear.store(0);
    std::memset(sendFIFO.buf, 0, sizeof sendFIFO.buf);
}

void Com_Send::setFormat(uchar _format)
{
    communicateFormat = _format;
}

int Com_Send::pending() const
{
    const int front = sendFIFO.front.load(std::memory_order_acquire);
    const int rear = sendFIFO.rear.load(std::memory_order_acquire);
    return (rear - front + SEND_FIFO_SIZE) % SEND_FIFO_SIZE;
}

bool Com_Send::enqueue(const quint8* frame)
{
    // A full queue keeps its 16 frames; the new one is dropped.
    if (pending() + COM_FRAME_SIZE > FRAMES_QUEUE_BYTES)
        return false;
    int rear = sendFIFO.rear.load(std::memory_order_relaxed);
    for (int i = 0; i < COM_FRAME_SIZE; ++i) {
        sendFIFO.buf[rear] = frame[i];
        rear = (rear + 1) % SEND_FIFO_SIZE;
    }
    // Published once the whole frame is in place, so a partial frame is never seen.
    sendFIFO.rear.store(rear, std::memory_order_release);
    return true;
}

void Com_Send::sendData()
{
    tickPosted.store(false, std::memory_order_release);
    int front = sendFIFO.front.load(std::memory_order_relaxed);
    int pendingBytes = pending();
    while (pendingBytes >= COM_FRAME_SIZE) {
        quint8 frame[COM_FRAME_SIZE];
        for (int i = 0; i < COM_FRAME_SIZE; ++i) {
            frame[i] = sendFIFO.buf[front];
            front = (front + 1) % SEND_FIFO_SIZE;
        }
        sendFIFO.front.store(front, std::memory_order_release);
        hid->sendData(0, frame, COM_FRAME_SIZE);
        pendingBytes -= COM_FRAME_SIZE;
    }
}

// ------------------------------------------------------------------ Com_Layer

Com_Layer::Com_Layer(QObject* parent)
    : QObject(parent)
{
    connectTimer = new QTimer(this);
    hid = new Com_UsbHid(this);
    connect(connectTimer, &QTimer::timeout, this, &Com_Layer::existTimeSlot);
    connectTimer->setInterval(CONNECT_INTERVAL_MS);
    connectTimer->start();
}

Com_Layer::~Com_Layer()
{
    if (readWritetimer && readWritetimer->isActive())
        readWritetimer->stop();
    if (threadReceive) {
        threadReceive->quit();
        threadReceive->wait();
    }
    hid->abortWrites();
    if (threadSend) {
        threadSend->quit();
        threadSend->wait();
    }
}

void Com_Layer::openReceiveAndSend()
{
    if (receive)
        return;

    receive = new Com_Receive(hid);
    receive->setFormat(communicateFormat);
    threadReceive = new QThread(this);
    receive->moveToThread(threadReceive);
    connect(threadReceive, &QThread::finished, receive, &QObject::deleteLater);
    connect(threadReceive, &QThread::finished, threadReceive, &QObject::deleteLater);

    connect(receive, &Com_Receive::updateDevMsg, this, &Com_Layer::updateDevMsgSlot);
    connect(receive, &Com_Receive::dataUpdated, this, &Com_Layer::updateParamSlot);
    connect(receive, &Com_Receive::addRecordFifo, this, &Com_Layer::addRecordFifo);
    connect(receive, &Com_Receive::deviceSendCurvesMessage, this, &Com_Layer::deviceSendCurvesMessage);
    connect(receive, &Com_Receive::deviceSendCurves, this, &Com_Layer::deviceSendCurves);
    connect(receive, &Com_Receive::deviceSendTrigSuccess, this, &Com_Layer::deviceSendTrigSuccess);
    connect(receive, &Com_Receive::deviceSendTrigFail, this, &Com_Layer::deviceSendTrigFail);
    connect(receive, &Com_Receive::updateHeadAck, this, &Com_Layer::updateHeadAck);
    connect(receive, &Com_Receive::updateDataAck, this, &Com_Layer::updateDataAck);
    connect(receive, &Com_Receive::updateEndAck, this, &Com_Layer::updateEndAck);
    connect(receive, &Com_Receive::updateCrcError, this, &Com_Layer::updateCrcError);
    connect(receive, &Com_Receive::updateInvalidData, this, &Com_Layer::updateInvalidData);

    send = new Com_Send(hid);
    send->setFormat(communicateFormat);
    threadSend = new QThread(this);
    send->moveToThread(threadSend);
    connect(threadSend, &QThread::finished, send, &QObject::deleteLater);
    connect(threadSend, &QThread::finished, threadSend, &QObject::deleteLater);

    readWritetimer = new QTimer(this);
    readWritetimer->setTimerType(Qt::PreciseTimer);
    readWritetimer->setInterval(IO_INTERVAL_MS);
    connect(readWritetimer, &QTimer::timeout, receive, &Com_Receive::receive);
    connect(readWritetimer, &QTimer::timeout, this, &Com_Layer::postSendTick);

    threadReceive->start(QThread::InheritPriority);
    threadSend->start(QThread::InheritPriority);
    readWritetimer->start();
}

void Com_Layer::postSendTick()
{
    // The send worker is woken only when a whole frame waits and no tick is
    // outstanding; queued frames still leave on the next tick.
    if (send->pending() < COM_FRAME_SIZE)
        return;
    if (send->tickPosted.exchange(true, std::memory_order_acq_rel))
        return;
    QMetaObject::invokeMethod(send, &Com_Send::sendData, Qt::QueuedConnection);
}

void Com_Layer::setCommunicateFormat(uchar _format)
{
    communicateFormat = _format;
}

uchar Com_Layer::getCommunicateFormat() const
{
    return communicateFormat;
}

quint64 Com_Layer::getConnectTime() const
{
    return connectTime;
}

void Com_Layer::queueFrame(const quint8* frame)
{
    // Before openReceiveAndSend there is no queue; nothing is sent then.
    if (send)
        send->enqueue(frame);
}

void Com_Layer::addPack(uchar _type, quint8* _pData, uchar _len)
{
    if (_len > COM_FORMAT_2_DATA_MAX)
        _len = COM_FORMAT_2_DATA_MAX;
    quint8 frame[COM_FRAME_SIZE] = {};
    frame[0] = COM_FORMAT_2_START;
    frame[1] = _type;
    if (_pData && _len)
        std::memcpy(frame + 2, _pData, _len);
    frame[COM_CRC_LEN] = lib_CRC::getCRC8(frame, COM_CRC_LEN, COM_CRC_POLY);
    queueFrame(frame);
}

void Com_Layer::addPack(uchar _type, uchar _packID, ushort _packIndex, quint8* _pData, uchar _len)
{
    if (_len > COM_FORMAT_1_DATA_MAX)
        _len = COM_FORMAT_1_DATA_MAX;
    quint8 frame[COM_FRAME_SIZE] = {};
    frame[0] = _type;
    frame[1] = _len;
    frame[2] = _packID;
    frame[3] = quint8(_packIndex >> 8);
    frame[4] = quint8(_packIndex & 0xFF);
    if (_pData && _len)
        std::memcpy(frame + 5, _pData, _len);
    frame[COM_CRC_LEN] = lib_CRC::getCRC8(frame, COM_CRC_LEN, COM_CRC_POLY);
    queueFrame(frame);
}

void Com_Layer::existTimeSlot()
{
    if (connectTime < std::numeric_limits<uint64_t>::max()) {
        ++connectTime;
        emit updateConnectTime(this, connectTime);
    }
    if (!isSignIn)
        getDeviceMessage();
    else if (communicateFormat == 2)
        addPack(PC_APP_STILL_CONNECTING, nullptr, 0);
}

void Com_Layer::getDeviceMessage()
{
    if (communicateFormat == 1)
        addPack(FMT1_GET_DEV_MSG, 0x45, 0, nullptr, 0);
    else
        addPack(PC_APP_GET_DEVICE_MSG, nullptr, 0);
}

void Com_Layer::updateDevMsgSlot(DEV_MSG_T _devMsg)
{
    devMsg = _devMsg;
    emit updateDevMsg(this, _devMsg);
    isSignIn = true; // after the receivers ran
}

void Com_Layer::updateParamSlot(DEV_PARAM_T _param)
{
    usbParam.setParam(_param.vol / 100000.0, UsbParam::USB_PARAM_VBUS);
    usbParam.setParam(_param.cur / 100000.0, UsbParam::USB_PARAM_IBUS);
    // No voltage, no power: the current alone may be an offset.
    const quint64 current = _param.vol == 0 ? 0 : _param.cur;
    // Truncated to whole 10 uW units. Held in 64 bits: a 32-bit quotient
    // would wrap for products above 42.9 kW.
    const quint64 power = quint64(_param.vol) * current / 100000;
    usbParam.setParam(power / 100000.0, UsbParam::USB_PARAM_PBUS);
    usbParam.setParam(_param.dp / 1000.0, UsbParam::USB_PARAM_DP);
    usbParam.setParam(_param.dm / 1000.0, UsbParam::USB_PARAM_DM);
    usbParam.setParam(_param.temp / 10.0, UsbParam::USB_PARAM_TEMP);
    const double impedance = current == 0 ? 9999998.99999 : (_param.vol / 100000.0) / (current / 100000.0);
    usbParam.setParam(impedance, UsbParam::USB_PARAM_IMPD);
    emit dataUpdated(&usbParam);
}
