// Lamp lines on their way from a pipe writer through the real program to
// its panel and a virtual lamp, on the system's own HID stack (Wine's
// setupapi, hid.dll and hidclass.sys; nothing substituted). Run under Wine
// on a virtual display.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

#include "pipe_session.h"
#include "program_driver.h"
#include "virtual_lamp_fixture.h"

namespace {

// Long enough for the program to have read and shown a write, so that the
// next write arrives in a read of its own.
const DWORD kSettle = 300;

// The program as a user has it, in the folder of the tests on the real
// stack.
std::string ProgramPath()
{
    return TestBinDirectory() + "\\tolvaren.exe";
}

class PipeRoad : public ::testing::Test, protected PipeSession {
protected:
    // Adds the lamp and starts the program, which must find it: no box.
    void Start(const VirtualLampSpec& spec = VirtualLampSpec())
    {
        ASSERT_GE(bench.AddLamp(spec), 0) << bench.problem();
        StartProgram(ProgramPath());
        for (const MessageBoxView& box : program->Boxes()) ADD_FAILURE() << "a box: " << box.text;
    }

    void TearDown() override { CloseProgram(); }

    // Writes bytes that must change nothing.
    void SendIgnored(const std::string& bytes, const std::string& text, uint8_t low, uint8_t high)
    {
        ASSERT_TRUE(writer.open() || writer.Open() == 0);
        const size_t reports = bench.Reports().size();
        ASSERT_TRUE(writer.Write(bytes));
        Sleep(kSettle);
        EXPECT_TRUE(WaitForPanel(window, text, low, high, 0)) << "after writing " << ::testing::PrintToString(bytes);
        EXPECT_EQ(bench.Reports().size(), reports);
    }

    VirtualLampBench bench;
};

TEST_F(PipeRoad, EachLineReachesPanelAndDevice)
{
    Start();
    EXPECT_EQ(WindowText(window), "Tolvaren Glimmerix (VID=16C0, PID=5DF)");
    // The lamp's clock is the program's: the report comes between the
    // write and the panel showing it.
    const long long before = Counter();
    Send(">5LA55A\n", ">5LA55A", 0x5A, 0xA5);
    const long long after = Counter();
    const std::vector<LampReportRecord> first = bench.ReportRecords();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].report, LampReport(0x5A, 0xA5));
    EXPECT_GT(first[0].arrived, before);
    EXPECT_LT(first[0].arrived, after);

    const LampLineCase cases[] = {
        {">5L00FF\n", ">5L00FF", 0xFF, 0x00, true},
        {">5LFF00\n", ">5LFF00", 0x00, 0xFF, true},
        {">3L0F\n", ">3L0F", 0x0F, 0x00, true},
        {">5l00FF\n", ">5l00FF", 0x0F, 0x00, false},
        {">4L00FF\n", ">4L00FF", 0x0F, 0x00, false},
        {">5L12345\n", ">5L12345", 0x45, 0x23, true},
        {">5LZZ\n", ">5LZZ", 0x45, 0x23, false},
        {">hello\n", ">hello", 0x45, 0x23, false},
        {">5L-1\n", ">5L-1", 0xFF, 0xFF, true},
        {">5L0x81\n", ">5L0x81", 0x81, 0x00, true},
    };
    std::vector<std::string> expected = {LampReport(0x5A, 0xA5)};
    for (const LampLineCase& c : cases) {
        Send(c.write, c.text, c.low, c.high);
        if (!c.reported) Sleep(kSettle);
        if (c.reported) expected.push_back(LampReport(c.low, c.high));
        EXPECT_EQ(bench.Reports(), expected) << "after " << c.text;
    }
}

TEST_F(PipeRoad, FramingOfTheByteStream)
{
    Start();
    Send("ab>5L0001\n", ">5L0001", 0x01, 0x00);
    Send(">5L0002\r\n", ">5L0002\r", 0x02, 0x00);
    Send(">5L0003\n>5L0004\n", ">5L0003", 0x03, 0x00);
    SendIgnored(">5L1234567\n", ">5L0003", 0x03, 0x00);
    SendIgnored(">5L123456>1\n", ">5L0003", 0x03, 0x00);
    SendIgnored(">5L00", ">5L0003", 0x03, 0x00);
    SendIgnored("05\n", ">5L0003", 0x03, 0x00);
    Send(std::string(">5\0L0006\n", 9), ">5", 0x03, 0x00);
    Send(std::string(">5L\0" "0007\n", 9), ">5L", 0x03, 0x00);
    Send(">\n", ">", 0x03, 0x00);
    EXPECT_EQ(bench.Reports(), (std::vector<std::string>{LampReport(1, 0), LampReport(2, 0), LampReport(3, 0)}));
}

TEST_F(PipeRoad, WritersComeAndGoOneAtATime)
{
    Start();
    Send(">5LA5C3\n", ">5LA5C3", 0xC3, 0xA5);

    PipeWriter second;
    const DWORD before = GetTickCount();
    EXPECT_EQ(second.TryOpen(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    EXPECT_LT(GetTickCount() - before, 1000u) << "a second writer is refused at once";

    writer.Close();
    EXPECT_TRUE(WaitForPanel(window, ">xxx", 0xC3, 0xA5)) << "the lamps keep their state";
    EXPECT_EQ(bench.Reports().size(), 1u);

    ASSERT_EQ(second.Open(), 0u);
    ASSERT_TRUE(second.Write(">5L0100\n"));
    EXPECT_TRUE(WaitForPanel(window, ">5L0100", 0x00, 0x01));
    second.Close();
    EXPECT_TRUE(WaitForPanel(window, ">xxx", 0x00, 0x01));
    EXPECT_EQ(bench.Reports(), (std::vector<std::string>{LampReport(0xC3, 0xA5), LampReport(0x00, 0x01)}));
}

TEST_F(PipeRoad, ASecondCopyReportsThePipeAndKeepsItsWindow)
{
    Start();
    // What creating the same pipe again gives on this system.
    HANDLE probe = CreateNamedPipeA(kPipeName, PIPE_ACCESS_INBOUND, 0, 1, 0, 18, 0, NULL);
    const DWORD expectedCode = GetLastError();
    ASSERT_EQ(probe, INVALID_HANDLE_VALUE);

    RunningProgram second(ProgramPath(), "");
    const MessageBoxView box = second.WaitForBox();
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "Debug Window");
    EXPECT_EQ(box.text, "Error return code from CreateNamedPipe = " + std::to_string(expectedCode) + ".");
    HWND secondWindow = second.MainWindow();
    ASSERT_NE(secondWindow, nullptr);
    EXPECT_EQ(box.owner, secondWindow);
    EXPECT_EQ(WindowText(secondWindow), "Tolvaren Glimmerix (VID=16C0, PID=5DF)");

    DismissBox(box);
    EXPECT_TRUE(WaitForPanel(secondWindow, ">???", 0, 0)) << "its window stays";
    EXPECT_EQ(second.WaitForExit(300), static_cast<DWORD>(STILL_ACTIVE));
    PostMessageA(secondWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(second.WaitForExit(), 0u);

    Send(">5L8001\n", ">5L8001", 0x01, 0x80);
    EXPECT_EQ(bench.Reports(), (std::vector<std::string>{LampReport(0x01, 0x80)}));
}

TEST_F(PipeRoad, HundredsOfWritersEachReported)
{
    Start();
    // Settle the handle count after the first writer.
    Send(">5L0000\n", ">5L0000", 0, 0);
    writer.Close();
    ASSERT_TRUE(WaitForPanel(window, ">xxx", 0, 0));
    const DWORD handlesBefore = program->HandleCount();

    const int kWriters = 300;
    for (int i = 1; i <= kWriters; ++i) {
        PipeWriter one;
        ASSERT_EQ(one.Open(), 0u) << "writer " << i;
        char line[16];
        std::snprintf(line, sizeof line, ">5L%04X\n", i);
        ASSERT_TRUE(one.Write(line));
        one.Close();
    }
    std::vector<std::string> expected = {LampReport(0, 0)};
    for (int i = 1; i <= kWriters; ++i) expected.push_back(LampReport(i & 0xFF, i >> 8));
    EXPECT_TRUE(WaitUntil([&] { return bench.Reports().size() >= expected.size(); }));
    EXPECT_EQ(bench.Reports(), expected);
    EXPECT_TRUE(WaitForPanel(window, ">xxx", kWriters & 0xFF, kWriters >> 8));
    const DWORD handlesAfter = program->HandleCount();
    ASSERT_GT(handlesBefore, 0u) << "the system gives no handle count";
    std::printf("program handles: %lu before, %lu after %d writers\n", handlesBefore, handlesAfter, kWriters);
    EXPECT_LE(handlesAfter, handlesBefore + 2) << "handles before " << handlesBefore;
}

TEST_F(PipeRoad, RandomBytesThenAValidLine)
{
    Start();
    std::mt19937 random(20261207);
    std::string bytes;
    size_t total = 0;
    while (total < 300 * 1024) {
        bytes.resize(1 + random() % 64);
        for (char& byte : bytes) byte = static_cast<char>(random());
        ASSERT_TRUE(writer.open() || writer.Open() == 0);
        ASSERT_TRUE(writer.Write(bytes));
        total += bytes.size();
    }
    Sleep(kSettle);
    EXPECT_EQ(program->WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
    Send(">5L5AA5\n", ">5L5AA5", 0xA5, 0x5A);
    EXPECT_EQ(bench.Reports().back(), LampReport(0xA5, 0x5A));
}

TEST_F(PipeRoad, ADeviceThatRefusesReportsDoesNotStopThePanel)
{
    VirtualLampSpec refusing;
    refusing.failReports = true;
    Start(refusing);
    Send(">5L00FF\n", ">5L00FF", 0xFF, 0x00);
    Send(">5L0F0F\n", ">5L0F0F", 0x0F, 0x0F);
    EXPECT_EQ(bench.Reports(),
              (std::vector<std::string>{LampReport(0xFF, 0, "refused"), LampReport(0x0F, 0x0F, "refused")}));
}

}  // namespace
