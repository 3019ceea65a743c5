// The tools double-clicked, as Explorer starts them (a console window of
// their own, no arguments), and started from a command prompt, in Wine's
// own console windows on the tests' display: what they show, what keys do
// there, and what they start.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "console_run.h"
#include "lamps/lamp_identity.h"
#include "tool_run.h"
#include "tools/tolvaren-send/exit_codes.h"
#include "tools/tolvaren-vis/vis_exit_codes.h"
#include "virtual_lamp_fixture.h"

namespace {

const char kPressAKey[] = "Press a key to close this window.";
// The titles a double-click gives their windows.
const char kVisTitle[] = "tolvaren-vis: the lamps follow the music";
const char kSendTitle[] = "tolvaren-send: tolvaren's lamps by hand";

// The environment variable set for the tools this test starts, and as it
// was again afterwards.
class EnvironmentSetting {
public:
    EnvironmentSetting(const char* name, const char* value) : name_(name)
    {
        char old[1024];
        const DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        had_ = length > 0 && length < sizeof old;
        if (had_) old_ = old;
        SetEnvironmentVariableA(name, value);
    }
    ~EnvironmentSetting() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : NULL); }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

TEST(DoubleClick, FromACommandPromptNothingChanges)
{
    struct {
        const char* tool;
        DWORD usageCode;
    } const cases[] = {
        {"tolvaren-vis.exe", kVisExitUsage},
        {"tolvaren-send.exe", kExitUsage},
    };
    for (const auto& c : cases) {
        ConsoleRun run(c.tool, {}, ConsoleRun::kSharedConsole);
        EXPECT_EQ(run.Finish(10000), c.usageCode) << c.tool;
        EXPECT_TRUE(run.Shows("nothing to do")) << c.tool << "\n" << run.Screen();
        EXPECT_FALSE(run.Shows(kPressAKey)) << c.tool << "\n" << run.Screen();
    }
}

TEST(DoubleClick, SendListsTheLampsAndTheCommandsUntilAKeyIsPressed)
{
    VirtualLampBench bench;
    ASSERT_GE(bench.AddLamp(), 0) << bench.problem();
    VirtualLampSpec other;
    other.vendorId = 0x1234;
    other.productId = 0x5678;
    other.product = "Not-A-Lamp";
    ASSERT_GE(bench.AddLamp(other), 0) << bench.problem();

    ConsoleRun send("tolvaren-send.exe", {}, ConsoleRun::kOwnConsole);
    ASSERT_TRUE(send.WaitForTitle(kSendTitle));
    ASSERT_TRUE(send.WaitForScreen(kPressAKey)) << send.Screen();
    for (const char* part : {"-v16C0 -p05DF", LAMP_PRODUCT, "tolvaren-send 00FF", "tolvaren-send --help"})
        EXPECT_TRUE(send.Shows(part)) << part << "\n" << send.Screen();
    EXPECT_FALSE(send.Shows("Not-A-Lamp")) << "only lamps are listed\n" << send.Screen();

    ASSERT_TRUE(send.PressKey(VK_SHIFT, 0));
    Sleep(500);
    EXPECT_TRUE(send.Running()) << "Shift alone is no key to close on";
    ASSERT_TRUE(send.PressKey(VK_SPACE, ' '));
    EXPECT_EQ(send.Finish(5000), static_cast<DWORD>(kExitOk));
}

TEST(DoubleClick, VisKeepsAnErrorOnScreenUntilAKeyIsPressed)
{
    // No sound server to capture from, and no sound card in the machine.
    EnvironmentSetting noSound("PULSE_SERVER", "unix:/nonexistent/tolvaren-test/native");
    ConsoleRun vis("tolvaren-vis.exe", {}, ConsoleRun::kOwnConsole);
    ASSERT_TRUE(vis.WaitForTitle(kVisTitle));
    ASSERT_TRUE(vis.WaitForScreen(kPressAKey)) << vis.Screen();
    EXPECT_TRUE(vis.Shows("tolvaren-vis: ")) << vis.Screen();
    EXPECT_FALSE(vis.Shows("Following what plays")) << vis.Screen();
    Sleep(500);
    EXPECT_TRUE(vis.Running());
    for (const ChildProcess& child : ChildProcesses(vis.id()))
        EXPECT_NE(child.exeName, "tolvaren.exe") << "started for a visualiser that can't follow anything";
    ASSERT_TRUE(vis.PressKey(VK_RETURN, '\r'));
    EXPECT_EQ(vis.Finish(5000), static_cast<DWORD>(kVisExitCaptureFailed));
}

TEST(DoubleClick, CtrlCTypedInAToolsWindowStopsItWell)
{
    PipeServer server;
    ConsoleRun send("tolvaren-send.exe", {"--demo", "20"}, ConsoleRun::kOwnConsole);
    ASSERT_TRUE(server.WaitForClient());
    EXPECT_EQ(server.ReadAll(3).size(), 3u);
    ASSERT_TRUE(send.PressCtrlC());
    server.ReadAll(SIZE_MAX, 3000);
    EXPECT_EQ(send.Finish(5000), static_cast<DWORD>(kExitOk)) << "ended the hard way, not by its catcher";
}

}  // namespace
