// ScanHexX against a model written from the description of the conversion.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "lamps/hex_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A NUL-terminated copy of exactly the input, so that reading past the
    // text's end is caught.
    std::vector<char> text(data, data + size);
    text.push_back('\0');

    uint32_t expected = 0;
    const bool converts = ReferenceScanHexX(TextUpToNul(data, size), &expected);

    for (uint32_t untouched : {0xDEADBEEFu, 0u}) {
        uint32_t value = untouched;
        const int converted = ScanHexX(text.data(), &value);
        FUZZ_CHECK(converted == (converts ? 1 : 0));
        FUZZ_CHECK(value == (converts ? expected : untouched));
    }
    FUZZ_CHECK(std::memcmp(text.data(), data, size) == 0);
    return 0;
}
