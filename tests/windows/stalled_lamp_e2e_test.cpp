// A lamp whose report takes ten seconds, as one whose firmware stops
// answering: the program's window must go on answering and painting, its
// About box must open, closing it must end the program in good time, and a
// copy started right after must serve the pipe. Run under Wine on a virtual
// display.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "program_driver.h"
#include "sim_device_fixture.h"

namespace {

const DWORD kStallMs = 10000;

std::string ProgramPath()
{
    return TestBinDirectory() + "\\tolvaren.exe";
}

bool LogHas(const SimDeviceBench& bench, const std::string& event)
{
    for (const std::string& line : bench.Events())
        if (line == event) return true;
    return false;
}

// How a window that answers at once looks from outside: a message sent to
// it returns within the time.
bool AnswersWithin(HWND window, UINT timeoutMs, DWORD* tookMs)
{
    const DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    const LRESULT answered =
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeoutMs, &result);
    *tookMs = GetTickCount() - start;
    return answered != 0;
}

// Minimised and restored, as a user would: the panel is drawn anew.
void MinimiseAndRestore(HWND window)
{
    PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    WaitUntil([&] { return IsIconic(window) != FALSE; }, 3000);
    PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    WaitUntil([&] { return IsIconic(window) == FALSE; }, 3000);
}

TEST(StalledLamp, WindowAnswersAndTheProgramEndsInTime)
{
    SimDeviceBench bench;
    SimDeviceSpec stalled;
    stalled.extra = "delay=" + std::to_string(kStallMs) + "\r\n";
    const std::string lamp = bench.AddDevice(stalled);

    std::unique_ptr<RunningProgram> program(new RunningProgram(ProgramPath(), ""));
    HWND window = program->WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForPanel(window, ">???", 0, 0));

    PipeWriter writer;
    ASSERT_EQ(writer.Open(), 0u);
    ASSERT_TRUE(writer.Write(">5L00FF\n"));
    ASSERT_TRUE(WaitUntil([&] { return LogHas(bench, "stall " + std::to_string(kStallMs)); }))
        << "the report never reached the lamp";
    const DWORD stalledAt = GetTickCount();

    // The repaint the line asks for comes only after its report; a paint
    // before that shows the line all the same, and leaves the window
    // answering.
    MinimiseAndRestore(window);
    EXPECT_TRUE(WaitForPanel(window, ">5L00FF", 0xFF, 0x00, 3000))
        << "a paint while the report is stuck shows the line's text and lamps";
    DWORD took = 0;
    EXPECT_TRUE(AnswersWithin(window, 100, &took)) << "the window does not answer within 100 ms";
    std::printf("after a paint, the window answered in %lu ms while the report was stuck\n", took);

    PostMessageA(window, WM_SYSCOMMAND, 0x6000, 0);
    const MessageBoxView box = program->WaitForBox(3000);
    ASSERT_NE(box.window, nullptr) << "the About box does not open";
    EXPECT_EQ(box.caption, "Pipe Server Glimmerix");
    DismissBox(box);
    EXPECT_TRUE(WaitUntil([&] { return program->Boxes().empty(); }, 3000));

    const DWORD closedAt = GetTickCount();
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program->WaitForExit(2000), 0u) << "the program did not end within 2 s with exit code 0";
    std::printf("the program ended %lu ms after its window was closed\n", GetTickCount() - closedAt);
    ASSERT_LT(GetTickCount() - stalledAt, kStallMs) << "the checks took longer than the stall";
    program.reset();
    writer.Close();

    // The stuck report never ended, so the lamp never logged it; the next
    // copy gets a lamp that answers.
    EXPECT_TRUE(bench.Reports().empty());
    ASSERT_TRUE(SimDeviceBench::DescribeDevice(lamp, SimDeviceSpec()))
        << "the lamp is still held open after the program ended";

    RunningProgram second(ProgramPath(), "");
    HWND secondWindow = second.WaitForMainWindow();
    ASSERT_NE(secondWindow, nullptr);
    ASSERT_TRUE(WaitForPanel(secondWindow, ">???", 0, 0));
    EXPECT_TRUE(second.Boxes().empty()) << "the pipe was still held: " << second.Boxes()[0].text;
    ASSERT_EQ(writer.Open(), 0u);
    ASSERT_TRUE(writer.Write(">5L0F0F\n"));
    EXPECT_TRUE(WaitForPanel(secondWindow, ">5L0F0F", 0x0F, 0x0F));
    EXPECT_EQ(bench.Reports(), (std::vector<std::string>{"7 01 00 0F 0F 00 00 00 ok"}));
    writer.Close();
    PostMessageA(secondWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(second.WaitForExit(), 0u);
}

}  // namespace
