// The curve file: its bytes, a round trip through a real file, and the files
// the reader rejects or reads in part. The writer is pinned byte for byte by
// exactBytes, so records read back are compared by the bytes they write: every
// field the format holds, bit for bit (NaN included).
#include "curvefile.h"

#include <QBuffer>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <limits>

Q_DECLARE_METATYPE(CurveFile)
Q_DECLARE_METATYPE(curve_file_status_e)

namespace {

// Raw little-endian fields, for files the writer would never produce.
struct Raw
{
    QByteArray b;
    template <typename T> Raw& put(T v)
    {
        char p[sizeof v];
        qToLittleEndian<T>(v, p);
        b.append(p, sizeof v);
        return *this;
    }
    Raw& f64(double v) { return put<double>(v); }
    Raw& f64s(std::initializer_list<double> list)
    {
        for (double v : list)
            put<double>(v);
        return *this;
    }
    Raw& i32(qint32 v) { return put<qint32>(v); }
    Raw& u16(quint16 v) { return put<quint16>(v); }
    Raw& head(quint16 index, quint8 flag) { return put<quint16>(index).put<quint32>(0xFF000000u + index).put(flag); }
};

CurveFileCurve curve(quint16 index, quint32 color, bool ext, double max, double min, QVector<double> values)
{
    return { index, color, ext, max, min, values };
}

CurveFile record(double rate, QVector<CurveFileCurve> curves, QVector<double> time)
{
    return { rate, 50, 20, 5, curves, time };
}

// VBUS and CAP with 3 points, and its 128 bytes.
const CurveFile vbusCap = record(1.0,
    { curve(0, 0xFFFF0000, true, 5.0, 4.0, { 5.0, 4.0, 4.5 }), curve(5, 0x80112233, false, 0, 0, { 0.0, 0.25, 0.5 }) },
    { 0.0, 1.0, 2.0 });
const QByteArray vbusCapBytes = QByteArray::fromHex("000000000000F03F 32000000 14000000 05000000 0200"
                                                    "0000 0000FFFF 01 0000000000001440 0000000000001040"
                                                    "0500 33221180 00"
                                                    "03000000"
                                                    "0000000000000000 0000000000001440 0000000000000000"
                                                    "000000000000F03F 0000000000001040 000000000000D03F"
                                                    "0000000000000040 0000000000001240 000000000000E03F");

QByteArray written(const CurveFile& file)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    return writeCurveFile(&buffer, file) ? buffer.data() : QByteArray("write failed");
}

curve_file_status_e readBytes(QByteArray bytes, CurveFile* file)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return readCurveFile(&buffer, file);
}

} // namespace

class TestCurveFile : public QObject
{
    Q_OBJECT
private slots:
    void exactBytes_data();
    void exactBytes();
    void roundTrip();
    void rejected_data();
    void rejected();
    void readInPart_data();
    void readInPart();
    void failingDevices();
};

void TestCurveFile::exactBytes_data()
{
    QTest::addColumn<CurveFile>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("no curves: 22 bytes") << record(10.0, {}, {})
                                         << QByteArray::fromHex("0000000000002440 32000000 14000000 05000000 0000");
    QTest::newRow("VBUS and CAP, 3 points: 128 bytes") << vbusCap << vbusCapBytes;
    // Set up and stopped before its first point, with the extrema of a fresh recording.
    QTest::newRow("a curve, 0 rows: 49 bytes")
        << record(1.0, { curve(0, 0xFF00FF00, true, 0.0, 9999.99999, {}) }, {})
        << QByteArray::fromHex("000000000000F03F 32000000 14000000 05000000 0100"
                               "0000 00FF00FF 01 0000000000000000 2A1DACFFFF87C340"
                               "00000000");
    CurveFile longer = vbusCap;
    longer.time << 3.0 << 4.0;
    longer.curves[1].values << 0.75;
    QTest::newRow("the shortest list decides the rows") << longer << vbusCapBytes;
}

void TestCurveFile::exactBytes()
{
    QFETCH(CurveFile, file);
    QFETCH(QByteArray, bytes);
    QCOMPARE(written(file).toHex(' '), bytes.toHex(' '));
    CurveFile back;
    QCOMPARE(readBytes(bytes, &back), CURVE_FILE_OK);
    QCOMPARE(written(back).toHex(' '), bytes.toHex(' '));
}

void TestCurveFile::roundTrip()
{
    // Rows of every channel, straddling the reader's 4 MiB chunks (the header is not a whole number of rows).
    const int channels = 7, rows = 200000;
    const double odd[] = { std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::denorm_min(), -0.0 };
    CurveFile file = record(0.2, {}, {});
    file.startCurrent = -1;
    for (int r = 0; r < rows; ++r)
        file.time << r * 5.0 + 1e-9;
    for (int c = 0; c < channels; ++c) {
        CurveFileCurve k
            = curve(quint16(c), 0x01020304u * quint32(c + 1), c <= 4, c <= 4 ? 1.5 * c : 0, c <= 4 ? -0.5 * c : 0, {});
        for (int r = 0; r < rows; ++r)
            k.values << (r % 997 == c ? odd[c % 4] : (r - rows / 2) * 0.001 * (c + 1));
        file.curves << k;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath("rec.cqz");
    QSaveFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QVERIFY(writeCurveFile(&out, file));
    QVERIFY(out.commit());
    QFile in(path);
    QVERIFY(in.open(QIODevice::ReadOnly));
    CurveFile back;
    QCOMPARE(readCurveFile(&in, &back), CURVE_FILE_OK);
    QCOMPARE(back.time.size(), rows);
    QVERIFY(written(back) == written(file));
}

void TestCurveFile::rejected_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<curve_file_status_e>("status");
    const auto patched
        = [](int at, Raw field) { return QByteArray(vbusCapBytes).replace(at, field.b.size(), field.b); };
    const struct
    {
        const char* name;
        int length;
    } cuts[] = { { "empty", 0 }, { "in the rate", 5 }, { "before the curve count", 21 }, { "in a curve header", 25 },
        { "in the extrema", 37 }, { "before the row count", 52 }, { "in the row count", 54 }, { "before the rows", 56 },
        { "in the last row", 127 } };
    for (const auto& cut : cuts)
        QTest::newRow(cut.name) << vbusCapBytes.left(cut.length) << CURVE_FILE_TRUNCATED;
    QTest::newRow("row count beyond the rows present") << patched(52, Raw().i32(100000)) << CURVE_FILE_TRUNCATED;
    QTest::newRow("row count beyond a list") << patched(52, Raw().i32(CURVE_FILE_ROWS_MAX + 1)) << CURVE_FILE_TOO_LARGE;
    QTest::newRow("negative row count") << patched(52, Raw().i32(-1)) << CURVE_FILE_BAD_ROW_COUNT;
    const double rates[] = { 0.0, -1.0, 0.000999, 1000000.5, std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity() };
    for (double rate : rates)
        QTest::newRow(qPrintable(QString("rate %1").arg(rate))) << patched(0, Raw().f64(rate)) << CURVE_FILE_BAD_RATE;
    QTest::newRow("repeated channel") << patched(45, Raw().u16(0)) << CURVE_FILE_BAD_CURVE_LIST;
    QTest::newRow("descending channels") << patched(22, Raw().u16(6)) << CURVE_FILE_BAD_CURVE_LIST;
    QTest::newRow("ignored channel before a kept one") << patched(22, Raw().u16(9)) << CURVE_FILE_BAD_CURVE_LIST;
}

void TestCurveFile::rejected()
{
    QFETCH(QByteArray, bytes);
    QFETCH(curve_file_status_e, status);
    CurveFile kept = vbusCap;
    QCOMPARE(readBytes(bytes, &kept), status);
    QCOMPARE(written(kept), vbusCapBytes); // untouched
}

void TestCurveFile::readInPart_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<CurveFile>("file");
    const Raw settings = Raw().f64(0.001).i32(50).i32(20).i32(5);
    QTest::newRow("lowest rate, bytes after the count") << Raw(settings).u16(0).f64(1.0).b << record(0.001, {}, {});
    QTest::newRow("highest rate") << Raw().f64(1e6).i32(50).i32(20).i32(5).u16(0).b << record(1e6, {}, {});
    const Raw withSeven = Raw(settings).u16(2).head(0, 1).f64s({ 3, 2 }).head(7, 1).f64s({ 9, 9 });
    QTest::newRow("channel above 6: column skipped")
        << Raw(withSeven).i32(2).f64s({ 0, 2.5, -1, 1, 3, -1 }).b
        << record(0.001, { curve(0, 0xFF000000, true, 3, 2, { 2.5, 3 }) }, { 0, 1 });
    QTest::newRow("extrema of CAP skipped, flag 2 means none")
        << Raw(settings).u16(2).head(5, 1).f64s({ 9, 9 }).head(6, 2).i32(1).f64s({ 0, 0.5, 1.5 }).b
        << record(0.001, { curve(5, 0xFF000005, false, 0, 0, { 0.5 }), curve(6, 0xFF000006, false, 0, 0, { 1.5 }) },
               { 0 });
    QTest::newRow("bytes after the last row") << vbusCapBytes + QByteArray(9, '\xFF') << vbusCap;
}

void TestCurveFile::readInPart()
{
    QFETCH(QByteArray, bytes);
    QFETCH(CurveFile, file);
    CurveFile read;
    QCOMPARE(readBytes(bytes, &read), CURVE_FILE_OK);
    QCOMPARE(written(read).toHex(' '), written(file).toHex(' '));
}

void TestCurveFile::failingDevices()
{
    // A full disk shows even when everything fits the file's own buffer.
    QFile full("/dev/full");
    QVERIFY(full.open(QIODevice::WriteOnly));
    QVERIFY(!writeCurveFile(&full, record(10.0, {}, {})));
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    QVERIFY(!writeCurveFile(&readOnly, vbusCap));
    QBuffer closed;
    CurveFile file;
    QCOMPARE(readCurveFile(&closed, &file), CURVE_FILE_READ_ERROR);
}

QTEST_GUILESS_MAIN(TestCurveFile)
#include "tst_curvefile.moc"
