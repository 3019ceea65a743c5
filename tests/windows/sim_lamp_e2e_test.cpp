// What only the simulated lamp device (tests/simdev) can show of the real
// program; the rest of its road runs on the system's own HID stack. The
// simulated hid.dll logs a report sent on a handle that is no longer a
// device's ("bad-handle"), where a real stack just fails it; and it can
// tell whether a device is still held open, which Wine's HID stack,
// enforcing no exclusive opening, can't. Run under Wine on a virtual
// display.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "pipe_session.h"
#include "program_driver.h"
#include "sim_device_fixture.h"

namespace {

std::string ProgramPath()
{
    return TestBinDirectory() + "\\tolvaren-sim.exe";
}

bool LogHas(const SimDeviceBench& bench, const std::string& event)
{
    for (const std::string& line : bench.Events())
        if (line == event) return true;
    return false;
}

class SimLamp : public ::testing::Test, protected PipeSession {
protected:
    void TearDown() override
    {
        CloseProgram();
        for (const std::string& event : bench.Events())
            EXPECT_EQ(event.find("bad-handle"), std::string::npos) << "a report went to a closed handle";
    }

    SimDeviceBench bench;
};

TEST_F(SimLamp, TheFinderKeepsItsLampOpenAndClosesTheRest)
{
    SimDeviceSpec other;
    other.vendorId = 0x1234;
    other.productId = 0x5678;
    const std::string otherPath = bench.AddDevice(other);
    const std::string lampPath = bench.AddDevice(SimDeviceSpec());

    StartProgram(ProgramPath(), "-v1234 -p5678");
    EXPECT_TRUE(program->Boxes().empty());
    EXPECT_EQ(WindowText(window), "Tolvaren Glimmerix (VID=1234, PID=5678)");
    EXPECT_FALSE(NobodyHolds(otherPath)) << "the device asked for is held open";
    EXPECT_TRUE(NobodyHolds(lampPath)) << "the other candidate was closed";
    EXPECT_EQ(bench.Events(), (std::vector<std::string>{"open-set", "destroy-set"}));

    CloseProgram();
    EXPECT_TRUE(NobodyHolds(otherPath));
}

TEST_F(SimLamp, ClosingTheWindowWhileAWriterStreams)
{
    bench.AddDevice(SimDeviceSpec());
    StartProgram(ProgramPath());
    std::atomic<bool> stop(false);
    std::atomic<int> written(0);
    std::thread streamer([&] {
        PipeWriter stream;
        if (stream.Open() != 0) return;
        for (int i = 0; !stop && i < 100000; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, ">5L%04X\n", i & 0xFFFF);
            if (!stream.Write(line)) break;
            ++written;
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return written > 50; }));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program->WaitForExit(), 0u);
    stop = true;
    streamer.join();
    EXPECT_FALSE(bench.Reports().empty());
    for (const std::string& report : bench.Reports()) EXPECT_NE(report.find(" ok"), std::string::npos) << report;
}

// A lamp whose report takes ten seconds, as one whose firmware stops
// answering: the program must stay usable, end in good time without
// touching the handle the stuck report is on, and leave the pipe to a copy
// started right after.
TEST_F(SimLamp, AStuckReportLeavesTheWindowAnsweringAndTheProgramEndsInTime)
{
    const DWORD kStallMs = 10000;
    SimDeviceSpec stalled;
    stalled.extra = "delay=" + std::to_string(kStallMs) + "\r\n";
    const std::string lamp = bench.AddDevice(stalled);
    StartProgram(ProgramPath());

    ASSERT_TRUE(writer.Open() == 0);
    ASSERT_TRUE(writer.Write(">5L00FF\n"));
    ASSERT_TRUE(WaitUntil([&] { return LogHas(bench, "stall " + std::to_string(kStallMs)); }))
        << "the report never reached the lamp";
    const DWORD stalledAt = GetTickCount();
    ExpectAnsweringWhileStuck(">5L00FF", 0xFF, 0x00);
    ASSERT_LT(GetTickCount() - stalledAt, kStallMs) << "the checks took longer than the stall";

    // The stuck report never ended, so the lamp never logged it; the next
    // copy gets a lamp that answers.
    EXPECT_TRUE(bench.Reports().empty());
    ASSERT_TRUE(SimDeviceBench::DescribeDevice(lamp, SimDeviceSpec()))
        << "the lamp is still held open after the program ended";
    StartProgram(ProgramPath());
    EXPECT_TRUE(program->Boxes().empty()) << "the pipe was still held";
    Send(">5L0F0F\n", ">5L0F0F", 0x0F, 0x0F);
    EXPECT_EQ(bench.Reports(), (std::vector<std::string>{LampReport(0x0F, 0x0F)}));
}

}  // namespace
