#pragma once

#include <QVector>
#include <QtGlobal>

class QIODevice;

// The curve file (".cqz"): the record settings, the curve headers in ascending
// channel order, then rows of time and one value per curve. Raw little-endian
// fields, no signature and no version; the layout is fixed by the files users
// already have.

// Rates a curve file may hold, in points per second.
constexpr double CURVE_FILE_RATE_MIN = 0.001;
constexpr double CURVE_FILE_RATE_MAX = 1000000.0;
// Rows a list of doubles can hold (some 31 days at 100 points per second).
constexpr qint32 CURVE_FILE_ROWS_MAX = (0x7FFFFFFF - 64) / 8;

// One curve: a recorded channel with its colour, extrema and values.
struct CurveFileCurve
{
    quint16 index = 0; // channel, UsbRecParam::RECORD_TYPE_E (0..6)
    quint32 color = 0; // 0xAARRGGBB, as QColor::rgba() gives it
    bool hasExtremum = false; // set for VBUS .. PBUS (0..4); written as the extrema flag
    double maximum = 0.0;
    double minimum = 0.0;
    QVector<double> values; // one per row, in the channel's unit
};

// A whole recording as the file holds it.
struct CurveFile
{
    double sampleRate = 0.0; // points per second
    qint32 startCurrent = 0; // mA
    qint32 stopCurrent = 0; // mA
    qint32 stopTime = 0; // s
    QVector<CurveFileCurve> curves; // ascending index
    QVector<double> time; // s, one per row
};

enum curve_file_status_e
{
    CURVE_FILE_OK,
    CURVE_FILE_READ_ERROR, // the device refused to read
    CURVE_FILE_TRUNCATED, // the file ends before its counts say
    CURVE_FILE_BAD_RATE, // not finite, or outside CURVE_FILE_RATE_MIN .. CURVE_FILE_RATE_MAX
    CURVE_FILE_BAD_ROW_COUNT, // negative
    CURVE_FILE_TOO_LARGE, // more rows than CURVE_FILE_ROWS_MAX, or than memory holds
    CURVE_FILE_BAD_CURVE_LIST, // channels not strictly ascending
};

// Writes the whole file to a device open for writing. When there are curves,
// the rows are as many as the time list and every curve's values hold (the
// shortest decides). False when the device refuses a byte or there are more
// than 65535 curves; a file device is flushed, so a full disk shows here. The
// caller still commits or closes the device.
bool writeCurveFile(QIODevice* device, const CurveFile& file);

// Reads and checks a whole file from a device open for reading (a file or a
// buffer). *file is replaced only when the result is CURVE_FILE_OK. Curves of
// channels above 6 are left out (their column is skipped), as are the extrema
// of channels above 4; an extrema flag other than 1 means none follow. Bytes
// after the last row are not read.
curve_file_status_e readCurveFile(QIODevice* device, CurveFile* file);
