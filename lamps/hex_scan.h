#pragma once

#include <cstdint>

// Reads a number the way a "%X" conversion of formatted input does: leading
// white space is skipped, then an optional sign, an optional "0x" or "0X"
// prefix and hexadecimal digits of either case up to the first other
// character. A prefix with no digit behind it converts nothing, on every C
// runtime: msvcrt would read "0x" as 0, which is why this is not sscanf.
// Digits beyond 32 bits wrap; a '-' negates modulo 2^32.
// Returns the number of converted fields: 1 with *value set, or 0 with
// *value untouched.
int ScanHexX(const char* text, uint32_t* value);
