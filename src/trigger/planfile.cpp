#include "planfile.h"

#include <QIODevice>
#include <QtEndian>

namespace planfile {

namespace {

void put32(QByteArray& bytes, qint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes.append(le, 4);
}

// Exactly `size` bytes from the device, or an empty array.
QByteArray take(QIODevice& in, qint64 size)
{
    QByteArray bytes = in.read(size);
    return bytes.size() == size ? bytes : QByteArray();
}

qint32 get32(const char* p)
{
    return qFromLittleEndian<qint32>(p);
}

} // namespace

QByteArray encode(const QList<TRIGGER_PARAM_T>& steps)
{
    QByteArray bytes(signature, sizeof signature);
    bytes.reserve(headerSize + stepSize * steps.size());
    put32(bytes, steps.size());
    for (const TRIGGER_PARAM_T& step : steps) {
        put32(bytes, step.indexOfProt);
        put32(bytes, step.indexOfVol);
        put32(bytes, step.time);
    }
    return bytes;
}

bool write(QIODevice& out, const QList<TRIGGER_PARAM_T>& steps)
{
    const QByteArray bytes = encode(steps);
    return out.write(bytes) == bytes.size();
}

ReadResult read(QIODevice& in, const QVector<QList<int>>& allProtVol)
{
    const QByteArray head = take(in, headerSize);
    if (head.isEmpty() || !head.startsWith(QByteArray::fromRawData(signature, sizeof signature)))
        return {};
    const qint32 count = get32(head.constData() + sizeof signature);

    // A count the device cannot hold is refused before reading a step. The
    // list grows only with steps actually read, whatever the count claims.
    if (count > 0 && !in.isSequential() && in.bytesAvailable() < qint64(count) * stepSize)
        return {};
    ReadResult result;
    for (qint32 i = 0; i < count; ++i) {
        const QByteArray raw = take(in, stepSize);
        if (raw.isEmpty())
            return {};
        TRIGGER_PARAM_T step;
        step.indexOfProt = get32(raw.constData());
        step.indexOfVol = get32(raw.constData() + 4);
        step.time = get32(raw.constData() + 8);
        if (step.indexOfProt < 0 || step.indexOfProt >= allProtVol.size() || step.indexOfVol < 0
            || step.indexOfVol >= allProtVol.at(step.indexOfProt).size())
            return {};
        result.steps.append(step);
    }
    result.ok = true;
    return result;
}

} // namespace planfile
