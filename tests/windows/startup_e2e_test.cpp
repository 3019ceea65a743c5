// The program as a user starts it: the boxes it shows, its window, its
// panel, the About box and how it ends; on the system's own HID stack, with
// a virtual lamp or none. Run under Wine on a virtual display.
#include <gtest/gtest.h>

#include "program_driver.h"
#include "virtual_lamp_fixture.h"

namespace {

const char kAboutText[] =
    "Simple Tolvaren V1.00 for the Glimmerix plugin.\n"
    "Reading winamp data from the pipe:\n"
    "\\\\.\\pipe\\korvinde\n"
    "\n"
    "Startup parameter:\n"
    "-vXXXX -pXXXX\n"
    "e.g. -v16c0 -p05DF for default VID + PID\n"
    "\n"
    "(c) 2026 Tolvaren Lampworks";

std::string ProgramPath(const char* name = "tolvaren.exe")
{
    return TestBinDirectory() + "\\" + name;
}

void CloseAndExpectExitCodeZero(RunningProgram& program, HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(), 0u);
}

// The program started beside one virtual lamp, so no box comes before its
// window.
class WithLamp : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(lamp, 0) << bench.problem();
        window = program.WaitForMainWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(program.Boxes().empty());
    }

    // In this order: the lamp is there before the program starts.
    VirtualLampBench bench;
    int lamp = bench.AddLamp();
    RunningProgram program{ProgramPath(), ""};
    HWND window = NULL;
};

struct IdsCase {
    const char* args;
    const char* ids;  // as the box and the title print them
};

const IdsCase kIdsCases[] = {
    {"", "VID=16C0, PID=5DF"},
    {"-v1234 /pabcd", "VID=1234, PID=ABCD"},
    {"\"-p 12\" -V9999 -v0x1F", "VID=1F, PID=12"},
    {"-v -pzz", "VID=16C0, PID=5DF"},
};

TEST(Startup, WithoutDeviceTheBoxComesFirstThenTheWindow)
{
    for (const IdsCase& c : kIdsCases) {
        SCOPED_TRACE(c.args);
        // No lamp is present.
        RunningProgram program(ProgramPath(), c.args);
        ASSERT_TRUE(program.started());

        const MessageBoxView box = program.WaitForBox();
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.caption, "Tolvaren Glimmerix");
        EXPECT_EQ(box.text, std::string("no HID found with ") + c.ids);
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(program.MainWindow(), nullptr) << "the window must wait for the box";

        DismissBox(box);
        HWND window = program.WaitForMainWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(WindowText(window), std::string("Tolvaren Glimmerix (") + c.ids + ")");
        EXPECT_TRUE(program.Boxes().empty());
        CloseAndExpectExitCodeZero(program, window);
    }
}

TEST_F(WithLamp, WindowHasItsClassSizeAndPlace)
{

    EXPECT_EQ(ClassName(window), "PipeWClass");
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 266);
    EXPECT_EQ(rect.bottom - rect.top, 113);
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXFULLSCREEN) - 246) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYFULLSCREEN) - 113) / 2);
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0);
    CloseAndExpectExitCodeZero(program, window);
}

TEST_F(WithLamp, PanelStartsDarkWithTheListenerLine)
{
    EXPECT_TRUE(WaitForPanel(window, ">???", 0x00, 0x00));
    const PanelView view = ReadPanel(window);
    EXPECT_TRUE(view.readable);
    EXPECT_TRUE(view.outlinesGrey);
    EXPECT_FALSE(PanelShowsText(window, ">??"));
    CloseAndExpectExitCodeZero(program, window);
}

TEST_F(WithLamp, AboutBoxShowsForItsCommandOnly)
{

    PostMessageA(window, WM_SYSCOMMAND, 0x6000, 0);
    const MessageBoxView box = program.WaitForBox();
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "Pipe Server Glimmerix");
    EXPECT_EQ(box.text, kAboutText);
    EXPECT_EQ(box.owner, nullptr);
    DismissBox(box);
    EXPECT_TRUE(WaitUntil([&] { return program.Boxes().empty(); }));

    // Commands that only look like it, such as one DefWindowProc would mask
    // to the same value, get default processing and no box.
    for (WPARAM command : {WPARAM(0x6001), WPARAM(0x6010), WPARAM(0x16000)}) {
        PostMessageA(window, WM_SYSCOMMAND, command, 0);
        EXPECT_FALSE(WaitUntil([&] { return !program.Boxes().empty(); }, 400)) << command;
    }
    CloseAndExpectExitCodeZero(program, window);
}

TEST(Startup, RefusesWindows98WithItsMessageAlone)
{
    const std::string old = ProgramPath("tolvaren98.exe");
    ASSERT_TRUE(CopyBeside(ProgramPath(), old));
    ASSERT_TRUE(SetWineWindowsVersion("tolvaren98.exe", "win98"));

    RunningProgram program(old, "");
    const MessageBoxView box = program.WaitForBox();
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "Pipe Server Glimmerix");
    EXPECT_EQ(box.text, "CreateNamedPipe will only work on Windows NT.");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(program.MainWindow(), nullptr);
    PipeWriter writer;
    EXPECT_EQ(writer.TryOpen(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "no pipe is served";

    DismissBox(box);
    EXPECT_EQ(program.WaitForExit(), 0u);
    DeleteFileA(old.c_str());
}

}  // namespace
