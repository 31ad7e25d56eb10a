#include "lib_crc.h"

uchar lib_CRC::getCRC8(quint8* data, uchar len, uchar poly)
{
    uchar crc = 0;
    for (uchar i = 0; i < len; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? uchar((crc << 1) ^ poly) : uchar(crc << 1);
    }
    return crc;
}
