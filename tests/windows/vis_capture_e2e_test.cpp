// tolvaren-vis driving the real tolvaren with a virtual lamp, from live
// sound: tests/wine/vis-capture.sh runs a PulseAudio server with a null
// sink and plays a clip into it (four rounds of a bass note and a treble
// note, then a steady tone) each time this driver writes "ready" into the
// shared folder, writing "played" when it is over. The lamp's reports must
// follow the clip, and go out when tolvaren-vis is stopped: by Ctrl-C, or
// by its console window closing.
//
// Wines differ in the road: from 9.12 on, Wine captures the default
// output's own (loopback) stream, which delivers nothing at first and then
// unflagged zeros while nothing plays; before, only the sink's monitor, a
// capture device, carries the output. Each road is asserted where its Wine
// must take it, and --device must reach the monitor on every Wine.
#include <gtest/gtest.h>

#include "console_run.h"
#include "pipe_session.h"
#include "program_driver.h"
#include "test_files.h"
#include "tool_run.h"
#include "virtual_lamp_fixture.h"

namespace {

std::string shared;  // the folder the script and this driver share

// The clip's steady tone, from the script: 1 kHz for 3 s after the notes.
const double kToneMs = 3000;
const long long kSettleMs = 200;

bool FileThere(const std::string& name)
{
    return GetFileAttributesA((shared + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The upper row's lamps at its left (the lowest bands), the lower row's
// at its right (the highest), and the lower row's leftmost (about 1 kHz).
bool Bass(unsigned value)
{
    return (value & 0x00E0u) != 0;
}

bool Treble(unsigned value)
{
    return (value & 0x0700u) != 0;
}

bool Tone(unsigned value)
{
    return (value & 0x8000u) != 0 && !Bass(value) && !Treble(value);
}

unsigned ReportValue(const std::string& report)
{
    // "7 01 00 LL HH 00 00 00 ok"
    return std::stoul(report.substr(11, 2), nullptr, 16) << 8 | std::stoul(report.substr(8, 2), nullptr, 16);
}

// Wine before 9.12 has no loopback stream: the sink's monitor stands in
// for the default output there.
bool LoopbackExpected()
{
    return WineVersion() == 0 || WineVersion() >= 912;
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

    // Starts the program and tolvaren-vis with args, has the clip played,
    // stops it with Ctrl-C and checks what the lamp showed.
    void CaptureClip(const Args& args, const std::string& says)
    {
        const int lamp = bench.AddLamp();
        ASSERT_GE(lamp, 0) << bench.problem();
        StartProgram(TestBinDirectory() + "\\tolvaren.exe");

        ToolRun vis("tolvaren-vis.exe", args);
        ASSERT_TRUE(WaitUntil([&] { return Says(vis.ErrorsSoFar(), "showing what"); }, 20000))
            << vis.ErrorsSoFar();
        EXPECT_TRUE(Says(vis.ErrorsSoFar(), says)) << vis.ErrorsSoFar();
        ASSERT_TRUE(StartTheClip() && WaitForTheClipsEnd()) << "the clip was never played";
        EXPECT_NE(RaiseConsoleEvent(vis.process(), CTRL_C_EVENT), INFINITE);
        const ToolResult ended = vis.Finish(10000);
        EXPECT_TRUE(ended.finished);
        EXPECT_EQ(ended.exitCode, 0u) << "Ctrl-C ends it well\n" << ended.err;
        CloseProgram();

        const std::vector<LampReportRecord> records = bench.ReportRecords(lamp);
        ASSERT_FALSE(records.empty());
        CheckNotes(records);
        CheckTone(records);
        EXPECT_EQ(records.back().report, LampReport(0, 0)) << "Ctrl-C puts the lamps out";
        ASSERT_TRUE(bench.RemoveLamp(lamp));
    }

    // Four notes of each; before the first, silence: dark.
    void CheckNotes(const std::vector<LampReportRecord>& records)
    {
        std::vector<std::string> reports;
        for (const LampReportRecord& record : records) reports.push_back(record.report);
        for (const std::string& report : reports) {
            if (ReportValue(report) == 0) continue;
            EXPECT_TRUE(Bass(ReportValue(report))) << "the silence before the notes lit " << report;
            break;
        }
        std::printf("the lamp took %zu reports, showing the notes %s\n", reports.size(), Notes(reports).c_str());
        EXPECT_EQ(Notes(reports), "BTBTBTBT") << "the lamp's notes, bass (B) and treble (T)";
    }

    // A steady tone changes no lamp once its first 200 ms are over, and the
    // silence after it puts the lamps out before Ctrl-C does.
    void CheckTone(const std::vector<LampReportRecord>& records)
    {
        const long long perMs = CountsPerMs();
        size_t first = records.size();
        for (size_t i = 0; i < records.size() && first == records.size(); ++i)
            if (Tone(ReportValue(records[i].report))) first = i;
        ASSERT_LT(first, records.size()) << "the tone never lit its lamp";
        const long long settled = records[first].arrived + kSettleMs * perMs;
        const long long ends = records[first].arrived + static_cast<long long>(kToneMs - kSettleMs) * perMs;
        std::string held, changes;
        for (size_t i = first; i < records.size() && records[i].arrived < ends; ++i) {
            const std::string value = records[i].report.substr(8, 5);
            if (records[i].arrived <= settled) {
                held = value;
            } else if (value != held) {
                changes += value + " at " + std::to_string((records[i].arrived - records[first].arrived) / perMs) +
                           " ms; ";
                held = value;
            }
        }
        EXPECT_EQ(changes, "") << "the steady tone's lamps changed after its first 200 ms";
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(records[records.size() - 2].report, LampReport(0, 0))
            << "the silence after the tone left lamps lit until Ctrl-C";
    }

    VirtualLampBench bench;
};

TEST_F(VisCapture, TheLampFollowsWhatPlays)
{
    const ToolResult devices = ToolRun("tolvaren-vis.exe", {"--list-devices"}).Finish();
    EXPECT_EQ(devices.exitCode, 0u) << devices.err;
    EXPECT_TRUE(Says(devices.out, "Monitor of Lamp_Test")) << devices.out;

    std::printf("Wine %d.%d: %s\n", WineVersion() / 100, WineVersion() % 100,
                LoopbackExpected() ? "loopback of the default output" : "the sink's monitor");
    // Wine names the default output's endpoint after its own driver
    // ("PulseAudio Output"), not after the sink.
    CaptureClip({"--capture"}, LoopbackExpected() ? "showing what plays on \""
                                                  : "showing what comes in on \"Monitor of Lamp_Test\"");
}

TEST_F(VisCapture, TheMonitorCanBeChosenByName)
{
    if (!LoopbackExpected()) GTEST_SKIP() << "without loopback, the first test took the monitor already";
    CaptureClip({"--capture", "--device", "Monitor of"}, "showing what comes in on \"Monitor of Lamp_Test\"");
}

TEST_F(VisCapture, DoubleClickedItStartsTolvarenFollowsAndPutsTheLampsOutAsItsWindowCloses)
{
    const int lamp = bench.AddLamp();
    ASSERT_GE(lamp, 0) << bench.problem();
    ConsoleRun vis("tolvaren-vis.exe", {}, ConsoleRun::kOwnConsole);
    ASSERT_TRUE(vis.WaitForTitle("tolvaren-vis: the lamps follow the music"));
    ASSERT_TRUE(vis.WaitForScreen("Close this window or press Ctrl-C to stop.", 20000)) << vis.Screen();
    const char* const followed = LoopbackExpected() ? "PulseAudio Output" : "Monitor of Lamp_Test";
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
