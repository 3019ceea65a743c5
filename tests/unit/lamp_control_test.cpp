#include <gtest/gtest.h>

#include <cstring>

#include "fake_lamp_platform.h"
#include "lamps/lamp_control.h"

namespace {

LampDevice const kDevice = reinterpret_cast<LampDevice>(0x1234);

class ProcessLampLineTest : public ::testing::Test {
protected:
    void SetUp() override { ResetLampControl(); }
    void TearDown() override { ResetLampControl(); }
};

TEST_F(ProcessLampLineTest, LampLineReachesPanelAndDevice)
{
    SetLampDevice(kDevice);
    ProcessLampLine(">5L00FF");

    const LampState state = TakeLampSnapshot();
    EXPECT_STREQ(state.text, ">5L00FF");
    EXPECT_EQ(state.lampsLow, 0xFF);
    EXPECT_EQ(state.lampsHigh, 0x00);

    ASSERT_EQ(RecordedPlatform().sends.size(), 1u);
    EXPECT_EQ(RecordedPlatform().sends[0].device, kDevice);
    const uint8_t expected[7] = {0x01, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(RecordedPlatform().sends[0].report.bytes, expected, 7), 0);
    EXPECT_EQ(RecordedPlatform().repaints, 1);
}

TEST_F(ProcessLampLineTest, EveryLineRepaintsButOnlyLampCommandsSend)
{
    SetLampDevice(kDevice);
    const char* const lines[] = {">5LFF00", ">???", ">5l00FF", ">4L00FF", ">5LZZ", ">xxx", ">3L0F"};
    for (const char* line : lines) ProcessLampLine(line);

    EXPECT_EQ(RecordedPlatform().repaints, 7);
    ASSERT_EQ(RecordedPlatform().sends.size(), 2u);
    EXPECT_EQ(RecordedPlatform().sends[0].report.bytes[3], 0xFF);
    EXPECT_EQ(RecordedPlatform().sends[1].report.bytes[2], 0x0F);
    EXPECT_EQ(RecordedPlatform().sends[1].report.bytes[3], 0x00);
}

TEST_F(ProcessLampLineTest, StatusLinesKeepTheLamps)
{
    ProcessLampLine(">5LA5A5");
    ProcessLampLine(">???");
    const LampState state = TakeLampSnapshot();
    EXPECT_STREQ(state.text, ">???");
    EXPECT_EQ(state.lampsLow, 0xA5);
    EXPECT_EQ(state.lampsHigh, 0xA5);
}

TEST_F(ProcessLampLineTest, WithoutDeviceThePanelStillFollows)
{
    ProcessLampLine(">5L8001");
    const LampState state = TakeLampSnapshot();
    EXPECT_EQ(state.lampsLow, 0x01);
    EXPECT_EQ(state.lampsHigh, 0x80);
    EXPECT_TRUE(RecordedPlatform().sends.empty());
    EXPECT_EQ(RecordedPlatform().repaints, 1);
}

TEST_F(ProcessLampLineTest, NothingIsSentOnceShutdownTookTheDevice)
{
    SetLampDevice(kDevice);
    EXPECT_EQ(TakeLampDevice(), kDevice);
    EXPECT_EQ(TakeLampDevice(), nullptr);
    ProcessLampLine(">5L00FF");
    EXPECT_TRUE(RecordedPlatform().sends.empty());
    EXPECT_EQ(TakeLampSnapshot().lampsLow, 0xFF);
}

TEST_F(ProcessLampLineTest, ResetDarkensTheLampsAndKeepsTheText)
{
    ProcessLampLine(">5LFFFF");
    ResetLampBytes();
    const LampState state = TakeLampSnapshot();
    EXPECT_STREQ(state.text, ">5LFFFF");
    EXPECT_EQ(state.lampsLow, 0);
    EXPECT_EQ(state.lampsHigh, 0);
}

}  // namespace
