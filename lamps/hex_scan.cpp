#include "lamps/hex_scan.h"

namespace {

bool IsFormatSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int ScanHexX(const char* text, uint32_t* value)
{
    const char* p = text;
    while (IsFormatSpace(*p)) ++p;

    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
    if (HexDigitValue(*p) < 0) return 0;

    uint32_t result = 0;
    for (int digit; (digit = HexDigitValue(*p)) >= 0; ++p)
        result = (result << 4) | static_cast<uint32_t>(digit);

    *value = negative ? 0u - result : result;
    return 1;
}
