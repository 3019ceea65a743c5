// The program on the system's own HID stack: Wine's setupapi, hid.dll and
// hidclass.sys serving a virtual lamp (tools/virtual-lamp), nothing
// substituted. The program is an unchanged copy of tolvaren.exe under a
// name of its own, apart from the simulated device. Run under Wine on a
// virtual display.
#include <gtest/gtest.h>

#include "pipe_session.h"
#include "program_driver.h"
#include "virtual_lamp_fixture.h"

extern "C" {
#include <hidsdi.h>
}

namespace {

// Long enough for the program to have read and sent a line.
const DWORD kSettle = 300;

std::string ProgramPath()
{
    return TestBinDirectory() + "\\tolvaren-real.exe";
}

long long Counter()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

long long CountsPerMs()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart / 1000;
}

class RealStack : public ::testing::Test, protected PipeSession {
protected:
    // Adds the lamp, starts the program and waits for its window; no box
    // may come first.
    void Start(const VirtualLampSpec& spec = VirtualLampSpec())
    {
        lamp = bench.AddLamp(spec);
        ASSERT_GE(lamp, 0) << bench.problem();
        StartProgram(ProgramPath());
        for (const MessageBoxView& box : program->Boxes()) ADD_FAILURE() << "a box: " << box.text;
    }

    void TearDown() override { CloseProgram(); }

    VirtualLampBench bench;
    int lamp = -1;
};

TEST_F(RealStack, FoundWithoutABoxAndEachLampLineReachesTheLampExactly)
{
    Start();
    EXPECT_EQ(WindowText(window), "Tolvaren Glimmerix (VID=16C0, PID=5DF)");

    const long long before = Counter();
    Send(">5L00FF\n", ">5L00FF", 0xFF, 0x00);
    const long long after = Counter();
    const std::vector<LampReportRecord> first = bench.ReportRecords(lamp);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].report, LampReport(0xFF, 0x00));
    // The lamp's clock is the program's: the report came between the write
    // and the panel showing it.
    EXPECT_GT(first[0].arrived, before);
    EXPECT_LT(first[0].arrived, after);

    const LampLineCase cases[] = {
        {">5LFF00\n", ">5LFF00", 0x00, 0xFF, true},
        {">hello\n", ">hello", 0x00, 0xFF, false},
        {">5l00FF\n", ">5l00FF", 0x00, 0xFF, false},
        {">4L00FF\n", ">4L00FF", 0x00, 0xFF, false},
        {">5LZZ\n", ">5LZZ", 0x00, 0xFF, false},
        {">3L0F\n", ">3L0F", 0x0F, 0x00, true},
        {">5L12345\n", ">5L12345", 0x45, 0x23, true},
    };
    std::vector<std::string> expected = {LampReport(0xFF, 0x00)};
    for (const LampLineCase& c : cases) {
        Send(c.write, c.text, c.low, c.high);
        if (!c.reported) Sleep(kSettle);
        if (c.reported) expected.push_back(LampReport(c.low, c.high));
        EXPECT_EQ(bench.Reports(lamp), expected) << "after " << c.text;
    }
}

TEST_F(RealStack, ASlowLampHoldsEachReportForItsDelayAndTheProgramGoesOn)
{
    const unsigned long kDelayMs = 1000;
    VirtualLampSpec spec;
    spec.delayMs = kDelayMs;
    Start(spec);

    ASSERT_TRUE(writer.Open() == 0);
    ASSERT_TRUE(writer.Write(">5L00FF\n"));
    // The lamp has the report at once and holds it.
    EXPECT_TRUE(WaitUntil([&] { return bench.PendingCount(lamp) == 1; }, 500));
    EXPECT_TRUE(bench.Reports(lamp).empty());
    EXPECT_TRUE(WaitForPanel(window, ">5L00FF", 0xFF, 0x00));
    Send(">5LFF00\n", ">5LFF00", 0x00, 0xFF);

    ASSERT_TRUE(bench.WaitForReports(lamp, 2, 2 * kDelayMs + 5000));
    const std::vector<LampReportRecord> records = bench.ReportRecords(lamp);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].report, LampReport(0xFF, 0x00));
    EXPECT_EQ(records[1].report, LampReport(0x00, 0xFF));
    for (const LampReportRecord& record : records)
        EXPECT_GE(record.done - record.arrived, static_cast<long long>(kDelayMs) * CountsPerMs() * 95 / 100);
}

TEST_F(RealStack, ALampThatRefusesEveryReportLeavesTheProgramServing)
{
    VirtualLampSpec spec;
    spec.failReports = true;
    Start(spec);
    Send(">5L00FF\n", ">5L00FF", 0xFF, 0x00);
    Send(">5L0F0F\n", ">5L0F0F", 0x0F, 0x0F);
    ASSERT_TRUE(bench.WaitForReports(lamp, 2));
    EXPECT_EQ(bench.Reports(lamp), (std::vector<std::string>{LampReport(0xFF, 0x00, "refused"),
                                                             LampReport(0x0F, 0x0F, "refused")}));
}

TEST_F(RealStack, ALampRemovedWhileTheProgramHoldsItLeavesTheProgramServing)
{
    Start();
    Send(">5L00FF\n", ">5L00FF", 0xFF, 0x00);
    ASSERT_TRUE(bench.RemoveLamp(lamp)) << bench.problem();
    EXPECT_EQ(bench.Path(lamp), "");
    ASSERT_FALSE(bench.Events(lamp).empty());
    EXPECT_EQ(bench.Events(lamp).back().compare(0, 8, "removed "), 0);

    // The program's reports now fail in the HID stack before they reach
    // the lamp; the panel follows all the same.
    Send(">5L8001\n", ">5L8001", 0x01, 0x80);
    Send(">5L0000\n", ">5L0000", 0x00, 0x00);
    Sleep(kSettle);
    EXPECT_EQ(bench.Reports(lamp), (std::vector<std::string>{LampReport(0xFF, 0x00)}));
    EXPECT_EQ(program->WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

// A lamp stalled for a long time holds only its own reports: the program's
// lamp, served by the same driver in the same winedevice.exe, answers at
// once meanwhile, and the stalled report ends when its lamp goes.
TEST_F(RealStack, AStalledLampHoldsNoOtherLamp)
{
    VirtualLampSpec stalled;
    stalled.vendorId = 0x1234;
    stalled.delayMs = 20000;
    const int stuck = bench.AddLamp(stalled);
    ASSERT_GE(stuck, 0) << bench.problem();
    HANDLE device = CreateFileA(bench.Path(stuck).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    // Static: the thread may outlive a failed test, until the lamp goes.
    static struct Stall {
        HANDLE device;
        BOOL sent;
        DWORD error;
    } stall;
    stall = {device, TRUE, 0};
    HANDLE thread = CreateThread(
        NULL, 0,
        [](void* context) -> DWORD {
            Stall* stall = static_cast<Stall*>(context);
            BYTE report[7] = {1, 0, 0x55, 0xAA, 0, 0, 0};
            stall->sent = HidD_SetFeature(stall->device, report, sizeof report);
            stall->error = GetLastError();
            return 0;
        },
        &stall, 0, NULL);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return bench.PendingCount(stuck) == 1; }, 2000));

    Start();
    const long long before = Counter();
    Send(">5L00FF\n", ">5L00FF", 0xFF, 0x00, 2000);
    EXPECT_LT((Counter() - before) / CountsPerMs(), 2000);
    EXPECT_EQ(bench.Reports(lamp), (std::vector<std::string>{LampReport(0xFF, 0x00)}));
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the stall ended early";

    const long long removing = Counter();
    ASSERT_TRUE(bench.RemoveLamp(stuck)) << bench.problem();
    EXPECT_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_LT((Counter() - removing) / CountsPerMs(), 5000);
    EXPECT_FALSE(stall.sent);
    EXPECT_EQ(bench.Reports(stuck), (std::vector<std::string>{LampReport(0x55, 0xAA, "removed")}));
    CloseHandle(thread);
    CloseHandle(device);
}

}  // namespace
