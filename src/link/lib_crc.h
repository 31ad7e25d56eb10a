#pragma once

#include <QtGlobal>

// CRC-8 of the meter's frames: MSB first, no reflection, no final XOR, start 0.
class lib_CRC
{
public:
    static uchar getCRC8(quint8* data, uchar len, uchar poly);
};
