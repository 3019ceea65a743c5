#include <gtest/gtest.h>

#include "lamps/hex_scan.h"

namespace {

struct HexCase {
    const char* text;
    int converted;
    uint32_t value;  // expected when converted
};

const HexCase kHexCases[] = {
    {"FF", 1, 0xFF},
    {"00ff", 1, 0xFF},
    {"aBcD", 1, 0xABCD},
    {"12345", 1, 0x12345},
    {"7", 1, 7},
    {" 0F", 1, 0x0F},
    {"\t\n\v\f\r 1", 1, 1},
    {"0x0F", 1, 0x0F},
    {"0X0F", 1, 0x0F},
    {"0x1F", 1, 0x1F},
    {"+1F", 1, 0x1F},
    {"-1", 1, 0xFFFFFFFFu},
    {"-0x10", 1, 0xFFFFFFF0u},
    {"0", 1, 0},
    {"00x5", 1, 0},            // the prefix is only a prefix at the start
    {"1F\t2", 1, 0x1F},        // stops at the first other character
    {"12G", 1, 0x12},
    {"123456789", 1, 0x23456789},  // wraps past 32 bits
};

const char* const kNothingToConvert[] = {
    "", " ", "ZZ", "G1", "0x", "0X", "0xg", "-", "+", "-0x", "+ 1", "- 1", "x1", "\x80",
};

TEST(ScanHexX, ConvertsAsTheDescribedConversion)
{
    for (const HexCase& c : kHexCases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(ScanHexX(c.text, &value), c.converted) << "text: \"" << c.text << '"';
        EXPECT_EQ(value, c.value) << "text: \"" << c.text << '"';
    }
}

TEST(ScanHexX, ConvertsNothingAndLeavesTheValueAlone)
{
    for (const char* text : kNothingToConvert) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(ScanHexX(text, &value), 0) << "text: \"" << text << '"';
        EXPECT_EQ(value, 0xDEADBEEFu) << "text: \"" << text << '"';
    }
}

}  // namespace
