#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

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
    // With no report under way there is nothing to wait for.
    EXPECT_EQ(TakeLampDevice(60000), kDevice);
    EXPECT_EQ(TakeLampDevice(60000), nullptr);
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

// A lamp whose firmware stops answering: its report is held at the device
// until the test lets it go.
class StuckLamp : public ProcessLampLineTest {
protected:
    void SetUp() override
    {
        ProcessLampLineTest::SetUp();
        SetLampDevice(kDevice);
        HoldFakeSends();
        sender = std::thread([] { ProcessLampLine(">5L00FF"); });
        ASSERT_TRUE(WaitForHeldSend(5000)) << "the report never reached the device";
    }

    void TearDown() override
    {
        ReleaseFakeSends();
        if (sender.joinable()) sender.join();
        ProcessLampLineTest::TearDown();
    }

    std::thread sender;
};

TEST_F(StuckLamp, ThePanelReadsTheLineWithoutWaiting)
{
    std::future<LampState> snapshot = std::async(std::launch::async, TakeLampSnapshot);
    const bool painted = snapshot.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!painted) ReleaseFakeSends();  // else the future would wait for good
    ASSERT_TRUE(painted) << "a paint waits for the device";
    const LampState state = snapshot.get();
    EXPECT_STREQ(state.text, ">5L00FF");
    EXPECT_EQ(state.lampsLow, 0xFF);
    EXPECT_EQ(state.lampsHigh, 0x00);
    EXPECT_EQ(RecordedPlatform().repaints, 0) << "the repaint is asked for after the send";

    ReleaseFakeSends();
    sender.join();
    EXPECT_EQ(RecordedPlatform().repaints, 1);
}

TEST_F(StuckLamp, ShutdownGivesUpAndLeavesTheHandleOpen)
{
    std::future<LampDevice> taken = std::async(std::launch::async, TakeLampDevice, 50u);
    const bool ended = taken.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!ended) ReleaseFakeSends();
    ASSERT_TRUE(ended) << "shutdown waits for the device beyond its bound";
    EXPECT_EQ(taken.get(), nullptr) << "a handle a report is still using must not be closed";
    MarkFakeLampDeviceTaken(kDevice, true);

    ReleaseFakeSends();
    sender.join();
    ProcessLampLine(">5L0001");
    EXPECT_EQ(RecordedPlatform().sends.size(), 1u);
    EXPECT_EQ(RecordedPlatform().sendsAfterTaken, 0);
    EXPECT_EQ(TakeLampSnapshot().lampsLow, 0x01) << "the panel still follows";
}

TEST_F(StuckLamp, ShutdownTakesTheDeviceOnceTheReportEnds)
{
    std::thread answer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ReleaseFakeSends();
    });
    EXPECT_EQ(TakeLampDevice(5000), kDevice);
    answer.join();
    CloseFakeLampDevice(kDevice);
    sender.join();
    ProcessLampLine(">5L0002");
    EXPECT_EQ(RecordedPlatform().sends.size(), 1u);
    EXPECT_EQ(RecordedPlatform().sendsOnClosedDevices, 0);
}

}  // namespace
