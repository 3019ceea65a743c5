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
// The unchanged programs lie beside this one (tests/real).
#include <gtest/gtest.h>

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

// A kernel lamp's log lines "report TYPE XX XX ... VERDICT", each without
// its "report ".
std::vector<std::string> Reports(const std::string& lamp)
{
    std::vector<std::string> reports;
    for (const std::string& line : ReadTextLines(LampFile(lamp, ".log")))
        if (line.compare(0, 7, "report ") == 0) reports.push_back(line.substr(7));
    return reports;
}

bool LampLogSays(const std::string& lamp, const std::string& line)
{
    for (const std::string& logged : ReadTextLines(LampFile(lamp, ".log")))
        if (logged == line) return true;
    return false;
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
};

using GadgetLamps = KernelLamp;
using UhidLamp = KernelLamp;
using RefusingGadget = KernelLamp;

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

}  // namespace
