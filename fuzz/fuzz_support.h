#pragma once
// What the fuzz targets share: a check that holds in every build type, and a
// model of the "%X" reading written from its description alone, apart from
// lamps/hex_scan.cpp, so that the two can be held against each other.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// assert() is gone under NDEBUG; a fuzz target's checks must never be.
#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

// Skip white space (" \t\n\v\f\r"), take an optional sign, then an optional
// "0x"/"0X" and hexadecimal digits of either case. Nothing converts when no
// digit follows; digits past 32 bits wrap and '-' negates modulo 2^32.
inline bool ReferenceScanHexX(const std::string& text, uint32_t* value)
{
    const std::string space = " \t\n\v\f\r";
    const std::string digits = "0123456789abcdef";
    size_t i = 0;
    while (i < text.size() && space.find(text[i]) != std::string::npos) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) i += 2;

    uint64_t number = 0;
    size_t count = 0;
    for (; i < text.size(); ++i, ++count) {
        char c = text[i];
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        const size_t digit = digits.find(c);
        if (digit == std::string::npos) break;
        number = (number * 16 + digit) % 0x100000000u;
    }
    if (count == 0) return false;
    *value = static_cast<uint32_t>(negative ? (0x100000000u - number) % 0x100000000u : number);
    return true;
}

// The text of a C string held in fuzz input: everything up to the first NUL.
inline std::string TextUpToNul(const uint8_t* data, size_t size)
{
    size_t length = 0;
    while (length < size && data[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(data), length);
}
