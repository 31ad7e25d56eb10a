#pragma once

#include <QMetaType>
#include <QtGlobal>

#include <atomic>
#include <cstdint>

// Records of the meter's wire protocol and the values that cross threads.
// Every multi-byte field on the wire is little-endian, except the format-1
// frame number, which travels as two bytes, high first.

// Format-1 frame codes (frame byte 0).
enum fmt1_code_e : quint8
{
    FMT1_GET_DEV_MSG = 0x26,
    FMT1_DEV_MSG = 0x27,
    FMT1_UPDATE_HEAD = 0x28,
    FMT1_HEAD_ACK = 0x29,
    FMT1_UPDATE_DATA = 0x2B,
    FMT1_DATA_ACK = 0x2C,
    FMT1_CRC_ERROR = 0x2D,
    FMT1_INVALID_DATA = 0x30,
    FMT1_END_ACK = 0x31,
};

// Sizes shared by the encoder, the decoder and the queues.
constexpr int COM_FRAME_SIZE = 64; // one HID report, CRC in the last byte
constexpr int COM_CRC_LEN = 63; // bytes covered by the CRC
constexpr quint8 COM_CRC_POLY = 0x39;
constexpr quint8 COM_FORMAT_2_START = 0xAA;
constexpr int COM_FORMAT_2_DATA_MAX = 61;
constexpr int COM_FORMAT_1_DATA_MAX = 58;
constexpr int CURVES_BLOCK_POINTS_MAX = 7; // points in one stored-recording block
constexpr int CURVES_POINT_SIZE = 8; // uint32 voltage + uint32 current

// The meter's identity; carried byte for byte in a format-2 reply.
typedef struct dev_msg_t
{
    uint8_t runMode; // 0 unknown, 1 bootloader, 2 application
    uint8_t reserved;
    uint16_t bootVersion; // high byte major, low byte two BCD digits
    uint16_t model; // key of UsbEvent::modelMap
    uint16_t appVersion; // major * 100 + minor
    uint32_t sn;
    uint32_t runCnt;
} DEV_MSG_T;
static_assert(sizeof(dev_msg_t) == 16, "identity record is 16 bytes on the wire");

#pragma pack(push, 1)
// One raw live sample as the meter sends it.
typedef struct pc_vol_param_t
{
    uint32_t vol; // 10 uV
    uint32_t cur; // 10 uA
    uint16_t dp; // mV
    uint16_t dm; // mV
    uint8_t symbol; // sign of temp: 0 negative, anything else positive
    uint16_t temp; // magnitude, 0.1 degC
} PC_VOL_PARAM_T;
#pragma pack(pop)
static_assert(sizeof(pc_vol_param_t) == 15, "live sample is 15 bytes on the wire");

// The four samples of one live-data report, oldest first; param[3] is the newest.
typedef struct pc_vol_param_queue_t
{
    PC_VOL_PARAM_T param[4];
} PC_VOL_PARAM_QUEUE_T;
static_assert(sizeof(pc_vol_param_queue_t) == 60, "live report payload is 60 bytes");

// One decoded live reading, handed from the receive thread to the connection.
typedef struct dev_param_t
{
    quint32 vol;
    quint32 cur;
    quint16 dp;
    quint16 dm;
    double temp; // signed, 0.1 degC
} DEV_PARAM_T;

// Size and rate of the recording stored in the meter.
typedef struct pc_curves_msg_t
{
    uint16_t points;
    uint8_t reserved[2];
    uint32_t samplingRate; // samples per second * 1000
} PC_CURVES_MSG_T;
static_assert(sizeof(pc_curves_msg_t) == 8, "stored-recording info is 8 bytes");

// Format-2 frame.
typedef struct com_pack_t
{
    uint8_t start; // 0xAA
    uint8_t type;
    uint8_t data[COM_FORMAT_2_DATA_MAX];
    uint8_t crc;
} COM_PACK_T;
static_assert(sizeof(com_pack_t) == COM_FRAME_SIZE, "format-2 frame is one report");

// Format-1 frame.
typedef struct com_format_0_t
{
    uint8_t type;
    uint8_t dataLength;
    uint8_t packID;
    uint8_t seqH; // frame number, high byte first
    uint8_t seqL;
    uint8_t data[COM_FORMAT_1_DATA_MAX];
    uint8_t crc;
} COM_FORMAT_0_T;
static_assert(sizeof(com_format_0_t) == COM_FRAME_SIZE, "format-1 frame is one report");

// Receive ring: the reports of the last 16 reads stay in place.
constexpr int READ_BUF_SIZE = 1024;
typedef struct read_buf_t
{
    uint16_t write; // receive thread only
    quint8 buf[READ_BUF_SIZE];
} READ_BUF_T;

// Send ring, single producer (GUI thread) and single consumer (send thread).
// One slot stays free, so 1024 bytes (16 frames) fit.
constexpr int SEND_FIFO_SIZE = 1025;
typedef struct send_fifo_t
{
    std::atomic<int> front; // written by the send thread only (release); read by both (acquire)
    std::atomic<int> rear; // written by the GUI thread only (release); read by both (acquire)
    quint8 buf[SEND_FIFO_SIZE];
} SEND_FIFO_T;

Q_DECLARE_METATYPE(DEV_MSG_T)
Q_DECLARE_METATYPE(DEV_PARAM_T)
Q_DECLARE_METATYPE(PC_VOL_PARAM_QUEUE_T)
