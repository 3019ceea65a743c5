// tolvaren-vis --capture driving the real tolvaren with a virtual lamp,
// from live sound: tests/wine/vis-capture.sh runs a PulseAudio server with
// a null sink, plays a clip into it each time this driver writes "ready-N"
// into the shared folder (four rounds of a bass note and a treble note,
// then a steady tone), and presses Ctrl-C when it is over. The lamp's
// reports must follow the clip.
//
// Wines differ in the road: from 9.12 on, Wine captures the default
// output's own (loopback) stream, which delivers nothing at first and then
// unflagged zeros while nothing plays; before, only the sink's monitor, a
// capture device, carries the output. Each road is asserted where its Wine
// must take it, and --device must reach the monitor on every Wine.
#include <gtest/gtest.h>

#include "pipe_session.h"
#include "program_driver.h"
#include "test_files.h"
#include "tool_run.h"
#include "virtual_lamp_fixture.h"

namespace {

std::string shared;  // the folder the script and this driver share
int pass = 0;        // clips played so far

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

bool LoopbackExpected()
{
    return WineVersion() >= 912;
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
        ++pass;
        ASSERT_TRUE(WriteTextFile(shared + "\\ready-" + std::to_string(pass), ""));

        ASSERT_TRUE(WaitUntil([&] { return FileThere("played-" + std::to_string(pass)); }, 60000))
            << "the clip was never played";
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

    // Each lit stretch of the lamp shows one note: count the changes from
    // bass to treble and back. Before the first note, silence: dark.
    void CheckNotes(const std::vector<LampReportRecord>& records)
    {
        std::string notes;
        bool dark = true;
        for (const LampReportRecord& record : records) {
            const unsigned value = ReportValue(record.report);
            if (notes.empty() && value != 0) dark = Bass(value);
            const char note = Bass(value) && !Treble(value) ? 'B' : Treble(value) && !Bass(value) ? 'T' : '\0';
            if (note != '\0' && (notes.empty() || notes.back() != note)) notes += note;
            if (notes.size() == 8) break;
        }
        std::printf("the lamp took %zu reports, showing the notes %s\n", records.size(), notes.c_str());
        EXPECT_EQ(notes, "BTBTBTBT") << "the lamp's notes, bass (B) and treble (T)";
        EXPECT_TRUE(dark) << "the silence before the notes lit a lamp";
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
