#pragma once

#include "lminputdialog.h" // TRIGGER_PARAM_T

#include <QByteArray>
#include <QList>
#include <QVector>

class QIODevice;

// The trigger-plan file (".pqz"), all integers little-endian int32:
//   11 bytes  signature: ten lowercase letters and a NUL
//    4 bytes  step count n
//   12 bytes  per step: protocol index, voltage index (position in that
//             protocol's voltage list), duration in ms
// A written file is 15 + 12 * n bytes; bytes after the last step are ignored.
namespace planfile {

inline constexpr char signature[11] = { 'q', 'o', 'r', 'v', 'a', 'n', 't', 'h', 'e', 'l', '\0' };
inline constexpr int headerSize = 15;
inline constexpr int stepSize = 12;

// The file's bytes for the given steps.
QByteArray encode(const QList<TRIGGER_PARAM_T>& steps);

// Writes encode(steps); false when the device took fewer bytes.
bool write(QIODevice& out, const QList<TRIGGER_PARAM_T>& steps);

struct ReadResult
{
    bool ok = false; // false: not a plan file, cut short, or a step outside the voltage table
    QList<TRIGGER_PARAM_T> steps;
};

// Reads a plan from the device's current position. Every step must name a
// protocol of allProtVol and a voltage of that protocol's list. A count of 0
// or less is an empty plan. Nothing is sized from the count in the file.
ReadResult read(QIODevice& in, const QVector<QList<int>>& allProtVol);

} // namespace planfile
