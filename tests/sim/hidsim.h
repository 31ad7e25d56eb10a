#pragma once

// The simulated meter: implements the hidapi functions the device link calls
// (hid_init, hid_exit, hid_enumerate, hid_free_enumeration, hid_open,
// hid_open_path, hid_set_nonblocking, hid_read, hid_read_timeout, hid_write,
// hid_close, hid_error) over meters that tests plug in and control through the
// functions below. Every function is thread-safe.
//
// A meter answers like this:
//   format 2: 0x81 -> identity (reply 3); 0x82 -> starts (restarts) the live
//             stream, one report of four samples every 40 ms, samples 10 ms
//             apart; 0x84 -> size and rate (reply 5); 0x86 -> next block of at
//             most 7 points (reply 6), nothing once all were sent (an empty
//             block when more were announced); 0x87 and
//             0x84 rewind the recording; 0x88 -> trigger success (7) or
//             failure (8) by script; 0x83, 0x85, 0x89 -> nothing.
//   format 1: 0x26 -> identity (0x27); 0x28 head -> head ack (0x29); 0x2B data
//             -> data ack (0x2C), or the end ack (0x31) instead once the bytes
//             announced by the head have all arrived.
// Frames with a wrong CRC (or, format 2, a wrong start byte) get no answer.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>

namespace hidsim {

// A meter is named by its USB identity; meters of one (vid, pid) differ by serial.
struct MeterId
{
    quint16 vid = 0;
    quint16 pid = 0;
    QString serial;
};

// What the meter says about itself (both formats; format 1 sends only
// model (low byte), appVersion, runMode, bootVersion and sn (low 16 bits)).
struct Identity
{
    quint8 runMode = 2;
    quint16 bootVersion = 0x0105;
    quint16 model = 0x0100;
    quint16 appVersion = 110;
    quint32 sn = 123;
    quint32 runCnt = 0;
};

// One live sample in the meter's own units.
struct Sample
{
    quint32 vol = 500000; // 10 uV
    quint32 cur = 100000; // 10 uA
    quint16 dp = 0; // mV
    quint16 dm = 0; // mV
    qint32 temp = 250; // 0.1 degC, signed
};

// The source of the live stream: sample number n (0, 1, 2 ...) since the
// stream started; sample n belongs to time n * 10 ms.
using SampleSource = std::function<Sample(quint64 n)>;

struct MeterConfig
{
    MeterId id;
    int format = 2; // 1 or 2
    bool hasSerial = true; // false: the enumeration reports no serial string
    Identity identity;
    bool answersIdentity = true; // false: the identity request goes unanswered
};

// One hid_write call as the meter saw it.
struct WrittenFrame
{
    qint64 usec = 0; // since the simulator started (monotonic)
    QByteArray bytes; // exactly as passed to hid_write, report id first
    bool refused = false;
};

// --- the bus -----------------------------------------------------------
// Unplugs everything and forgets all state; call from each test's init/cleanup.
void reset();
void plug(const MeterConfig& config);
// Open handles stay valid but every read and write on them fails (-1).
bool unplug(const MeterId& id);
bool isPlugged(const MeterId& id);
// Handles currently open on the meter.
int openHandles(const MeterId& id);
// The next `count` hid_open calls for this meter fail (-1: every one until set again).
void failOpens(const MeterId& id, int count = -1);

// --- what the meter says ------------------------------------------------
void setIdentity(const MeterId& id, const Identity& identity);
void setAnswersIdentity(const MeterId& id, bool answers);
// Live stream source; by default a constant Sample().
void setSampleSource(const MeterId& id, SampleSource source);
void setSample(const MeterId& id, const Sample& sample);
bool isStreaming(const MeterId& id);
void stopStreaming(const MeterId& id);
// The recording stored in the meter: (voltage 10 uV, current 10 uA) pairs and
// the rate field (samples per second * 1000). A meter that announces more
// points than it holds answers each request past its last point with a block
// of 0 points.
void setStoredRecording(
    const MeterId& id, const QVector<QPair<quint32, quint32>>& points, quint32 rateField, int announced = -1);
// Answers to the next 0x88 commands, first first (true success); when the
// script is empty the meter answers success.
void setTriggerScript(const MeterId& id, const QList<bool>& replies);
// Firmware bytes the bootloader has received since the last head.
QByteArray receivedFirmware(const MeterId& id);

// --- faults -------------------------------------------------------------
// Queues a raw 64-byte report for the next read, after what is already queued.
void injectReport(const MeterId& id, const QByteArray& report);
// The next `count` hid_write calls are refused (-1: until called with 0).
void refuseWrites(const MeterId& id, int count);
// The next `count` replies the meter would send are lost (live reports included).
void dropReplies(const MeterId& id, int count);

// --- what the meter received --------------------------------------------
// Every hid_write call on the meter, refused ones included, oldest first.
QList<WrittenFrame> writeLog(const MeterId& id);
// The accepted frames only, each the 64 bytes after the report id.
QList<QByteArray> framesWritten(const MeterId& id);
// Accepted frames whose command code is `code` (byte 1 in format 2, byte 0 in format 1).
int countWritten(const MeterId& id, quint8 code);
void clearWriteLog(const MeterId& id);
// Reports handed out by hid_read, all meters together (for the benchmark).
quint64 reportsRead();
// hid_read calls on handles not set non-blocking: hidapi would wait in them
// until the meter sends a report.
int blockingReads(const MeterId& id);

// --- frame helpers (the meter's own encoder) ----------------------------
quint8 crc8(const quint8* data, int len);
// Format-2 frame: AA, type, payload (cut to 61), zeros, CRC.
QByteArray frame2(quint8 type, const QByteArray& payload = QByteArray());
// Format-1 frame: code, length, packet id, frame number (high, low), payload (cut to 58), zeros, CRC.
QByteArray frame1(quint8 code, quint8 packId, quint16 frameNo, const QByteArray& payload = QByteArray());
// The same frame with its CRC byte broken.
QByteArray withBadCrc(QByteArray frame);
// A live-data payload (60 bytes) of four samples.
QByteArray livePayload(const Sample samples[4]);

} // namespace hidsim
