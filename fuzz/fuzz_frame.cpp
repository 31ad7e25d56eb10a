// The receive worker's decoding of one frame. The fuzzer picks the format
// (input byte 0, bit 0: format 1 when set), the reply code (byte 1: an index
// into the codes each format understands, or the raw code past them) and the
// payload (the rest); the target seals the frame with a valid header and
// checksum, so every frame reaches the dispatch. Besides the sanitizers, each
// frame must raise exactly the signals its code stands for, carrying the
// frame's own bytes.
#include "com_layer.h"
#include "lib_crc.h"

#include <QtEndian>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const quint8 format2Codes[] = { Com_Receive::PC_DEV_SEND_ACK, Com_Receive::PC_DEV_SEND_NACK,
    Com_Receive::PC_DEV_SEND_DEVICE_MSG, Com_Receive::PC_DEV_SEND_REAL_TIME_DATA, Com_Receive::PC_DEV_SEND_CURVES_MSG,
    Com_Receive::PC_DEV_SEND_CURVES, Com_Receive::PC_DEV_TRIGGER_SUCCESS, Com_Receive::PC_DEV_TRIGGER_FAIL };
const quint8 format1Codes[] = { FMT1_DEV_MSG, FMT1_HEAD_ACK, FMT1_DATA_ACK, FMT1_END_ACK, FMT1_CRC_ERROR,
    FMT1_INVALID_DATA, FMT1_GET_DEV_MSG, FMT1_UPDATE_HEAD, FMT1_UPDATE_DATA };

// Names the broken rule before the fuzzer records the input.
#define require(ok)                                                                                                    \
    do {                                                                                                               \
        if (!(ok)) {                                                                                                   \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #ok);                                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

// What one decoded frame raised.
struct Probe
{
    QByteArray raised; // one letter per signal, in order
    DEV_MSG_T devMsg {};
    DEV_PARAM_T param {};
    PC_VOL_PARAM_QUEUE_T queue {};
    quint16 points = 0;
    quint32 rate = 0;
    int blockCount = -1;
    QByteArray block;

    void listen(Com_Receive* r)
    {
        QObject::connect(r, &Com_Receive::updateDevMsg, [this](DEV_MSG_T m) { raised += 'i', devMsg = m; });
        QObject::connect(r, &Com_Receive::dataUpdated, [this](DEV_PARAM_T p) { raised += 'd', param = p; });
        QObject::connect(r, &Com_Receive::addRecordFifo, [this](PC_VOL_PARAM_QUEUE_T q) { raised += 'q', queue = q; });
        QObject::connect(r, &Com_Receive::deviceSendCurvesMessage,
            [this](quint16 c, quint32 rt) { raised += 'm', points = c, rate = rt; });
        QObject::connect(r, &Com_Receive::deviceSendCurves,
            [this](int c, QByteArray b) { raised += 'b', blockCount = c, block = b; });
        QObject::connect(r, &Com_Receive::deviceSendTrigSuccess, [this] { raised += 'S'; });
        QObject::connect(r, &Com_Receive::deviceSendTrigFail, [this] { raised += 'F'; });
        QObject::connect(r, &Com_Receive::updateHeadAck, [this] { raised += 'h'; });
        QObject::connect(r, &Com_Receive::updateDataAck, [this] { raised += 'a'; });
        QObject::connect(r, &Com_Receive::updateEndAck, [this] { raised += 'e'; });
        QObject::connect(r, &Com_Receive::updateCrcError, [this] { raised += 'c'; });
        QObject::connect(r, &Com_Receive::updateInvalidData, [this] { raised += 'v'; });
    }
};

void checkFormat2(const Probe& p, const quint8* f)
{
    const quint8* data = f + 2;
    switch (f[1]) {
    case Com_Receive::PC_DEV_SEND_DEVICE_MSG:
        require(p.raised == "i" && std::memcmp(&p.devMsg, data, sizeof p.devMsg) == 0);
        break;
    case Com_Receive::PC_DEV_SEND_REAL_TIME_DATA: {
        require(p.raised == "dq" && std::memcmp(&p.queue, data, sizeof p.queue) == 0);
        const PC_VOL_PARAM_T& newest = p.queue.param[3];
        require(p.param.vol == newest.vol && p.param.cur == newest.cur && p.param.dp == newest.dp
            && p.param.dm == newest.dm && p.param.temp == (newest.symbol ? 1.0 : -1.0) * newest.temp);
        break;
    }
    case Com_Receive::PC_DEV_SEND_CURVES_MSG:
        require(p.raised == "m" && p.points == qFromLittleEndian<quint16>(data)
            && p.rate == qFromLittleEndian<quint32>(data + 4));
        break;
    case Com_Receive::PC_DEV_SEND_CURVES: {
        const int count = qMin<int>(data[0], CURVES_BLOCK_POINTS_MAX);
        require(p.raised == "b" && p.blockCount == count
            && p.block == QByteArray(reinterpret_cast<const char*>(data + 1), count * CURVES_POINT_SIZE));
        break;
    }
    case Com_Receive::PC_DEV_TRIGGER_SUCCESS:
        require(p.raised == "S");
        break;
    case Com_Receive::PC_DEV_TRIGGER_FAIL:
        require(p.raised == "F");
        break;
    default:
        require(p.raised.isEmpty());
    }
}

void checkFormat1(const Probe& p, const quint8* f)
{
    switch (f[0]) {
    case FMT1_DEV_MSG:
        require(p.raised == "i" && p.devMsg.runMode == f[8] && p.devMsg.model == f[5]
            && p.devMsg.appVersion == qFromLittleEndian<quint16>(f + 6)
            && p.devMsg.bootVersion == qFromLittleEndian<quint16>(f + 9)
            && p.devMsg.sn == qFromLittleEndian<quint16>(f + 11) && p.devMsg.runCnt == 0);
        break;
    case FMT1_HEAD_ACK:
        require(p.raised == "h");
        break;
    case FMT1_DATA_ACK:
        require(p.raised == "a");
        break;
    case FMT1_END_ACK:
        require(p.raised == "e");
        break;
    case FMT1_CRC_ERROR:
        require(p.raised == "c");
        break;
    case FMT1_INVALID_DATA:
        require(p.raised == "v");
        break;
    default:
        require(p.raised.isEmpty());
    }
}

Com_Receive* newReceiver(uchar format, Probe* probe)
{
    auto* r = new Com_Receive(nullptr); // lives as long as the process
    r->setFormat(format);
    probe->listen(r);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Probe probe;
    static Com_Receive* const receivers[2] = { newReceiver(2, &probe), newReceiver(1, &probe) };
    if (size < 2)
        return 0;
    const bool format1 = data[0] & 1;
    const quint8* codes = format1 ? format1Codes : format2Codes;
    const size_t codeCount = format1 ? sizeof format1Codes : sizeof format2Codes;
    const quint8 code = data[1] < codeCount ? codes[data[1]] : data[1];

    // Exactly one report on the heap, so a read past its end is caught.
    std::unique_ptr<quint8[]> frame(new quint8[COM_FRAME_SIZE]());
    const int payloadAt = format1 ? 1 : 2;
    std::memcpy(frame.get() + payloadAt, data + 2, qMin<size_t>(size - 2, size_t(COM_CRC_LEN - payloadAt)));
    if (format1) {
        frame[0] = code;
    } else {
        frame[0] = COM_FORMAT_2_START;
        frame[1] = code;
    }
    frame[COM_CRC_LEN] = lib_CRC::getCRC8(frame.get(), COM_CRC_LEN, COM_CRC_POLY);

    probe = Probe();
    receivers[format1 ? 1 : 0]->decodingData(frame.get(), uchar(COM_FRAME_SIZE));
    if (format1)
        checkFormat1(probe, frame.get());
    else
        checkFormat2(probe, frame.get());
    return 0;
}
