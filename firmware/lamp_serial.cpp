#include "firmware/lamp_serial.h"

const char kLampFallbackSerial[kLampSerialDigits + 1] = "0000000000000000";

bool LampBootRomPresent(const uint8_t header[4])
{
    return header[0] == 'M' && header[1] == 'u' && header[2] == 1 && header[3] >= 1;
}

void LampSerialFromId(const uint8_t id[8], char text[kLampSerialDigits + 1])
{
    static const char kDigits[] = "0123456789ABCDEF";
    char* digit = text;
    for (unsigned i = 0; i < 8; ++i) {
        *digit++ = kDigits[id[i] >> 4];
        *digit++ = kDigits[id[i] & 0xF];
    }
    text[kLampSerialDigits] = '\0';
}
