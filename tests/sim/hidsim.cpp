#include "hidsim.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>

#include <hidapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int FRAME = 64;
constexpr qint64 REPORT_PERIOD_US = 40000; // four samples, 10 ms apart
constexpr quint64 MAX_BACKLOG = 64; // reports a meter keeps for a reader that lags

struct Meter
{
    hidsim::MeterConfig config;
    std::wstring serial;
    bool plugged = true;
    int failOpens = 0;
    int handles = 0;
    std::deque<QByteArray> replies;

    bool streaming = false;
    qint64 streamStartUs = 0;
    quint64 reportsStreamed = 0;
    hidsim::SampleSource source;

    QVector<QPair<quint32, quint32>> stored;
    quint32 storedRate = 0;
    int storedAnnounced = 0; // the size the meter tells
    int storedPos = 0;

    QList<bool> triggerScript;

    quint32 firmwareSize = 0;
    bool firmwareActive = false;
    QByteArray firmware;

    int refuseWrites = 0;
    int dropReplies = 0;
    QList<hidsim::WrittenFrame> log;
    int blockingReads = 0;
};

struct Bus
{
    QMutex mutex;
    std::vector<std::shared_ptr<Meter>> meters; // plugged meters, in plug order
    QElapsedTimer clock;
    quint64 reportsRead = 0;

    Bus() { clock.start(); }
    qint64 nowUs() const { return clock.nsecsElapsed() / 1000; }
};

Bus& bus()
{
    static Bus instance;
    return instance;
}

// The path hid_enumerate reports and hid_open_path takes: one per meter,
// serial-less ones included (the simulator tells those apart by their MeterId).
QByteArray pathOf(const Meter& m)
{
    return QStringLiteral("sim:%1:%2:%3")
        .arg(m.config.id.vid, 4, 16, QLatin1Char('0'))
        .arg(m.config.id.pid, 4, 16, QLatin1Char('0'))
        .arg(m.config.id.serial)
        .toUtf8();
}

bool sameId(const Meter& m, const hidsim::MeterId& id)
{
    return m.config.id.vid == id.vid && m.config.id.pid == id.pid && m.config.id.serial == id.serial;
}

// Caller holds the bus mutex.
std::shared_ptr<Meter> find(const hidsim::MeterId& id)
{
    for (const auto& m : bus().meters)
        if (sameId(*m, id))
            return m;
    return nullptr;
}

void put16(QByteArray& a, quint16 v)
{
    a.append(char(v & 0xFF));
    a.append(char(v >> 8));
}

void put32(QByteArray& a, quint32 v)
{
    put16(a, quint16(v & 0xFFFF));
    put16(a, quint16(v >> 16));
}

quint16 get16(const quint8* p)
{
    return quint16(p[0] | (p[1] << 8));
}

quint32 get32(const quint8* p)
{
    return quint32(get16(p)) | (quint32(get16(p + 2)) << 16);
}

void reply(Meter& m, const QByteArray& frame)
{
    if (m.dropReplies > 0) {
        --m.dropReplies;
        return;
    }
    m.replies.push_back(frame);
}

hidsim::Sample sampleAt(Meter& m, quint64 n)
{
    return m.source ? m.source(n) : hidsim::Sample();
}

// Queues the live reports that are due by now.
void stream(Meter& m, qint64 nowUs)
{
    if (!m.streaming)
        return;
    const quint64 due = quint64((nowUs - m.streamStartUs) / REPORT_PERIOD_US);
    if (due > m.reportsStreamed + MAX_BACKLOG)
        m.reportsStreamed = due - MAX_BACKLOG; // an unread meter overwrites its oldest reports
    for (; m.reportsStreamed < due; ++m.reportsStreamed) {
        hidsim::Sample samples[4];
        for (int i = 0; i < 4; ++i)
            samples[i] = sampleAt(m, m.reportsStreamed * 4 + quint64(i));
        reply(m, hidsim::frame2(4, hidsim::livePayload(samples)));
    }
}

QByteArray identity2(const hidsim::Identity& id)
{
    QByteArray p;
    p.append(char(id.runMode));
    p.append(char(0));
    put16(p, id.bootVersion);
    put16(p, id.model);
    put16(p, id.appVersion);
    put32(p, id.sn);
    put32(p, id.runCnt);
    return p;
}

QByteArray identity1(const hidsim::Identity& id)
{
    QByteArray p;
    p.append(char(id.model & 0xFF));
    put16(p, id.appVersion);
    p.append(char(id.runMode));
    put16(p, id.bootVersion);
    put16(p, quint16(id.sn & 0xFFFF));
    // The rest carries nothing, but need not be zero: only 16 bits of serial are read.
    p.append(QByteArray(58 - p.size(), char(0xA5)));
    return p;
}

bool crcOk(const quint8* f)
{
    return f[FRAME - 1] == hidsim::crc8(f, FRAME - 1);
}

void handleFormat2(Meter& m, const quint8* f, qint64 nowUs)
{
    if (f[0] != 0xAA || !crcOk(f))
        return;
    switch (f[1]) {
    case 0x81:
        if (m.config.answersIdentity)
            reply(m, hidsim::frame2(3, identity2(m.config.identity)));
        break;
    case 0x82:
        m.streaming = true;
        m.streamStartUs = nowUs;
        m.reportsStreamed = 0;
        break;
    case 0x84: {
        m.storedPos = 0;
        QByteArray p;
        put16(p, quint16(m.storedAnnounced));
        put16(p, 0);
        put32(p, m.storedRate);
        reply(m, hidsim::frame2(5, p));
        break;
    }
    case 0x86: {
        const int k = std::min(7, m.stored.size() - m.storedPos);
        if (k <= 0) {
            if (m.storedAnnounced > m.stored.size())
                reply(m, hidsim::frame2(6, QByteArray(1, '\0')));
            break;
        }
        QByteArray p;
        p.append(char(k));
        for (int i = 0; i < k; ++i) {
            put32(p, m.stored.at(m.storedPos + i).first);
            put32(p, m.stored.at(m.storedPos + i).second);
        }
        m.storedPos += k;
        reply(m, hidsim::frame2(6, p));
        break;
    }
    case 0x87:
        m.storedPos = 0;
        break;
    case 0x88: {
        const bool ok = m.triggerScript.isEmpty() ? true : m.triggerScript.takeFirst();
        reply(m, hidsim::frame2(ok ? 7 : 8));
        break;
    }
    default: // 0x83 keep-alive, 0x85, 0x89 and anything else: no answer
        break;
    }
}

void handleFormat1(Meter& m, const quint8* f)
{
    if (!crcOk(f))
        return;
    switch (f[0]) {
    case 0x26:
        if (m.config.answersIdentity)
            reply(m, hidsim::frame1(0x27, 0x45, 0, identity1(m.config.identity)));
        break;
    case 0x28:
        m.firmwareSize = get32(f + 7);
        m.firmware.clear();
        m.firmwareActive = true;
        reply(m, hidsim::frame1(0x29, 0, 0));
        break;
    case 0x2B: {
        const int len = std::min<int>(f[1], 58);
        m.firmware.append(reinterpret_cast<const char*>(f + 5), len);
        const bool last = m.firmwareActive && quint32(m.firmware.size()) >= m.firmwareSize;
        if (last)
            m.firmwareActive = false;
        reply(m, hidsim::frame1(last ? 0x31 : 0x2C, f[2], quint16((f[3] << 8) | f[4])));
        break;
    }
    default:
        break;
    }
}

} // namespace

struct hid_device_
{
    std::shared_ptr<Meter> meter;
    bool nonblocking = false;
};

namespace {

// Caller holds the bus mutex.
hid_device* openMeter(const std::shared_ptr<Meter>& m)
{
    if (m->failOpens != 0) {
        if (m->failOpens > 0)
            --m->failOpens;
        return nullptr;
    }
    ++m->handles;
    auto* dev = new hid_device_;
    dev->meter = m;
    return dev;
}

} // namespace

// ---------------------------------------------------------------- hidapi side

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    QMutexLocker lock(&bus().mutex);
    hid_device_info* first = nullptr;
    hid_device_info** tail = &first;
    for (const auto& m : bus().meters) {
        if ((vendor_id && m->config.id.vid != vendor_id) || (product_id && m->config.id.pid != product_id))
            continue;
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(pathOf(*m).constData());
        info->vendor_id = m->config.id.vid;
        info->product_id = m->config.id.pid;
        info->serial_number = m->config.hasSerial ? wcsdup(m->serial.c_str()) : nullptr;
        info->interface_number = 0;
        info->bus_type = HID_API_BUS_USB;
        *tail = info;
        tail = &info->next;
    }
    return first;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open(
    unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number)
{
    QMutexLocker lock(&bus().mutex);
    for (const auto& m : bus().meters) {
        if (m->config.id.vid != vendor_id || m->config.id.pid != product_id)
            continue;
        if (serial_number && m->serial != serial_number)
            continue;
        return openMeter(m);
    }
    return nullptr;
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path)
{
    QMutexLocker lock(&bus().mutex);
    for (const auto& m : bus().meters)
        if (path && pathOf(*m) == path)
            return openMeter(m);
    return nullptr;
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device* dev, int nonblock)
{
    if (!dev)
        return -1;
    QMutexLocker lock(&bus().mutex);
    dev->nonblocking = nonblock != 0;
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    if (!dev || !data)
        return -1;
    QMutexLocker lock(&bus().mutex);
    Meter& m = *dev->meter;
    const qint64 now = bus().nowUs();
    hidsim::WrittenFrame entry;
    entry.usec = now;
    entry.bytes = QByteArray(reinterpret_cast<const char*>(data), int(length));
    entry.refused = !m.plugged || m.refuseWrites != 0;
    m.log.append(entry);
    if (entry.refused) {
        if (m.plugged && m.refuseWrites > 0)
            --m.refuseWrites;
        return -1;
    }
    // The report id comes first; the meter sees the 64 bytes after it.
    quint8 frame[FRAME] = {};
    if (length > 1)
        std::memcpy(frame, data + 1, std::min<size_t>(length - 1, FRAME));
    if (m.config.format == 1)
        handleFormat1(m, frame);
    else
        handleFormat2(m, frame, now);
    return int(length);
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    if (!dev || !data)
        return -1;
    QMutexLocker lock(&bus().mutex);
    Meter& m = *dev->meter;
    if (!dev->nonblocking)
        ++m.blockingReads;
    if (!m.plugged)
        return -1;
    stream(m, bus().nowUs());
    if (m.replies.empty())
        return 0;
    const QByteArray report = m.replies.front();
    m.replies.pop_front();
    const size_t n = std::min<size_t>(length, size_t(report.size()));
    std::memcpy(data, report.constData(), n);
    ++bus().reportsRead;
    return int(n);
}

// The simulated meter never blocks: a read with a time-out returns what is there.
int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int)
{
    return hid_read(dev, data, length);
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev)
{
    if (!dev)
        return;
    {
        QMutexLocker lock(&bus().mutex);
        --dev->meter->handles;
    }
    delete dev;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device*)
{
    return L"simulated meter";
}

} // extern "C"

// --------------------------------------------------------------- control side

namespace hidsim {

void reset()
{
    QMutexLocker lock(&bus().mutex);
    for (const auto& m : bus().meters)
        m->plugged = false; // handles still open keep failing
    bus().meters.clear();
    bus().reportsRead = 0;
}

void plug(const MeterConfig& config)
{
    auto m = std::make_shared<Meter>();
    m->config = config;
    m->serial = config.id.serial.toStdWString();
    QMutexLocker lock(&bus().mutex);
    bus().meters.push_back(m);
}

bool unplug(const MeterId& id)
{
    QMutexLocker lock(&bus().mutex);
    auto& meters = bus().meters;
    for (auto it = meters.begin(); it != meters.end(); ++it) {
        if (sameId(**it, id)) {
            (*it)->plugged = false;
            meters.erase(it);
            return true;
        }
    }
    return false;
}

bool isPlugged(const MeterId& id)
{
    QMutexLocker lock(&bus().mutex);
    return find(id) != nullptr;
}

int openHandles(const MeterId& id)
{
    QMutexLocker lock(&bus().mutex);
    const auto m = find(id);
    return m ? m->handles : 0;
}

// Runs f on the meter under the bus mutex; nothing when it is not plugged.
template <typename F> static void with(const MeterId& id, F f)
{
    QMutexLocker lock(&bus().mutex);
    if (const auto m = find(id))
        f(*m);
}

void failOpens(const MeterId& id, int count)
{
    with(id, [count](Meter& m) { m.failOpens = count; });
}

void setIdentity(const MeterId& id, const Identity& identity)
{
    with(id, [&identity](Meter& m) { m.config.identity = identity; });
}

void setAnswersIdentity(const MeterId& id, bool answers)
{
    with(id, [answers](Meter& m) { m.config.answersIdentity = answers; });
}

void setSampleSource(const MeterId& id, SampleSource source)
{
    with(id, [&source](Meter& m) { m.source = std::move(source); });
}

void setSample(const MeterId& id, const Sample& sample)
{
    setSampleSource(id, [sample](quint64) { return sample; });
}

bool isStreaming(const MeterId& id)
{
    bool streaming = false;
    with(id, [&streaming](Meter& m) { streaming = m.streaming; });
    return streaming;
}

void stopStreaming(const MeterId& id)
{
    with(id, [](Meter& m) { m.streaming = false; });
}

void setStoredRecording(
    const MeterId& id, const QVector<QPair<quint32, quint32>>& points, quint32 rateField, int announced)
{
    with(id, [&](Meter& m) {
        m.stored = points;
        m.storedRate = rateField;
        m.storedAnnounced = announced < 0 ? points.size() : announced;
        m.storedPos = 0;
    });
}

void setTriggerScript(const MeterId& id, const QList<bool>& replies)
{
    with(id, [&replies](Meter& m) { m.triggerScript = replies; });
}

QByteArray receivedFirmware(const MeterId& id)
{
    QByteArray firmware;
    with(id, [&firmware](Meter& m) { firmware = m.firmware; });
    return firmware;
}

void injectReport(const MeterId& id, const QByteArray& report)
{
    with(id, [&report](Meter& m) { m.replies.push_back(report); });
}

void refuseWrites(const MeterId& id, int count)
{
    with(id, [count](Meter& m) { m.refuseWrites = count; });
}

void dropReplies(const MeterId& id, int count)
{
    with(id, [count](Meter& m) { m.dropReplies = count; });
}

QList<WrittenFrame> writeLog(const MeterId& id)
{
    QList<WrittenFrame> log;
    with(id, [&log](Meter& m) { log = m.log; });
    return log;
}

QList<QByteArray> framesWritten(const MeterId& id)
{
    QList<QByteArray> frames;
    for (const WrittenFrame& w : writeLog(id))
        if (!w.refused)
            frames.append(w.bytes.mid(1));
    return frames;
}

int countWritten(const MeterId& id, quint8 code)
{
    int format = 2;
    with(id, [&format](Meter& m) { format = m.config.format; });
    const int at = format == 1 ? 0 : 1;
    int count = 0;
    for (const QByteArray& f : framesWritten(id))
        if (f.size() > at && quint8(f.at(at)) == code)
            ++count;
    return count;
}

void clearWriteLog(const MeterId& id)
{
    with(id, [](Meter& m) { m.log.clear(); });
}

int blockingReads(const MeterId& id)
{
    int reads = 0;
    with(id, [&reads](Meter& m) { reads = m.blockingReads; });
    return reads;
}

quint64 reportsRead()
{
    QMutexLocker lock(&bus().mutex);
    return bus().reportsRead;
}

quint8 crc8(const quint8* data, int len)
{
    quint8 crc = 0;
    for (int i = 0; i < len; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = quint8((crc & 0x80) ? (crc << 1) ^ 0x39 : crc << 1);
    }
    return crc;
}

static QByteArray sealed(QByteArray frame)
{
    frame[FRAME - 1] = char(crc8(reinterpret_cast<const quint8*>(frame.constData()), FRAME - 1));
    return frame;
}

QByteArray frame2(quint8 type, const QByteArray& payload)
{
    QByteArray f(FRAME, '\0');
    f[0] = char(0xAA);
    f[1] = char(type);
    const QByteArray data = payload.left(61);
    std::memcpy(f.data() + 2, data.constData(), size_t(data.size()));
    return sealed(f);
}

QByteArray frame1(quint8 code, quint8 packId, quint16 frameNo, const QByteArray& payload)
{
    QByteArray f(FRAME, '\0');
    const QByteArray data = payload.left(58);
    f[0] = char(code);
    f[1] = char(data.size());
    f[2] = char(packId);
    f[3] = char(frameNo >> 8);
    f[4] = char(frameNo & 0xFF);
    std::memcpy(f.data() + 5, data.constData(), size_t(data.size()));
    return sealed(f);
}

QByteArray withBadCrc(QByteArray frame)
{
    if (frame.size() >= FRAME)
        frame[FRAME - 1] = char(frame.at(FRAME - 1) ^ 0x5A);
    return frame;
}

QByteArray livePayload(const Sample samples[4])
{
    QByteArray p;
    for (int i = 0; i < 4; ++i) {
        const Sample& s = samples[i];
        put32(p, s.vol);
        put32(p, s.cur);
        put16(p, s.dp);
        put16(p, s.dm);
        p.append(char(s.temp < 0 ? 0 : 1));
        put16(p, quint16(std::min<qint32>(std::abs(s.temp), 0xFFFF)));
    }
    return p;
}

} // namespace hidsim
