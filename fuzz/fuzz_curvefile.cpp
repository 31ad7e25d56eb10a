// The curve-file reader on arbitrary bytes. Besides the sanitizers: whatever
// it accepts must hold together (rate in range, at most seven ascending
// channels, one value per row in every curve, extrema only for VBUS .. PBUS)
// and must write back to a file that reads the same, bit for bit.
#include "curvefile.h"
#include "require.h"

#include <QBuffer>

#include <cstring>

namespace {

bool sameBits(const QVector<double>& a, const QVector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.constData(), b.constData(), sizeof(double) * size_t(a.size())) == 0;
}

bool same(const CurveFile& a, const CurveFile& b)
{
    if (std::memcmp(&a.sampleRate, &b.sampleRate, sizeof a.sampleRate) != 0 || a.startCurrent != b.startCurrent
        || a.stopCurrent != b.stopCurrent || a.stopTime != b.stopTime || !sameBits(a.time, b.time)
        || a.curves.size() != b.curves.size())
        return false;
    for (int i = 0; i < a.curves.size(); ++i) {
        const CurveFileCurve& x = a.curves[i];
        const CurveFileCurve& y = b.curves[i];
        if (x.index != y.index || x.color != y.color || x.hasExtremum != y.hasExtremum
            || std::memcmp(&x.maximum, &y.maximum, sizeof x.maximum) != 0
            || std::memcmp(&x.minimum, &y.minimum, sizeof x.minimum) != 0 || !sameBits(x.values, y.values))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    QBuffer input(&bytes);
    input.open(QIODevice::ReadOnly);
    CurveFile file;
    if (readCurveFile(&input, &file) != CURVE_FILE_OK)
        return 0;

    require(file.sampleRate >= CURVE_FILE_RATE_MIN && file.sampleRate <= CURVE_FILE_RATE_MAX);
    require(file.curves.size() <= 7);
    int previous = -1;
    for (const CurveFileCurve& c : file.curves) {
        require(c.index > previous && c.index <= 6);
        require(!c.hasExtremum || c.index <= 4);
        require(c.values.size() == file.time.size());
        previous = c.index;
    }

    QBuffer output;
    output.open(QIODevice::WriteOnly);
    require(writeCurveFile(&output, file));
    output.close();
    output.open(QIODevice::ReadOnly);
    // A file whose curves were all left out has rows of times only; without curves the format writes no rows.
    if (file.curves.isEmpty())
        file.time.clear();
    CurveFile again;
    require(readCurveFile(&output, &again) == CURVE_FILE_OK && same(file, again));
    return 0;
}
