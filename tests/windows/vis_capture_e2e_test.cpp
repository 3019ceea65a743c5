// tolvaren-vis driving the real tolvaren with a virtual lamp, from live
// sound: tests/wine/vis-capture.sh runs a PulseAudio server with a null
// sink and plays a clip of four rounds of a bass note and a treble note into
// it each time this driver writes "ready" into the shared folder, writing
// "played" when it is over. The lamp's reports must follow the clip, and
// go out when tolvaren-vis is stopped: by Ctrl-C, or by its console
// window closing.
#include <gtest/gtest.h>

#include "console_run.h"
#include "pipe_session.h"
#include "test_files.h"
#include "tool_run.h"
#include "virtual_lamp_fixture.h"

namespace {

std::string shared;  // the folder the script and this driver share

bool FileThere(const std::string& name)
{
    return GetFileAttributesA((shared + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The upper row's lamps at its left (the lowest bands) and the lower row's
// at its right (the highest).
bool Bass(unsigned value)
{
    return (value & 0x00E0u) != 0;
}

bool Treble(unsigned value)
{
    return (value & 0x0700u) != 0;
}

unsigned ReportValue(const std::string& report)
{
    // "7 01 00 LL HH 00 00 00 ok"
    return std::stoul(report.substr(11, 2), nullptr, 16) << 8 | std::stoul(report.substr(8, 2), nullptr, 16);
}

// Has the script play the clip once.
bool StartTheClip()
{
    DeleteFileA((shared + "\\played").c_str());
    return WriteTextFile(shared + "\\ready", "");
}

bool WaitForTheClipsEnd()
{
    return WaitUntil([] { return FileThere("played"); }, 60000);
}

// Each lit stretch of the lamp shows one note: the changes from bass (B) to
// treble (T) and back.
std::string Notes(const std::vector<std::string>& reports)
{
    std::string notes;
    for (const std::string& report : reports) {
        const unsigned value = ReportValue(report);
        const char note = Bass(value) && !Treble(value) ? 'B' : Treble(value) && !Bass(value) ? 'T' : '\0';
        if (note != '\0' && (notes.empty() || notes.back() != note)) notes += note;
    }
    return notes;
}

class VisCapture : public ::testing::Test, protected PipeSession {
protected:
    void TearDown() override { CloseProgram(); }
    VirtualLampBench bench;
};

TEST_F(VisCapture, TheLampFollowsWhatPlays)
{
    const ToolResult devices = ToolRun("tolvaren-vis.exe", {"--list-devices"}).Finish();
    EXPECT_EQ(devices.exitCode, 0u) << devices.err;
    EXPECT_TRUE(Says(devices.out, "Monitor of Lamp_Test")) << devices.out;

    const int lamp = bench.AddLamp();
    ASSERT_GE(lamp, 0) << bench.problem();
    StartProgram(TestBinDirectory() + "\\tolvaren.exe");

    ToolRun vis("tolvaren-vis.exe", {"--capture"});
    ASSERT_TRUE(WaitUntil([&] { return Says(vis.ErrorsSoFar(), "showing what comes in on"); }, 20000))
        << vis.ErrorsSoFar();
    EXPECT_TRUE(Says(vis.ErrorsSoFar(), "\"Monitor of Lamp_Test\"")) << vis.ErrorsSoFar();
    ASSERT_TRUE(StartTheClip() && WaitForTheClipsEnd()) << "the clip was never played";
    EXPECT_NE(RaiseConsoleEvent(vis.process(), CTRL_C_EVENT), INFINITE);
    const ToolResult ended = vis.Finish(10000);
    EXPECT_TRUE(ended.finished);
    EXPECT_EQ(ended.exitCode, 0u) << "Ctrl-C ends it well\n" << ended.err;

    std::vector<std::string> reports = bench.Reports(lamp);
    ASSERT_FALSE(reports.empty());
    std::printf("the lamp took %zu reports, showing the notes %s\n", reports.size(), Notes(reports).c_str());
    EXPECT_EQ(Notes(reports), "BTBTBTBT") << "the lamp's notes, bass (B) and treble (T)";
    EXPECT_EQ(reports.back(), LampReport(0, 0)) << "Ctrl-C puts the lamps out";
}

TEST_F(VisCapture, DoubleClickedItStartsTolvarenFollowsAndPutsTheLampsOutAsItsWindowCloses)
{
    const int lamp = bench.AddLamp();
    ASSERT_GE(lamp, 0) << bench.problem();
    ConsoleRun vis("tolvaren-vis.exe", {}, ConsoleRun::kOwnConsole);
    ASSERT_TRUE(vis.WaitForTitle("tolvaren-vis: the lamps follow the music"));
    ASSERT_TRUE(vis.WaitForScreen("Close this window or press Ctrl-C to stop.", 20000)) << vis.Screen();
    // Wine before 9.12 has no loopback stream: the sink's monitor stands in
    // for the default output.
    const char* const followed = WineOlderThan(9, 12) ? "Monitor of Lamp_Test" : "PulseAudio Output";
    EXPECT_TRUE(vis.Shows(std::string("Following what plays on ") + followed + ".")) << vis.Screen();
    // tolvaren was not running: the one beside tolvaren-vis comes.
    program.reset(new RunningProgram);
    ASSERT_TRUE(RunningProgram::Attach(program.get(), "tolvaren.exe", 10000)) << vis.Screen();
    window = program->WaitForMainWindow();
    ASSERT_TRUE(vis.WaitForScreen("tolvaren is there", 10000)) << vis.Screen();

    // The window closes in the middle of the clip, with lamps lit: the
    // system raises the close event and ends the process once the handler
    // returns, 5 s after at the latest.
    ASSERT_TRUE(StartTheClip());
    ASSERT_TRUE(WaitUntil([&] {
        const std::vector<std::string> reports = bench.Reports(lamp);
        return !reports.empty() && Notes(reports) == "BTB" && reports.back() != LampReport(0, 0);
    }, 20000)) << "the lamp never showed the first three notes";
    const DWORD held = vis.RaiseEvent(CTRL_CLOSE_EVENT);
    std::printf("the close event was held %lu ms\n", held);
    EXPECT_LT(held, 5000u);
    vis.Terminate(0);
    EXPECT_TRUE(WaitUntil([&] { return bench.Reports(lamp).back() == LampReport(0, 0); }, 3000))
        << "the lamps stay lit";
    EXPECT_TRUE(WaitForTheClipsEnd());
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vis_capture_e2e_test SHARED_FOLDER (run by tests/wine/vis-capture.sh)\n");
        return 2;
    }
    shared = WindowsPath(argv[1]);
    return RUN_ALL_TESTS();
}
