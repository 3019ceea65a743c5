// tolvaren-send end to end: the program as a user runs it, against a pipe
// server of the test's own in tolvaren's place and the simulated device.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "lamps/lamp_identity.h"
#include "sim_device_fixture.h"
#include "tool_run.h"
#include "tools/tolvaren-send/exit_codes.h"

namespace {

const char kPipeName[] = "\\\\.\\pipe\\korvinde";

using Result = ToolResult;

// tolvaren-send running; see ToolRun.
class SendRun : public ToolRun {
public:
    explicit SendRun(const Args& args, const std::string& input = "", bool stdinWritable = false,
                     HANDLE output = NULL)
        : ToolRun("tolvaren-send-sim.exe", args, input, stdinWritable, output)
    {
    }
};

Result RunSend(const Args& args)
{
    return SendRun(args).Finish();
}

TEST(TolvarenSend, SendsEachLineInAReadOfItsOwn)
{
    struct {
        Args args;
        std::string input;
        Reads reads;
        const char* warning;  // on standard error; nullptr: none
    } const cases[] = {
        {{"00FF"}, "", {">5L00FF\n"}, nullptr},
        {{"0xa5A5"}, "", {">5La5A5\n"}, nullptr},
        {{"--line", ">a b"}, "", {">a b\n"}, nullptr},
        {{"--line", ">5L123456"}, "", {">5L123456\n"}, "longer than the 8 characters"},
        {{"-"},
         ">5L0001\r\n\n>5L0002\n>way too long\n5L0003\n>5L0004",
         {">5L0001\n", ">5L0002\n", ">way too long\n", "5L0003\n", ">5L0004\n"},
         "line 4 \">way too long\" is longer"},
        {{"-"}, "", {}, nullptr},
        {{"--demo", "50", "--count", "5"},
         "",
         {">5L0001\n", ">5L0003\n", ">5L0007\n", ">5L000F\n", ">5L001F\n"},
         nullptr},
    };
    for (const auto& c : cases) {
        const std::string name = ::testing::PrintToString(c.args);
        PipeServer server;
        SendRun run(c.args, c.input);
        ASSERT_TRUE(server.WaitForClient()) << name;
        const Reads reads = server.ReadAll();
        const Result result = run.Finish();
        ASSERT_TRUE(result.finished) << name;
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitOk)) << name << "\n" << result.err;
        EXPECT_EQ(reads, c.reads) << name << ": each line in a read of its own";
        const bool warned = c.warning ? Says(result.err, c.warning) : result.err.empty();
        EXPECT_TRUE(warned) << name << "\n" << result.err;
        if (c.args[0] == "--demo") {
            EXPECT_GE(server.ReadingMilliseconds(), 60u) << "5 lines at 50 a second take 80 ms";
        }
    }
}

TEST(TolvarenSend, APipeItCantUseHasAnExitCodeOfItsOwn)
{
    Result result = RunSend({"00FF"});
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitNotRunning));
    EXPECT_TRUE(Says(result.err, "tolvaren is not running") && Says(result.err, "scripts/run.sh"))
        << result.err;

    {
        PipeServer server;
        HANDLE first = CreateFileA(kPipeName, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        result = RunSend({"--demo"});
        CloseHandle(first);
        ASSERT_TRUE(result.finished) << "it waited for the busy pipe";
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitBusy));
        EXPECT_TRUE(Says(result.err, "is busy")) << result.err;
        EXPECT_LT(result.milliseconds, 3000u);
    }

    PipeServer writingOnly(PIPE_ACCESS_OUTBOUND);
    result = RunSend({"00FF"});
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitOpenFailed));
    EXPECT_TRUE(Says(result.err, "(error 5:")) << result.err;
}

TEST(TolvarenSend, ATolvarenThatGoesAwayFailsTheWrite)
{
    std::string manyLines;
    for (int i = 0; i < 200; ++i) manyLines += ">5L00FF\n";
    struct {
        Args args;
        std::string input;
        bool closePipe;  // else disconnect the client
    } const cases[] = {
        {{"--demo", "100", "--count", "500"}, "", false},
        {{"--demo", "100", "--count", "500"}, "", true},
        {{"-"}, manyLines, false},
    };
    for (const auto& c : cases) {
        PipeServer server;
        SendRun run(c.args, c.input);
        ASSERT_TRUE(server.WaitForClient());
        EXPECT_EQ(server.ReadAll(2).size(), 2u);
        if (c.closePipe)
            server.Close();
        else
            server.Disconnect();
        const Result result = run.Finish();
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitWriteFailed)) << result.err;
        EXPECT_TRUE(Says(result.err, "tolvaren went away")) << result.err;
    }
}

TEST(TolvarenSend, UnreadableInputIsReported)
{
    PipeServer server;
    SendRun run({"-"}, ">5L00FF\n", true);
    ASSERT_TRUE(server.WaitForClient());
    EXPECT_EQ(server.ReadAll(), Reads{});
    const Result result = run.Finish();
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitInputFailed)) << result.err;
    EXPECT_TRUE(Says(result.err, "could not read standard input")) << result.err;
}

// No server runs: a command line taken by mistake would report that
// tolvaren is not running instead.
TEST(TolvarenSend, HelpExplainsEveryExitCodeAndBadCommandLinesPointToIt)
{
    const Result help = RunSend({"--help"});
    EXPECT_EQ(help.exitCode, static_cast<DWORD>(kExitOk));
    EXPECT_EQ(help.err, "");
    for (int code : {kExitOk, kExitUsage, kExitNotRunning, kExitBusy, kExitWriteFailed, kExitOpenFailed,
                     kExitInputFailed, kExitListFailed})
        EXPECT_TRUE(Says(help.out, "\n  " + std::to_string(code) + "  ")) << code;

    for (const Args& args : {Args{}, Args{"00FFFF"}, Args{"-5"}, Args{"--demo", "0"}, Args{"00FF", "0F00"}}) {
        const Result result = RunSend(args);
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitUsage)) << ::testing::PrintToString(args);
        EXPECT_TRUE(Says(result.err, "tolvaren-send --help")) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(TolvarenSendList, SaysWhenThereAreNoDevicesOrTheyCantBeEnumerated)
{
    SimDeviceBench bench;
    Result result = RunSend({"--list"});
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitOk));
    EXPECT_TRUE(Says(result.out, "No HID devices are present")) << result.out;
    EXPECT_EQ(bench.Events(), (std::vector<std::string>{"open-set", "destroy-set"}));

    bench.FailInterfaceSet();
    result = RunSend({"--list"});
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitListFailed));
    EXPECT_TRUE(Says(result.err, "can't be enumerated")) << result.err;
}

TEST(TolvarenSendList, ShowsEachDeviceWithTheIdsToGive)
{
    SimDeviceBench bench;
    SimDeviceSpec withSerial;
    withSerial.extra = "serial=E660583883724A01\r\n";
    const std::string lamp = bench.AddDevice(withSerial);
    SimDeviceSpec stranger;
    stranger.vendorId = 0x046D;
    stranger.productId = 0xC52B;
    stranger.manufacturer = "Somebody Else";
    stranger.product = "Blinkenlights";
    const std::string other = bench.AddDevice(stranger);
    SimDeviceSpec mute;
    mute.extra = "strings=fail\r\n";
    const std::string silent = bench.AddDevice(mute);
    mute.extra = "attributes=fail\r\n";
    const std::string unnamed = bench.AddDevice(mute);
    const std::string unplugged = bench.directory() + "\\unplugged";
    bench.AddInterfacePath(unplugged);
    std::string longPath = "\\\\?\\" + bench.directory() + "\\long-";
    longPath.append(260 - longPath.size(), 'x');
    ASSERT_TRUE(WriteTextFile(longPath, "vid=1234\r\npid=5678\r\n"));
    bench.AddInterfacePath(longPath);

    // Its output goes through a pipe of one byte, read slowly, so that it
    // is still in its last write when the devices are looked at.
    const char outName[] = "\\\\.\\pipe\\tolvaren-send-test-output";
    PipeServer output(PIPE_ACCESS_INBOUND, outName, 1);
    HANDLE outEnd = OpenShared(outName, GENERIC_WRITE, OPEN_EXISTING, TRUE);
    ASSERT_NE(outEnd, INVALID_HANDLE_VALUE);
    SendRun run({"--list"}, "", false, outEnd);
    CloseHandle(outEnd);
    std::string shown;
    for (Reads read; !Says(shown, "Start tolvaren with") && !(read = output.ReadAll(1)).empty();)
        shown += read[0];
    for (const std::string& path : {lamp, other, silent, unnamed, longPath})
        EXPECT_TRUE(NobodyHolds(path)) << "still open: " << path;
    for (const std::string& read : output.ReadAll()) shown += read;
    const Result result = run.Finish();
    DeleteFileA(longPath.c_str());

    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kExitOk)) << result.err;
    const std::string defaultIds = "  (tolvaren's default ids)\n";
    const std::vector<std::string> expected = {
        " 1. -v16C0 -p05DF  manufacturer \"" LAMP_MANUFACTURER "\", product \"" LAMP_PRODUCT
        "\", serial \"E660583883724A01\"" + defaultIds +
            "    " + lamp + "\n",
        " 2. -v046D -pC52B  manufacturer \"Somebody Else\", product \"Blinkenlights\"\n",
        " 3. -v16C0 -p05DF  manufacturer unknown, product unknown" + defaultIds,
        " 4. ids unreadable (error ",
        " 5. can't be opened (error 2: ",
        "\n    " + unplugged + "\n",
        " 6. -v1234 -p5678  manufacturer \"\", product \"\"\n    " + longPath +
            "\n    tolvaren passes it over: its path is longer than 259 characters\n",
        "Start tolvaren with the ids of your lamp, such as: tolvaren.exe -v16C0 -p05DF\n",
    };
    for (const std::string& line : expected)
        EXPECT_TRUE(Says(shown, line)) << "missing:\n" << line << "\nin:\n" << shown;
    EXPECT_EQ(bench.Events(), (std::vector<std::string>{"open-set", "destroy-set"}));
}

}  // namespace
