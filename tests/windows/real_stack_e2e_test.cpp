// The program and tolvaren-send with lamps of every kind on the system's
// own HID stack: Wine's setupapi, hid.dll and hidclass.sys serving virtual
// lamps (tools/virtual-lamp), nothing substituted. The programs are
// unchanged copies of the shipped ones, apart from the simulated device.
// Run under Wine on a virtual display.
#include <gtest/gtest.h>

#include "lamps/lamp_identity.h"
#include "pipe_session.h"
#include "tool_run.h"
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
    return TestBinDirectory() + "\\tolvaren.exe";
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


TEST_F(RealStack, OtherIdsFindNoLampAndSaySo)
{
    ASSERT_GE(bench.AddLamp(), 0) << bench.problem();
    RunningProgram other(ProgramPath(), "-v1234 -p5678");
    const MessageBoxView box = other.WaitForBox();
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "Tolvaren Glimmerix");
    EXPECT_EQ(box.text, "no HID found with VID=1234, PID=5678");
    DismissBox(box);
    HWND otherWindow = other.WaitForMainWindow();
    ASSERT_NE(otherWindow, nullptr);
    EXPECT_EQ(WindowText(otherWindow), "Tolvaren Glimmerix (VID=1234, PID=5678)");
    PipeWriter line;
    ASSERT_EQ(line.Open(), 0u);
    ASSERT_TRUE(line.Write(">5L00FF\n"));
    EXPECT_TRUE(WaitForPanel(otherWindow, ">5L00FF", 0xFF, 0x00)) << "the panel works without a lamp";
    line.Close();
    Sleep(kSettle);
    EXPECT_TRUE(bench.Reports(0).empty()) << "the lamp of other ids got a report";
    PostMessageA(otherWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(other.WaitForExit(), 0u);
}

TEST_F(RealStack, OfTwoLampsWithTheSameIdsTheFirstIsTaken)
{
    VirtualLampSpec first, second, other;
    first.serial = "first";
    second.serial = "second";
    other.vendorId = 0x1234;
    other.productId = 0x5678;
    const int lamps[3] = {bench.AddLamp(first), bench.AddLamp(second), bench.AddLamp(other)};
    for (int lamp : lamps) ASSERT_GE(lamp, 0) << bench.problem();

    StartProgram(ProgramPath());
    Send(">5L00FF\n", ">5L00FF", 0xFF, 0x00);
    CloseProgram();
    StartProgram(ProgramPath(), "-v1234 -p5678");
    Send(">5LFF00\n", ">5LFF00", 0x00, 0xFF);
    CloseProgram();
    EXPECT_EQ(bench.Reports(lamps[0]), (std::vector<std::string>{LampReport(0xFF, 0x00)}));
    EXPECT_TRUE(bench.Reports(lamps[1]).empty()) << "the second lamp of the ids got a report";
    EXPECT_EQ(bench.Reports(lamps[2]), (std::vector<std::string>{LampReport(0x00, 0xFF)}));
}

TEST_F(RealStack, TolvarenSendListsTheLampsWithTheirIdsAndStrings)
{
    VirtualLampSpec lamp;
    lamp.serial = "E660583883724A01";
    VirtualLampSpec other;
    other.vendorId = 0x1234;
    other.productId = 0xABCD;
    other.manufacturer = "Other Lampmakers";
    other.product = "Lamp of Another Kind";
    other.serial = "7";
    ASSERT_GE(bench.AddLamp(lamp), 0) << bench.problem();
    ASSERT_GE(bench.AddLamp(other), 0) << bench.problem();

    const ToolResult listed = ToolRun("tolvaren-send.exe", {"--list"}).Finish();
    EXPECT_EQ(listed.exitCode, 0u) << listed.err;
    EXPECT_TRUE(Says(listed.out, "-v16C0 -p05DF  manufacturer \"" LAMP_MANUFACTURER "\", product \"" LAMP_PRODUCT
                                 "\", serial \"E660583883724A01\"  (tolvaren's default ids)"))
        << listed.out;
    EXPECT_TRUE(Says(listed.out, "-v1234 -pABCD  manufacturer \"Other Lampmakers\", product \"Lamp of Another "
                                 "Kind\", serial \"7\"\n"))
        << listed.out;
    EXPECT_TRUE(Says(listed.out, bench.Path(0))) << listed.out;
}

// As with the simulated lamp: a report stuck at the lamp for ten seconds
// leaves the window answering, and the program ends in time; the next copy
// serves the pipe, and its report goes once the lamp answers again.
TEST_F(RealStack, AStuckReportLeavesTheWindowAnsweringAndTheProgramEndsInTime)
{
    const unsigned long kStallMs = 10000;
    VirtualLampSpec stalled;
    stalled.delayMs = kStallMs;
    Start(stalled);
    const DWORD stalledAt = GetTickCount();
    ASSERT_TRUE(writer.Open() == 0);
    ASSERT_TRUE(writer.Write(">5L00FF\n"));
    ASSERT_TRUE(WaitUntil([&] { return bench.PendingCount(lamp) == 1; }, 2000));
    ExpectAnsweringWhileStuck(">5L00FF", 0xFF, 0x00);
    ASSERT_LT(GetTickCount() - stalledAt, kStallMs) << "the checks took longer than the stall";

    ASSERT_TRUE(bench.SetDelay(lamp, 0)) << bench.problem();
    StartProgram(ProgramPath());
    EXPECT_TRUE(program->Boxes().empty()) << "the pipe was still held";
    Send(">5L0F0F\n", ">5L0F0F", 0x0F, 0x0F, kStallMs + 5000);
    EXPECT_TRUE(bench.WaitForReports(lamp, 2, kStallMs + 5000));
    // The lamp logs a report when it answers it: the stuck one last.
    std::vector<LampReportRecord> records = bench.ReportRecords(lamp);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].report, LampReport(0x0F, 0x0F));
    EXPECT_EQ(records[1].report, LampReport(0xFF, 0x00));
    EXPECT_LT(records[1].arrived, records[0].arrived) << "the stuck report was sent first";
}

}  // namespace
