// Writes the seed corpus of the fuzz targets into a folder (fuzz/corpus when
// run from the source tree): a few valid curve files as the page saves them,
// one frame for each reply code of both formats, and plan files (valid, empty,
// cut short, and one naming a voltage past its protocol's list).
//
// Usage: fuzz_make_seeds <corpus folder>
//   (cmake --build build-fuzz --target fuzz_make_seeds && build-fuzz/fuzz/fuzz_make_seeds fuzz/corpus)
#include "com_layer.h"
#include "curvefile.h"
#include "planfile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace {

bool save(const QString& path, const QByteArray& bytes)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}

bool saveCurveFile(const QString& path, const CurveFile& file)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && writeCurveFile(&f, file) && f.commit();
}

// Channels as the recorder numbers them; extrema for VBUS .. PBUS.
CurveFile recording(double rate, QList<quint16> channels, int rows)
{
    CurveFile file { rate, 50, 0, 5, {}, {} };
    for (quint16 c : channels)
        file.curves.append({ c, 0xFF000000u | (0x203040u * (c + 1)), c <= 4, 5.1 + c, 0.1 * c, {} });
    for (int r = 0; r < rows; ++r) {
        file.time.append(r / rate);
        for (CurveFileCurve& c : file.curves)
            c.values.append(c.index + 0.01 * r);
    }
    return file;
}

QByteArray frameSeed(bool format1, int codeIndex, const QByteArray& payload)
{
    return QByteArray(1, char(format1 ? 1 : 0)) + char(codeIndex) + payload;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    bool ok = root.mkpath("curvefile") && root.mkpath("frame") && root.mkpath("planfile");

    const QString curves = root.filePath("curvefile/");
    ok = ok && saveCurveFile(curves + "no-curves.cqz", recording(10, {}, 0));
    ok = ok && saveCurveFile(curves + "vbus-cap-3-points.cqz", recording(1, { 0, 5 }, 3));
    ok = ok && saveCurveFile(curves + "default-channels.cqz", recording(100, { 0, 1, 5, 6 }, 12));
    ok = ok && saveCurveFile(curves + "every-channel.cqz", recording(0.2, { 0, 1, 2, 3, 4, 5, 6 }, 4));
    ok = ok && saveCurveFile(curves + "imported-250sps.cqz", recording(250, { 0, 1, 4 }, 7));

    // Byte 0 picks the format, byte 1 the code by its place in the target's table.
    const QString frames = root.filePath("frame/");
    QByteArray identity = QByteArray::fromHex("0200050100016e007b00000007000000");
    QByteArray live;
    for (int i = 0; i < 4; ++i)
        live += QByteArray::fromHex("20a10700a086010064000000011900");
    const QByteArray info = QByteArray::fromHex("0e000000e8030000");
    QByteArray block = QByteArray(1, 7);
    for (int i = 0; i < 7; ++i)
        block += QByteArray::fromHex("20a10700a0860100");
    const QByteArray format1Identity = QByteArray::fromHex("00000000016e000105017b00");
    const QByteArray format2[] = { {}, {}, identity, live, info, block, {}, {} };
    for (int i = 0; i < 8; ++i)
        ok = ok && save(frames + QString("format2-code%1").arg(i), frameSeed(false, i, format2[i]));
    for (int i = 0; i < 6; ++i)
        ok = ok && save(frames + QString("format1-code%1").arg(i), frameSeed(true, i, i == 0 ? format1Identity : ""));

    // Steps as the page writes them: protocol, voltage position, duration in ms.
    const QString plans = root.filePath("planfile/");
    const QList<TRIGGER_PARAM_T> plan = { { 1, 7, 1000 }, { 0, 0, 0 }, { 2, 1, 2000 } };
    const QList<TRIGGER_PARAM_T> everyProtocol
        = { { 0, 3, 500 }, { 1, 82, 10 }, { 2, 2, 1 }, { 3, 335, 60000 }, { 4, 1, 2000000000 } };
    ok = ok && save(plans + "three-steps.pqz", planfile::encode(plan));
    ok = ok && save(plans + "every-protocol-last-voltage.pqz", planfile::encode(everyProtocol));
    ok = ok && save(plans + "empty.pqz", planfile::encode({}));
    ok = ok && save(plans + "cut-short.pqz", planfile::encode(plan).chopped(5));
    ok = ok && save(plans + "voltage-past-list.pqz", planfile::encode({ { 4, 2, 1000 } }));

    if (!ok)
        std::fprintf(stderr, "fuzz_make_seeds: writing into %s failed\n", argv[1]);
    return ok ? 0 : 1;
}
