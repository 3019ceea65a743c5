// The 32-bit program, the one users get, once end to end, as it comes out
// of the release zip. tests/wine/smoke32.sh starts it straight under the
// 32-bit Wine beside a virtual lamp on Wine's own HID stack; this driver
// takes it on from there: lamp lines written to its pipe, the lamp's
// reports, the panel and the About box checked, and closed. Each start of a
// 32-bit program is slow here (emulated), hence the waits.
#include <gtest/gtest.h>

#include "pipe_session.h"
#include "program_driver.h"
#include "virtual_lamp_fixture.h"

namespace {

const DWORD kSlow = 240000;
std::string lampLog;

TEST(Shipped32BitProgram, LightsTheLampsEndToEnd)
{
    RunningProgram program;
    ASSERT_TRUE(RunningProgram::Attach(&program, "tolvaren.exe", kSlow))
        << "tolvaren.exe is not running: tests/wine/smoke32.sh starts it";
    HWND window = program.WaitForMainWindow(kSlow);
    ASSERT_NE(window, nullptr) << "no window; boxes: " << program.Boxes().size();
    EXPECT_TRUE(program.Boxes().empty());
    EXPECT_EQ(WindowText(window), "Tolvaren Glimmerix (VID=16C0, PID=5DF)");
    EXPECT_TRUE(WaitForPanel(window, ">???", 0, 0, kSlow));

    PipeWriter writer;
    ASSERT_EQ(writer.Open(kSlow), 0u);
    ASSERT_TRUE(writer.Write(">5L00FF\n"));
    EXPECT_TRUE(WaitForPanel(window, ">5L00FF", 0xFF, 0x00, kSlow));
    Sleep(300);
    ASSERT_TRUE(writer.Write(">3LA5C3\n"));
    EXPECT_TRUE(WaitForPanel(window, ">3LA5C3", 0xC3, 0xA5, kSlow));
    writer.Close();
    EXPECT_TRUE(WaitForPanel(window, ">xxx", 0xC3, 0xA5, kSlow));
    EXPECT_EQ(LampLogReports(lampLog), (std::vector<std::string>{LampReport(0xFF, 0x00), LampReport(0xC3, 0xA5)}));

    PostMessageA(window, WM_SYSCOMMAND, 0x6000, 0);
    const MessageBoxView box = program.WaitForBox(kSlow);
    EXPECT_EQ(box.caption, "Pipe Server Glimmerix");
    EXPECT_EQ(box.text.substr(0, 48), "Simple Tolvaren V1.00 for the Glimmerix plugin.\n");
    EXPECT_EQ(box.owner, nullptr);
    DismissBox(box);
    EXPECT_TRUE(WaitUntil([&] { return program.Boxes().empty(); }, kSlow));

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(kSlow), 0u);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: smoke32_e2e_test LAMP_LOG (run by tests/wine/smoke32.sh)\n");
        return 2;
    }
    lampLog = WindowsPath(argv[1]);
    return RUN_ALL_TESTS();
}
