#pragma once

#include <cstdint>

// The USB serial number that tells two lamps apart: the flash chip's 64-bit
// unique id in 16 hexadecimal digits, read through the boot ROM. Where no
// boot ROM answers (an emulator of the chip), the id can't be read, and the
// serial is a fixed fallback of sixteen zeros.

enum : unsigned {
    kLampSerialDigits = 16,
};

// The fallback, which the emulator's tests expect.
extern const char kLampFallbackSerial[kLampSerialDigits + 1];

// Whether the 4 bytes at the boot ROM's address 0x10 are its header: the
// magic 'M', 'u', 1 and a version byte of 1 or more. Only then may its
// functions be looked up and called.
bool LampBootRomPresent(const uint8_t header[4]);

// The id as the serial's text: 16 upper-case hexadecimal digits, first byte
// first, and a NUL.
void LampSerialFromId(const uint8_t id[8], char text[kLampSerialDigits + 1]);
