#include "curvefile.h"

#include <QByteArray>
#include <QFileDevice>
#include <QIODevice>
#include <QtEndian>

#include <cstring>
#include <new>

namespace {

constexpr int CHUNK_BYTES = 4 << 20; // one read or write call; a day's file is some 80 of them
constexpr int HEAD_BYTES = 22; // rate, three conditions, curve count
constexpr int CURVE_HEAD_BYTES = 7; // index, colour, extrema flag
constexpr int EXTREMUM_BYTES = 16; // maximum, minimum
constexpr int ROW_COUNT_BYTES = 4;
constexpr int VALUE_BYTES = 8;
constexpr int CHANNEL_COUNT = 7; // VBUS .. NRG
constexpr int EXTREMUM_CHANNEL_COUNT = 5; // VBUS .. PBUS
constexpr quint8 EXTREMUM_FLAG = 1;

// Collects little-endian fields and hands them to the device a chunk at a time.
class ChunkWriter
{
public:
    ChunkWriter(QIODevice* _device, int capacity)
        : device(_device)
    {
        buf.resize(capacity);
    }

    // Room for n bytes (n <= capacity), flushing first when the chunk is full.
    char* room(int n)
    {
        if (used + n > buf.size())
            flush();
        return buf.data() + used;
    }
    void advance(int n) { used += n; }
    int spare() const { return buf.size() - used; }

    template <typename T> void put(T value)
    {
        qToLittleEndian<T>(value, room(sizeof value));
        advance(sizeof value);
    }

    bool flush()
    {
        if (used > 0 && ok)
            ok = device->write(buf.constData(), used) == used;
        used = 0;
        return ok;
    }

    bool ok = true;

private:
    QIODevice* device;
    QByteArray buf;
    int used = 0;
};

// Hands out the file's bytes from chunks read off the device. It buffers at
// most a chunk or one row, and never more than the device still holds.
class ChunkReader
{
public:
    explicit ChunkReader(QIODevice* _device)
        : device(_device)
    {
    }

    // Makes `need` bytes readable at data(); false at the end of the file or when a read fails.
    bool fill(int need)
    {
        const int have = end - pos;
        if (have >= need)
            return true;
        if (failed || (!device->isSequential() && have + device->bytesAvailable() < need))
            return false;
        if (pos > 0) {
            std::memmove(buf.data(), buf.constData() + pos, size_t(have));
            pos = 0;
            end = have;
        }
        qint64 capacity = CHUNK_BYTES;
        if (!device->isSequential())
            capacity = qMin(capacity, have + device->bytesAvailable());
        capacity = qMax<qint64>(capacity, need);
        if (buf.size() < capacity)
            buf.resize(int(capacity));
        while (end < need) {
            const qint64 got = device->read(buf.data() + end, buf.size() - end);
            if (got < 0)
                failed = true;
            if (got <= 0)
                return false;
            end += int(got);
        }
        return true;
    }

    const char* data() const { return buf.constData() + pos; }
    int available() const { return end - pos; }
    void skip(int n) { pos += n; }

    // Rows whose bytes are buffered or still in the device; 0 when the device can't say.
    qint64 rowsPresent(int rowBytes) const
    {
        if (device->isSequential())
            return 0;
        return (available() + device->bytesAvailable()) / rowBytes;
    }

    bool failed = false;

private:
    QIODevice* device;
    QByteArray buf;
    int pos = 0;
    int end = 0;
};

template <typename T> T take(const char* p)
{
    return qFromLittleEndian<T>(p);
}

// The m rows of n columns; the kept curves are the first columns.
curve_file_status_e readRows(ChunkReader& in, int n, int m, CurveFile* read)
{
    const int rowBytes = VALUE_BYTES * (1 + n);
    const int kept = read->curves.size();
    // Sized by the bytes really present, never by the count alone.
    const int expected = int(qMin<qint64>(m, in.rowsPresent(rowBytes)));
    read->time.reserve(expected);
    for (CurveFileCurve& c : read->curves)
        c.values.reserve(expected);

    double* columns[CHANNEL_COUNT];
    int done = 0;
    while (done < m) {
        if (!in.fill(rowBytes))
            return in.failed ? CURVE_FILE_READ_ERROR : CURVE_FILE_TRUNCATED;
        const int batch = qMin(m - done, in.available() / rowBytes);
        read->time.resize(done + batch);
        double* time = read->time.data() + done;
        for (int j = 0; j < kept; ++j) {
            read->curves[j].values.resize(done + batch);
            columns[j] = read->curves[j].values.data() + done;
        }
        const char* row = in.data();
        for (int r = 0; r < batch; ++r, row += rowBytes) {
            time[r] = take<double>(row);
            for (int j = 0; j < kept; ++j)
                columns[j][r] = take<double>(row + VALUE_BYTES * (1 + j));
        }
        in.skip(batch * rowBytes);
        done += batch;
    }
    return CURVE_FILE_OK;
}

} // namespace

bool writeCurveFile(QIODevice* device, const CurveFile& file)
{
    const int n = file.curves.size();
    if (!device->isWritable() || n > 0xFFFF)
        return false;
    int rows = file.time.size();
    qint64 total = HEAD_BYTES;
    for (const CurveFileCurve& c : file.curves) {
        rows = qMin(rows, c.values.size());
        total += CURVE_HEAD_BYTES + (c.hasExtremum ? EXTREMUM_BYTES : 0);
    }
    const int rowBytes = VALUE_BYTES * (1 + n);
    if (n > 0)
        total += ROW_COUNT_BYTES + qint64(rows) * rowBytes;

    // A chunk holds at least one row: a row is at most 512 KiB.
    ChunkWriter out(device, int(qMin<qint64>(CHUNK_BYTES, total)));
    out.put<double>(file.sampleRate);
    out.put<qint32>(file.startCurrent);
    out.put<qint32>(file.stopCurrent);
    out.put<qint32>(file.stopTime);
    out.put<quint16>(quint16(n));
    for (const CurveFileCurve& c : file.curves) {
        out.put<quint16>(c.index);
        out.put<quint32>(c.color);
        out.put<quint8>(c.hasExtremum ? EXTREMUM_FLAG : 0);
        if (c.hasExtremum) {
            out.put<double>(c.maximum);
            out.put<double>(c.minimum);
        }
    }
    if (n > 0) {
        out.put<qint32>(rows);
        QVector<const double*> columns;
        columns.reserve(n);
        for (const CurveFileCurve& c : file.curves)
            columns.append(c.values.constData());
        const double* time = file.time.constData();
        int row = 0;
        while (row < rows && out.ok) {
            int batch = qMin(out.spare() / rowBytes, rows - row);
            if (batch == 0) {
                out.flush();
                continue;
            }
            char* p = out.room(batch * rowBytes);
            for (int r = row; r < row + batch; ++r) {
                qToLittleEndian<double>(time[r], p);
                p += VALUE_BYTES;
                for (const double* column : columns) {
                    qToLittleEndian<double>(column[r], p);
                    p += VALUE_BYTES;
                }
            }
            out.advance(batch * rowBytes);
            row += batch;
        }
    }
    bool ok = out.flush();
    if (auto* fileDevice = qobject_cast<QFileDevice*>(device))
        ok = fileDevice->flush() && ok;
    return ok;
}

curve_file_status_e readCurveFile(QIODevice* device, CurveFile* file)
{
    if (!device->isReadable())
        return CURVE_FILE_READ_ERROR;
    ChunkReader in(device);
    const auto ended = [&in] { return in.failed ? CURVE_FILE_READ_ERROR : CURVE_FILE_TRUNCATED; };

    CurveFile read;
    if (!in.fill(HEAD_BYTES))
        return ended();
    const char* p = in.data();
    read.sampleRate = take<double>(p);
    read.startCurrent = take<qint32>(p + 8);
    read.stopCurrent = take<qint32>(p + 12);
    read.stopTime = take<qint32>(p + 16);
    const int n = take<quint16>(p + 20);
    in.skip(HEAD_BYTES);
    // Negated so that NaN fails too.
    if (!(read.sampleRate >= CURVE_FILE_RATE_MIN && read.sampleRate <= CURVE_FILE_RATE_MAX))
        return CURVE_FILE_BAD_RATE;

    int previous = -1;
    for (int i = 0; i < n; ++i) {
        if (!in.fill(CURVE_HEAD_BYTES))
            return ended();
        CurveFileCurve c;
        c.index = take<quint16>(in.data());
        c.color = take<quint32>(in.data() + 2);
        const bool flagged = quint8(in.data()[6]) == EXTREMUM_FLAG;
        in.skip(CURVE_HEAD_BYTES);
        if (c.index <= previous)
            return CURVE_FILE_BAD_CURVE_LIST;
        previous = c.index;
        if (flagged) {
            if (!in.fill(EXTREMUM_BYTES))
                return ended();
            c.hasExtremum = c.index < EXTREMUM_CHANNEL_COUNT;
            if (c.hasExtremum) {
                c.maximum = take<double>(in.data());
                c.minimum = take<double>(in.data() + 8);
            }
            in.skip(EXTREMUM_BYTES);
        }
        // Ascending, so the kept curves are the first columns of each row.
        if (c.index < CHANNEL_COUNT)
            read.curves.append(c);
    }

    if (n > 0) {
        if (!in.fill(ROW_COUNT_BYTES))
            return ended();
        const qint32 m = take<qint32>(in.data());
        in.skip(ROW_COUNT_BYTES);
        if (m < 0)
            return CURVE_FILE_BAD_ROW_COUNT;
        if (m > CURVE_FILE_ROWS_MAX)
            return CURVE_FILE_TOO_LARGE;
        try {
            const curve_file_status_e status = readRows(in, n, m, &read);
            if (status != CURVE_FILE_OK)
                return status;
        } catch (const std::bad_alloc&) {
            return CURVE_FILE_TOO_LARGE; // the lists are freed on the way out
        }
    }
    *file = std::move(read);
    return CURVE_FILE_OK;
}
