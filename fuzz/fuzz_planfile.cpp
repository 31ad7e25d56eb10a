// The plan-file reader on arbitrary bytes, read once from a QBuffer and once
// from a sequential device over the same bytes. Besides the sanitizers, both
// must agree with a decoding written straight from the file's layout: an
// 11-byte signature, an int32 LE count, then count steps of three int32 LE
// (protocol index, voltage index, duration). A file is a plan exactly when the
// signature matches, the bytes hold all the count's steps (a count of 0 or
// less is an empty plan) and every step names a voltage of the table; its
// steps are the ones in the file, and they write back to the file's bytes.
#include "planfile.h"
#include "require.h"
#include "suportprotocol.h"

#include <QBuffer>
#include <QtEndian>

#include <cstring>

namespace {

// A device that can only be read front to back, as a pipe or a socket.
class SequentialBytes : public QIODevice
{
public:
    explicit SequentialBytes(const QByteArray& bytes)
        : bytes(bytes)
    {
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, qint64(bytes.size()) - at);
        if (n > 0)
            std::memcpy(data, bytes.constData() + at, size_t(n));
        at += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const QByteArray bytes;
    qint64 at = 0;
};

qint32 le32(const QByteArray& bytes, qint64 offset)
{
    return qFromLittleEndian<qint32>(bytes.constData() + offset);
}

struct Expected
{
    bool ok = false;
    qint64 steps = 0;
};

Expected decode(const QByteArray& bytes, const QVector<QList<int>>& table)
{
    Expected e;
    if (bytes.size() < 15 || std::memcmp(bytes.constData(), planfile::signature, 11) != 0)
        return e;
    e.steps = qMax<qint64>(le32(bytes, 11), 0);
    if (bytes.size() < 15 + 12 * e.steps)
        return e;
    for (qint64 i = 0; i < e.steps; ++i) {
        const qint32 prot = le32(bytes, 15 + 12 * i);
        const qint32 vol = le32(bytes, 15 + 12 * i + 4);
        if (prot < 0 || prot >= table.size() || vol < 0 || vol >= table[prot].size())
            return e;
    }
    e.ok = true;
    return e;
}

void check(const planfile::ReadResult& got, const Expected& want, const QByteArray& bytes)
{
    require(got.ok == want.ok);
    if (!got.ok) {
        require(got.steps.isEmpty());
        return;
    }
    require(got.steps.size() == want.steps);
    for (int i = 0; i < got.steps.size(); ++i) {
        const qint64 at = 15 + 12 * qint64(i);
        require(got.steps[i].indexOfProt == le32(bytes, at) && got.steps[i].indexOfVol == le32(bytes, at + 4)
            && got.steps[i].time == le32(bytes, at + 8));
    }
    // A negative count reads as an empty plan, which is written with a count of 0.
    QByteArray file = bytes.left(int(15 + 12 * want.steps));
    qToLittleEndian(qint32(want.steps), file.data() + 11);
    require(planfile::encode(got.steps) == file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QVector<QList<int>> table = SuportProtocol().allProtVol;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    const Expected want = decode(bytes, table);

    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    check(planfile::read(buffer, table), want, bytes);

    SequentialBytes stream(bytes);
    stream.open(QIODevice::ReadOnly);
    check(planfile::read(stream, table), want, bytes);
    return 0;
}
