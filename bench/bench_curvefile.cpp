// Speed of the curve file against plain file I/O of the same bytes on the same
// disk: a day at 100 points per second with the default four channels (VBUS,
// IBUS, CAP, NRG), 8.64 million rows, about 345 MB. Prints the best of a few
// rounds and the ratios; the goal is at most 2 for saving and for reading.
//
// Usage: bench_curvefile [rows] [rounds]   (defaults: 8640000, 3)
#include "curvefile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

CurveFile dayOfRecording(int rows)
{
    CurveFile file { 100.0, 50, 0, 5, {}, {} };
    const quint16 channels[] = { 0, 1, 5, 6 };
    for (quint16 c : channels)
        file.curves.append({ c, 0xFF000000u | (0x1234u * (c + 1)), c <= 4, 5.2, 4.8, {} });
    file.time.resize(rows);
    for (CurveFileCurve& c : file.curves)
        c.values.resize(rows);
    double cap = 0;
    for (int r = 0; r < rows; ++r) {
        const double v = 5.0 + 0.01 * (r % 37);
        const double i = 1.0 + 0.001 * (r % 101);
        cap += i / 360000.0;
        file.time[r] = r / 100.0;
        file.curves[0].values[r] = v;
        file.curves[1].values[r] = i;
        file.curves[2].values[r] = cap;
        file.curves[3].values[r] = cap * v;
    }
    return file;
}

double seconds(const std::function<void()>& run)
{
    QElapsedTimer t;
    t.start();
    run();
    return t.nsecsElapsed() / 1e9;
}

QTemporaryDir* scratch = nullptr; // removed on the way out, also on failure

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "bench_curvefile: %s failed\n", what);
        if (scratch)
            scratch->remove();
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const int rows = args.size() > 0 ? args[0].toInt() : 8640000;
    const int rounds = args.size() > 1 ? args[1].toInt() : 3;

    QTemporaryDir dir(QCoreApplication::applicationDirPath() + "/bench_curvefile-XXXXXX");
    check(dir.isValid(), "creating the temporary folder");
    scratch = &dir;
    const QString plainPath = dir.filePath("plain.bin");
    const QString curvePath = dir.filePath("curves.cqz");

    const CurveFile file = dayOfRecording(rows);
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    check(writeCurveFile(&encoded, file), "encoding");
    const QByteArray bytes = encoded.data();
    encoded.close();
    std::printf("%d rows x %d channels, %lld bytes, best of %d rounds\n", rows, file.curves.size(),
        static_cast<long long>(bytes.size()), rounds);

    double plainWrite = 1e9, curveWrite = 1e9, plainSave = 1e9, curveSave = 1e9;
    double plainRead = 1e9, plainReadAll = 1e9, curveRead = 1e9;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(plainPath);
        QFile::remove(curvePath);
        plainWrite = qMin(plainWrite, seconds([&] {
            QFile f(plainPath);
            check(f.open(QIODevice::WriteOnly), "opening the plain file");
            check(f.write(bytes) == bytes.size(), "the plain write");
        }));
        curveWrite = qMin(curveWrite, seconds([&] {
            QFile f(curvePath);
            check(f.open(QIODevice::WriteOnly), "opening the curve file");
            check(writeCurveFile(&f, file), "writing the curve file");
        }));
        // As the page saves: through QSaveFile, which syncs and renames on commit.
        plainSave = qMin(plainSave, seconds([&] {
            QSaveFile f(plainPath);
            check(f.open(QIODevice::WriteOnly), "opening the plain save file");
            check(f.write(bytes) == bytes.size() && f.commit(), "the plain save");
        }));
        curveSave = qMin(curveSave, seconds([&] {
            QSaveFile f(curvePath);
            check(f.open(QIODevice::WriteOnly), "opening the curve save file");
            check(writeCurveFile(&f, file) && f.commit(), "saving the curve file");
        }));

        plainRead = qMin(plainRead, seconds([&] {
            QFile f(plainPath);
            check(f.open(QIODevice::ReadOnly), "opening the plain file");
            QByteArray chunk(4 << 20, Qt::Uninitialized);
            qint64 total = 0, got = 0;
            while ((got = f.read(chunk.data(), chunk.size())) > 0)
                total += got;
            check(total == bytes.size(), "the plain read");
        }));
        plainReadAll = qMin(plainReadAll, seconds([&] {
            QFile f(plainPath);
            check(f.open(QIODevice::ReadOnly), "opening the plain file");
            check(f.readAll().size() == bytes.size(), "the plain read into memory");
        }));
        curveRead = qMin(curveRead, seconds([&] {
            QFile f(curvePath);
            check(f.open(QIODevice::ReadOnly), "opening the curve file");
            CurveFile back;
            check(readCurveFile(&f, &back) == CURVE_FILE_OK && back.time.size() == rows, "reading the curve file");
        }));
    }
    QFile::remove(plainPath);
    QFile::remove(curvePath);

    std::printf("save:  curve file %.3f s, plain write %.3f s: ratio %.2f (goal <= 2)\n", curveWrite, plainWrite,
        curveWrite / plainWrite);
    std::printf("       through QSaveFile with commit: curve file %.3f s, plain %.3f s: ratio %.2f\n", curveSave,
        plainSave, curveSave / plainSave);
    std::printf("read:  curve file read and checked %.3f s, plain read into memory %.3f s: ratio %.2f (goal <= 2)\n",
        curveRead, plainReadAll, curveRead / plainReadAll);
    std::printf("       plain read through one 4 MiB buffer, bytes dropped: %.3f s (ratio %.2f)\n", plainRead,
        curveRead / plainRead);
    return 0;
}
