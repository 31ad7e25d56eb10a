#pragma once

#include <QString>

// How the trigger dialog and the trigger page show a fast-charge voltage, and
// where each protocol's voltage slider starts.

// Slider position chosen when the user picks a protocol (order of
// SuportProtocol::allProtVol): its 5 V entry, or the lowest voltage where it has none.
inline constexpr int defaultVolIndex[] = { 0, 7, 0, 85, 0 };

// Two digits before the point and two after, "05.00" for 5000 mV; the
// millivolt digit is dropped (every table entry is a multiple of 20 mV).
inline QString voltageDigits(int mv)
{
    return QStringLiteral("%1%2.%3%4")
        .arg(QString::number(mv / 10000), QString::number((mv % 10000) / 1000), QString::number((mv % 1000) / 100),
            QString::number((mv % 100) / 10));
}

// The same with its unit, "05.00V".
inline QString voltageText(int mv)
{
    return voltageDigits(mv) + QLatin1Char('V');
}
