#include <gtest/gtest.h>

#include <cstring>

#include "lamps/lamp_state.h"

namespace {

struct LampLineCase {
    const char* line;
    uint8_t low;
    uint8_t high;
};

// Lamp commands and the lamp bytes they give, from dark lamps.
const LampLineCase kLampCommands[] = {
    {">5L00FF", 0xFF, 0x00}, {">5LFF00", 0x00, 0xFF}, {">3L0F", 0x0F, 0x00},
    {">5L12345", 0x45, 0x23}, {">5L-1", 0xFF, 0xFF}, {">5L 0F", 0x0F, 0x00},
    {">5L0x0F", 0x0F, 0x00}, {">5L0X0F", 0x0F, 0x00}, {">5LA5A5", 0xA5, 0xA5},
    {">3Lffff", 0xFF, 0xFF}, {">5L1\r", 0x01, 0x00}, {">5L8000", 0x00, 0x80},
};

// Lines that only change the text: no lamp command, or nothing to convert.
const char* const kTextOnlyLines[] = {
    ">5l00FF", ">4L00FF", ">hello", ">???", ">xxx", ">", "", ">5", ">5L",
    ">5LZZ", ">5L0x", ">5L-", ">>5L00FF", "5L00FF", " >5L00FF",
};

LampState LitState()
{
    LampState state = {">5LA5C3", 0xC3, 0xA5};
    return state;
}

TEST(ApplyLampLine, LampCommandsSetBothBytes)
{
    for (const LampLineCase& c : kLampCommands) {
        LampState state = {{0}, 0, 0};
        EXPECT_TRUE(ApplyLampLine(&state, c.line)) << c.line;
        EXPECT_STREQ(state.text, c.line);
        EXPECT_EQ(state.lampsLow, c.low) << c.line;
        EXPECT_EQ(state.lampsHigh, c.high) << c.line;
    }
}

TEST(ApplyLampLine, OtherLinesChangeOnlyTheText)
{
    for (const char* line : kTextOnlyLines) {
        LampState state = LitState();
        EXPECT_FALSE(ApplyLampLine(&state, line)) << line;
        EXPECT_STREQ(state.text, line);
        EXPECT_EQ(state.lampsLow, 0xC3) << line;
        EXPECT_EQ(state.lampsHigh, 0xA5) << line;
    }
}

TEST(ApplyLampLine, NeverWritesPastTheTextField)
{
    struct {
        LampState state;
        char guard[8];
    } padded;
    std::memset(&padded, 0x55, sizeof padded);
    ApplyLampLine(&padded.state, ">5L0001AAAAAAAAAAAAAAA");
    EXPECT_STREQ(padded.state.text, ">5L0001A");
    EXPECT_EQ(padded.state.lampsLow, 0x1A);
    EXPECT_EQ(padded.state.lampsHigh, 0x00);
    for (char c : padded.guard) EXPECT_EQ(c, 0x55);
}

TEST(LampFeatureReport, CarriesIdOneAndBothLampBytes)
{
    const LampState state = {">5L1234", 0x34, 0x12};
    const LampFeatureReport report = MakeLampFeatureReport(state);
    const uint8_t expected[7] = {0x01, 0x00, 0x34, 0x12, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(report.bytes, expected, sizeof expected), 0);
}

}  // namespace
