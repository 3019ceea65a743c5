// The lamp road on a real Linux kernel, checked from inside Wine: run in
// the guest of tests/vm (checks.sh), as an unprivileged user whom a udev
// rule lets open the lamps' hidraw nodes, in a prefix set up as
// scripts/run.sh sets up a user's. The lamps are kernel-lamp processes the
// guest's script started (tests/vm/kernel_lamp.cpp); TOLVAREN_VM_LAMPS
// names their folder (a Unix path), where lamp NAME logs to NAME.log,
// refuses reports while NAME.refuse is there and goes away when
// NAME.remove appears. Each suite wants its own lamps, as checks.sh plugs
// them in, all with the default ids, each with its name for its serial:
//   GadgetLamps     USB gadget lamps "first" and "second", plugged in in
//                   that order
//   UhidLamp        a uhid lamp "uhid"
//   RefusingGadget  a USB gadget lamp "refusing" that refuses every report
// and lamps of the project's own firmware, emulated on the host and
// attached over USB/IP, whose NAME.log gets "pins XXXX" each time their
// GPIO0-15 change; NAME.serial holds their serial, and NAME.remove has
// checks.sh detach them:
//   FirmwareLamp    "pico"; the folder holds tune.wav, a short tune
//   FirmwareLamps   "pico" and "zero", attached in that order
// Each logged event ends with the guest's clock when it came, in seconds.
// The unchanged programs lie beside this one (tests/real).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lamps/lamp_identity.h"
#include "pipe_session.h"
#include "program_driver.h"
#include "test_files.h"
#include "tool_run.h"

namespace {

// Everything takes longer in an emulated machine.
const DWORD kWaitMs = 30000;
// Long enough for a line's report to have reached the lamp if one were sent.
const DWORD kSettle = 1500;

// The lines written to measure how long a line takes to its lamp.
const int kTimedLines = 200;

// How tolvaren-send --list shows a lamp with the default ids and strings
// on the hidraw road. Wine 8 reads no USB strings for a hidraw device: its
// manufacturer is "hidraw" and its product the kernel's name of the
// device, the USB manufacturer and product joined. Wine 10 reads them from
// the USB device, which a uhid lamp has none of. Both take the serial from
// the kernel's (the USB serial string, or uhid's uniq).
std::string ListedLamp(bool usbStrings, const std::string& serial)
{
    return std::string(usbStrings ? "-v16C0 -p05DF  manufacturer \"" LAMP_MANUFACTURER "\", product \"" LAMP_PRODUCT
                                  : "-v16C0 -p05DF  manufacturer \"hidraw\", product \"" LAMP_MANUFACTURER " " LAMP_PRODUCT) +
           "\", serial \"" + serial + "\"  (tolvaren's default ids)\n";
}

bool WineReadsUsbStrings()
{
    return WineVersion() >= 1000;
}

std::string LampsFolder()
{
    const char* folder = std::getenv("TOLVAREN_VM_LAMPS");
    return WindowsPath(folder ? folder : "");
}

std::string LampFile(const std::string& lamp, const char* suffix)
{
    return LampsFolder() + "\\" + lamp + suffix;
}

// A lamp's logged event: its text, and when it came (the guest's clock,
// in seconds).
struct LampEvent {
    std::string text;
    double at;
};

// The events of a lamp's log that begin with kind, each without it and
// without its time.
std::vector<LampEvent> Events(const std::string& lamp, const std::string& kind)
{
    std::vector<LampEvent> events;
    for (const std::string& line : ReadTextLines(LampFile(lamp, ".log"))) {
        const size_t time = line.rfind(' ');
        if (line.compare(0, kind.size(), kind) != 0 || time == std::string::npos || time < kind.size()) continue;
        events.push_back({line.substr(kind.size(), time - kind.size()), std::atof(line.c_str() + time + 1)});
    }
    return events;
}

// A kernel lamp's reports "TYPE XX XX ... VERDICT".
std::vector<std::string> Reports(const std::string& lamp)
{
    std::vector<std::string> reports;
    for (const LampEvent& event : Events(lamp, "report ")) reports.push_back(event.text);
    return reports;
}

// The values an emulated lamp's pins showed, in order.
std::vector<unsigned> Pins(const std::string& lamp)
{
    std::vector<unsigned> pins;
    for (const LampEvent& event : Events(lamp, "pins ")) pins.push_back(std::strtoul(event.text.c_str(), nullptr, 16));
    return pins;
}

// The values the pins showed after their first `before` changes.
std::vector<unsigned> PinsSince(const std::string& lamp, size_t before)
{
    const std::vector<unsigned> pins = Pins(lamp);
    return std::vector<unsigned>(pins.begin() + static_cast<long>(std::min(before, pins.size())), pins.end());
}

bool LampLogSays(const std::string& lamp, const std::string& line)
{
    for (const std::string& logged : ReadTextLines(LampFile(lamp, ".log")))
        if (logged == line || logged.compare(0, line.size() + 1, line + " ") == 0) return true;
    return false;
}

std::string Serial(const std::string& lamp)
{
    const std::vector<std::string> lines = ReadTextLines(LampFile(lamp, ".serial"));
    return lines.empty() ? lamp : lines[0];
}

// The guest's clock, in seconds, as the lamps' logs give it.
double Now()
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const unsigned long long kUnixEpoch = 116444736000000000ULL;  // 1970 in 100 ns since 1601
    return static_cast<double>(ticks - kUnixEpoch) / 1e7;
}

// "p50 X ms, p99 Y ms" of the delays, in seconds.
std::string Percentiles(std::vector<double> delays)
{
    if (delays.empty()) return "none";
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double share) { return 1000 * delays[std::min(delays.size() - 1, static_cast<size_t>(share * delays.size()))]; };
    char text[80];
    std::snprintf(text, sizeof text, "p50 %.1f ms, p99 %.1f ms over %zu lines", at(0.5), at(0.99), delays.size());
    return text;
}

// The values of a run of lamp lines, a value that repeats the one before
// dropped: what a lamp's pins show of them.
std::vector<unsigned> Changes(const std::vector<unsigned>& values, unsigned before)
{
    std::vector<unsigned> changes;
    for (unsigned value : values) {
        if (value != (changes.empty() ? before : changes.back())) changes.push_back(value);
    }
    return changes;
}

std::string Report(const char* type, uint8_t low, uint8_t high, const char* verdict = "ok")
{
    char text[80];
    std::snprintf(text, sizeof text, "%s 01 00 %02X %02X 00 00 00 %s", type, low, high, verdict);
    return text;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class KernelLamp : public ::testing::Test, protected PipeSession {
protected:
    void SetUp() override { ASSERT_NE(LampsFolder(), "") << "TOLVAREN_VM_LAMPS is not set"; }
    void TearDown() override { CloseProgram(); }

    // Starts the program, which must find its lamp without a box.
    void Start(const std::string& args = "")
    {
        program.reset(new RunningProgram(TestBinDirectory() + "\\tolvaren.exe", args));
        ASSERT_TRUE(program->started());
        window = program->WaitForMainWindow(kWaitMs);
        for (const MessageBoxView& box : program->Boxes()) ADD_FAILURE() << "a box: " << box.text;
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(WaitForPanel(window, ">???", 0, 0, kWaitMs));
    }

    // Sends a lamp line and waits for the lamp to log its report.
    void SendToLamp(const std::string& lamp, const std::string& line, uint8_t low, uint8_t high)
    {
        const size_t before = Reports(lamp).size();
        Send(line + "\n", line, low, high, kWaitMs);
        EXPECT_TRUE(WaitUntil([&] { return Reports(lamp).size() > before; }, kWaitMs))
            << "no report of " << line << " reached the lamp " << lamp;
    }

    std::string List()
    {
        const ToolResult listed = ToolRun("tolvaren-send.exe", {"--list"}).Finish(kWaitMs);
        EXPECT_EQ(listed.exitCode, 0u) << listed.err;
        return listed.out;
    }

    // Writes kTimedLines lamp lines, each once the last one's event has
    // reached the lamp's log, and gives how long each took from its write
    // to its event there.
    std::vector<double> TimeLines(const std::string& lamp, const std::string& kind)
    {
        std::vector<double> delays;
        Start();
        EXPECT_TRUE(writer.open() || writer.Open() == 0) << "the program's pipe can't be opened";
        for (int i = 0; i < kTimedLines && writer.open() && !HasFailure(); ++i) {
            const size_t before = Events(lamp, kind).size();
            const double written = Now();
            EXPECT_TRUE(writer.Write(i % 2 ? ">5LA55A\n" : ">5L5AA5\n"));
            std::vector<LampEvent> events;
            EXPECT_TRUE(WaitUntil([&] { return (events = Events(lamp, kind)).size() > before; }, kWaitMs, 1))
                << "line " << i << " never reached the lamp " << lamp;
            if (events.size() > before) delays.push_back(events[before].at - written);
        }
        return delays;
    }
};

using GadgetLamps = KernelLamp;
using UhidLamp = KernelLamp;
using RefusingGadget = KernelLamp;
using FirmwareLamp = KernelLamp;
using FirmwareLamps = KernelLamp;

TEST_F(GadgetLamps, AreListedWithTheirIdsAndStrings)
{
    const std::string listed = List();
    for (const char* lamp : {"first", "second"})
        EXPECT_EQ(Count(listed, ListedLamp(WineReadsUsbStrings(), lamp)), 1u) << "Wine " << WineVersionText() << "\n" << listed;
}

TEST_F(GadgetLamps, OtherIdsFindNoLampAndSaySo)
{
    RunningProgram other(TestBinDirectory() + "\\tolvaren.exe", "-v1234 -p5678");
    const MessageBoxView box = other.WaitForBox(kWaitMs);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "Tolvaren Glimmerix");
    EXPECT_EQ(box.text, "no HID found with VID=1234, PID=5678");
    DismissBox(box);
    HWND otherWindow = other.WaitForMainWindow(kWaitMs);
    ASSERT_NE(otherWindow, nullptr);
    PostMessageA(otherWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(other.WaitForExit(kWaitMs), 0u);
}

// A user's session, start to end. Of two lamps with the same ids the
// program takes the one plugged in first; each lamp line's report reaches
// it exactly and in order, and no other line sends one. Pulled out while
// the program holds it, the program goes on serving its pipe and painting
// its window, sends nothing to the lamp that is left, and ends as it
// should.
TEST_F(GadgetLamps, TheFirstGetsEachLampLinesReportAndCanBePulledOut)
{
    Start();
    const LampLineCase cases[] = {
        {">5L00FF", ">5L00FF", 0xFF, 0x00, true},  {">5LFF00", ">5LFF00", 0x00, 0xFF, true},
        {">hello", ">hello", 0x00, 0xFF, false},   {">5l00FF", ">5l00FF", 0x00, 0xFF, false},
        {">3L0F", ">3L0F", 0x0F, 0x00, true},      {">5LZZ", ">5LZZ", 0x0F, 0x00, false},
        {">5L12345", ">5L12345", 0x45, 0x23, true}, {">5L-1", ">5L-1", 0xFF, 0xFF, true},
    };
    std::vector<std::string> expected;
    for (const LampLineCase& c : cases) {
        if (c.reported) {
            SendToLamp("first", c.write, c.low, c.high);
            expected.push_back(Report("set_report", c.low, c.high));
        } else {
            Send(c.write + "\n", c.text, c.low, c.high, kWaitMs);
            Sleep(kSettle);
        }
        EXPECT_EQ(Reports("first"), expected) << "after " << c.text;
    }

    ASSERT_TRUE(WriteTextFile(LampFile("first", ".remove"), ""));
    ASSERT_TRUE(WaitUntil([] { return LampLogSays("first", "removed"); }, kWaitMs));
    Send(">5L8001\n", ">5L8001", 0x01, 0x80, kWaitMs);
    Send(">5L0000\n", ">5L0000", 0x00, 0x00, kWaitMs);
    Sleep(kSettle);
    EXPECT_EQ(Reports("first"), expected);
    EXPECT_TRUE(Reports("second").empty()) << "the second lamp of the ids got a report";
    EXPECT_EQ(program->WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

// The figure beside which the firmware lamp's is read: from the write of
// a lamp line into the pipe to its report at the gadget; the second one,
// now that the first is gone.
TEST_F(GadgetLamps, LinesReachTheLampInMilliseconds)
{
    std::printf("figure: pipe to gadget lamp, Wine %s: %s\n", WineVersionText().c_str(),
                Percentiles(TimeLines("second", "report ")).c_str());
}

// A uhid lamp has no USB device above it, so Wine names it as it names any
// hidraw device without one. The kernel tells the lamp each report's type.
// While it refuses them, each report is refused, and the program goes on.
TEST_F(UhidLamp, GetsEachReportAsAFeatureReportAndMayRefuseIt)
{
    const std::string listed = List();
    EXPECT_EQ(Count(listed, ListedLamp(false, "uhid")), 1u) << listed;
    Start();
    SendToLamp("uhid", ">5L00FF", 0xFF, 0x00);
    ASSERT_TRUE(WriteTextFile(LampFile("uhid", ".refuse"), ""));
    SendToLamp("uhid", ">5LA55A", 0x5A, 0xA5);
    SendToLamp("uhid", ">5L0F0F", 0x0F, 0x0F);
    EXPECT_EQ(Reports("uhid"), (std::vector<std::string>{Report("feature", 0xFF, 0x00),
                                                        Report("feature", 0x5A, 0xA5, "refused"),
                                                        Report("feature", 0x0F, 0x0F, "refused")}));
    EXPECT_EQ(program->WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

// A gadget's SET_REPORTs are stalled in the kernel, before the lamp could
// see them: nothing reaches its log, and the program goes on.
TEST_F(RefusingGadget, LeavesTheProgramServing)
{
    Start();
    Send(">5L00FF\n", ">5L00FF", 0xFF, 0x00, kWaitMs);
    Send(">5L0F0F\n", ">5L0F0F", 0x0F, 0x0F, kWaitMs);
    Sleep(kSettle);
    EXPECT_TRUE(Reports("refusing").empty());
    EXPECT_EQ(program->WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

TEST_F(FirmwareLamp, IsListedWithItsStringsAndSerial)
{
    const std::string listed = List();
    EXPECT_EQ(Count(listed, ListedLamp(WineReadsUsbStrings(), Serial("pico"))), 1u)
        << "Wine " << WineVersionText() << "\n" << listed;
}

// The whole road: each lamp line's value, sent by the program as its
// report, shows on the firmware's pins, in order, and no other line
// changes them.
TEST_F(FirmwareLamp, EachLampLinesValueShowsOnItsPins)
{
    Start();
    const size_t before = Pins("pico").size();
    const LampLineCase cases[] = {
        {">5L00FF", ">5L00FF", 0xFF, 0x00, true},  {">5LFF00", ">5LFF00", 0x00, 0xFF, true},
        {">hello", ">hello", 0x00, 0xFF, false},   {">5l00FF", ">5l00FF", 0x00, 0xFF, false},
        {">3L0F", ">3L0F", 0x0F, 0x00, true},      {">5LZZ", ">5LZZ", 0x0F, 0x00, false},
        {">5L12345", ">5L12345", 0x45, 0x23, true}, {">5L-1", ">5L-1", 0xFF, 0xFF, true},
        {">5L8001", ">5L8001", 0x01, 0x80, true},
    };
    std::vector<unsigned> expected;
    for (const LampLineCase& c : cases) {
        Send(c.write + "\n", c.text, c.low, c.high, kWaitMs);
        if (c.reported) {
            expected.push_back(c.low | (c.high << 8));
            EXPECT_TRUE(WaitUntil([&] { return Pins("pico").size() >= before + expected.size(); }, kWaitMs))
                << c.write << " never reached the pins";
        } else {
            Sleep(kSettle);
        }
        EXPECT_EQ(PinsSince("pico", before), expected) << "after " << c.write;
    }
}

TEST_F(FirmwareLamp, LinesReachItsPinsInMilliseconds)
{
    std::printf("figure: pipe to the firmware's pins, Wine %s: %s\n", WineVersionText().c_str(),
                Percentiles(TimeLines("pico", "pins ")).c_str());
}

// tolvaren-vis playing a file into the program: the pins show the values
// of the lines that its --print gives for that file, in the same order.
TEST_F(FirmwareLamp, FollowsTolvarenVisPlayingAFile)
{
    const std::string tune = LampFile("tune", ".wav");
    const ToolResult printed = ToolRun("tolvaren-vis.exe", {"--print", tune}).Finish(kWaitMs);
    ASSERT_EQ(printed.exitCode, 0u) << printed.err;
    std::vector<unsigned> values;
    for (size_t at = printed.out.find(">5L"); at != std::string::npos; at = printed.out.find(">5L", at + 1))
        values.push_back(std::strtoul(printed.out.c_str() + at + 3, nullptr, 16));
    ASSERT_GE(values.size(), 4u) << printed.out;

    Start();
    const std::vector<unsigned> pinsBefore = Pins("pico");
    const unsigned shown = pinsBefore.empty() ? 0 : pinsBefore.back();
    const ToolResult played = ToolRun("tolvaren-vis.exe", {tune}).Finish(kWaitMs);
    EXPECT_EQ(played.exitCode, 0u) << played.err;
    const std::vector<unsigned> expected = Changes(values, shown);
    EXPECT_TRUE(WaitUntil([&] { return PinsSince("pico", pinsBefore.size()).size() >= expected.size(); }, kWaitMs));
    Sleep(kSettle);
    EXPECT_EQ(PinsSince("pico", pinsBefore.size()), expected) << "tolvaren-vis --print gave:\n" << printed.out;
}

TEST_F(FirmwareLamps, AreBothListedWithTheirSerials)
{
    const std::string listed = List();
    for (const char* lamp : {"pico", "zero"})
        EXPECT_EQ(Count(listed, ListedLamp(WineReadsUsbStrings(), Serial(lamp))), 1u)
            << "Wine " << WineVersionText() << "\n" << listed;
}

// Of two lamps the program takes the one attached first. Detached while
// the program holds it, the program goes on serving its pipe and painting
// its window, sends nothing to the other, and ends as it should.
TEST_F(FirmwareLamps, TheFirstTakesTheLinesAndCanBeDetachedWhileHeld)
{
    const size_t secondBefore = Pins("zero").size();
    Start();
    const size_t before = Pins("pico").size();
    Send(">5L0FF0\n", ">5L0FF0", 0xF0, 0x0F, kWaitMs);
    Send(">5LF00F\n", ">5LF00F", 0x0F, 0xF0, kWaitMs);
    EXPECT_TRUE(WaitUntil([&] { return Pins("pico").size() >= before + 2; }, kWaitMs));
    EXPECT_EQ(PinsSince("pico", before), (std::vector<unsigned>{0x0FF0, 0xF00F}));

    ASSERT_TRUE(WriteTextFile(LampFile("pico", ".remove"), ""));
    EXPECT_TRUE(WaitUntil([] { return LampLogSays("pico", "released"); }, kWaitMs)) << "the lamp pico was not detached";
    const std::vector<unsigned> detached = Pins("pico");
    EXPECT_TRUE(!detached.empty() && detached.back() == 0u) << "the detached lamp's pins are not dark";
    Send(">5L8001\n", ">5L8001", 0x01, 0x80, kWaitMs);
    Send(">5L0000\n", ">5L0000", 0x00, 0x00, kWaitMs);
    Sleep(kSettle);
    EXPECT_EQ(Pins("zero").size(), secondBefore) << "the lamp zero's pins changed";
    EXPECT_EQ(program->WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

}  // namespace
