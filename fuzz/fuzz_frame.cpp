// The receive worker's decoding of one frame. The fuzzer picks the format
// (input byte 0, bit 0: format 1 when set), the reply code (byte 1: an index
// into the codes each format understands, or the raw code past them) and the
// payload (the rest); the target seals the frame with a valid header and
// checksum, so every frame reaches the dispatch. Besides the sanitizers, each
// frame must raise exactly the signals its code stands for, carrying the
// frame's own bytes.
#include "com_layer.h"
#include "decodeprobe.h"
#include "lib_crc.h"
#include "require.h"

#include <QtEndian>

#include <cstring>
#include <memory>

namespace {

const quint8 format2Codes[] = { Com_Receive::PC_DEV_SEND_ACK, Com_Receive::PC_DEV_SEND_NACK,
    Com_Receive::PC_DEV_SEND_DEVICE_MSG, Com_Receive::PC_DEV_SEND_REAL_TIME_DATA, Com_Receive::PC_DEV_SEND_CURVES_MSG,
    Com_Receive::PC_DEV_SEND_CURVES, Com_Receive::PC_DEV_TRIGGER_SUCCESS, Com_Receive::PC_DEV_TRIGGER_FAIL };
const quint8 format1Codes[] = { FMT1_DEV_MSG, FMT1_HEAD_ACK, FMT1_DATA_ACK, FMT1_END_ACK, FMT1_CRC_ERROR,
    FMT1_INVALID_DATA, FMT1_GET_DEV_MSG, FMT1_UPDATE_HEAD, FMT1_UPDATE_DATA };

// Codes that raise one signal without data; any code not named here or in check() raises none.
struct PlainReply
{
    int format;
    quint8 code;
    const char* signal;
};
const PlainReply plainReplies[] = { { 2, Com_Receive::PC_DEV_TRIGGER_SUCCESS, "deviceSendTrigSuccess" },
    { 2, Com_Receive::PC_DEV_TRIGGER_FAIL, "deviceSendTrigFail" }, { 1, FMT1_HEAD_ACK, "updateHeadAck" },
    { 1, FMT1_DATA_ACK, "updateDataAck" }, { 1, FMT1_END_ACK, "updateEndAck" }, { 1, FMT1_CRC_ERROR, "updateCrcError" },
    { 1, FMT1_INVALID_DATA, "updateInvalidData" } };

// A receiver of one format and its probe, kept for the whole run.
struct Decoder
{
    Com_Receive receive { nullptr };
    DecodeProbe probe { &receive };
    explicit Decoder(uchar format) { receive.setFormat(format); }
};

void check(int format, const DecodeProbe& p, const quint8* f)
{
    const quint8 code = format == 2 ? f[1] : f[0];
    const quint8* data = f + 2;
    if (format == 2 && code == Com_Receive::PC_DEV_SEND_DEVICE_MSG) {
        require(p.emitted == QStringList { "updateDevMsg" } && std::memcmp(&p.devMsg, data, sizeof p.devMsg) == 0);
    } else if (format == 2 && code == Com_Receive::PC_DEV_SEND_REAL_TIME_DATA) {
        require(p.emitted == QStringList({ "dataUpdated", "addRecordFifo" })
            && std::memcmp(&p.queue, data, sizeof p.queue) == 0);
        const PC_VOL_PARAM_T& newest = p.queue.param[3];
        require(p.param.vol == newest.vol && p.param.cur == newest.cur && p.param.dp == newest.dp
            && p.param.dm == newest.dm && p.param.temp == (newest.symbol ? 1.0 : -1.0) * newest.temp);
    } else if (format == 2 && code == Com_Receive::PC_DEV_SEND_CURVES_MSG) {
        require(p.emitted == QStringList { "deviceSendCurvesMessage" } && p.points == qFromLittleEndian<quint16>(data)
            && p.rate == qFromLittleEndian<quint32>(data + 4));
    } else if (format == 2 && code == Com_Receive::PC_DEV_SEND_CURVES) {
        const int count = qMin<int>(data[0], CURVES_BLOCK_POINTS_MAX);
        require(p.emitted == QStringList { "deviceSendCurves" } && p.blockCount == count
            && p.block == QByteArray(reinterpret_cast<const char*>(data + 1), count * CURVES_POINT_SIZE));
    } else if (format == 1 && code == FMT1_DEV_MSG) {
        require(p.emitted == QStringList { "updateDevMsg" } && p.devMsg.runMode == f[8] && p.devMsg.model == f[5]
            && p.devMsg.appVersion == qFromLittleEndian<quint16>(f + 6)
            && p.devMsg.bootVersion == qFromLittleEndian<quint16>(f + 9)
            && p.devMsg.sn == qFromLittleEndian<quint16>(f + 11) && p.devMsg.runCnt == 0);
    } else {
        QStringList expected;
        for (const PlainReply& r : plainReplies)
            if (r.format == format && r.code == code)
                expected << r.signal;
        require(p.emitted == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Decoder decoder1(1), decoder2(2);
    if (size < 2)
        return 0;
    const int format = (data[0] & 1) ? 1 : 2;
    const quint8* codes = format == 1 ? format1Codes : format2Codes;
    const size_t codeCount = format == 1 ? sizeof format1Codes : sizeof format2Codes;
    const quint8 code = data[1] < codeCount ? codes[data[1]] : data[1];

    // Exactly one report on the heap, so a read past its end is caught.
    std::unique_ptr<quint8[]> frame(new quint8[COM_FRAME_SIZE]());
    const int payloadAt = format == 1 ? 1 : 2;
    std::memcpy(frame.get() + payloadAt, data + 2, qMin<size_t>(size - 2, size_t(COM_CRC_LEN - payloadAt)));
    if (format == 1) {
        frame[0] = code;
    } else {
        frame[0] = COM_FORMAT_2_START;
        frame[1] = code;
    }
    frame[COM_CRC_LEN] = lib_CRC::getCRC8(frame.get(), COM_CRC_LEN, COM_CRC_POLY);

    Decoder& decoder = format == 1 ? decoder1 : decoder2;
    decoder.probe.emitted.clear();
    decoder.receive.decodingData(frame.get(), uchar(COM_FRAME_SIZE));
    check(format, decoder.probe, frame.get());
    return 0;
}
