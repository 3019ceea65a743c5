// tolvaren-send end to end: the program as a user runs it, against a pipe
// server of the test's own in tolvaren's place and the simulated device.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "sim_device_fixture.h"
#include "tools/tolvaren-send/exit_codes.h"

namespace {

const char kPipeName[] = "\\\\.\\pipe\\korvinde";
const DWORD kChunk = 18;      // tolvaren's read size and input buffer
const DWORD kWaitMs = 10000;  // no wait in this test is longer

using Args = std::vector<std::string>;
using Reads = std::vector<std::string>;

std::string TempPath(const char* name)
{
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    return std::string(directory) + "tolvaren-send-test-" + std::to_string(GetCurrentProcessId()) + name;
}

HANDLE OpenShared(const std::string& path, DWORD access, DWORD disposition, BOOL inheritable)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, inheritable};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       disposition, 0, NULL);
}

std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    HANDLE file = OpenShared(path, GENERIC_READ, OPEN_EXISTING, FALSE);
    char buffer[4096];
    DWORD count = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &count, NULL) && count > 0)
        text.append(buffer, count);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return text;
}

std::string Quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \"") == std::string::npos) return arg;
    std::string quoted = "\"";
    for (char c : arg) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    return quoted + "\"";
}

struct Result {
    bool finished = false;
    DWORD exitCode = 0;
    DWORD milliseconds = 0;
    std::string out, err;
};

// tolvaren-send running, with its output going to files and its input
// coming from one, so that nothing it writes can block it.
class SendRun {
public:
    // stdinWritable gives it an input it can't read; output replaces the
    // file for its standard output.
    SendRun(const Args& args, const std::string& input = "", bool stdinWritable = false, HANDLE output = NULL)
    {
        WriteTextFile(in_, input);
        HANDLE in = OpenShared(in_, stdinWritable ? GENERIC_WRITE : GENERIC_READ, OPEN_EXISTING, TRUE);
        HANDLE out = output ? output : OpenShared(out_, GENERIC_WRITE, CREATE_ALWAYS, TRUE);
        HANDLE err = OpenShared(err_, GENERIC_WRITE, CREATE_ALWAYS, TRUE);

        char self[MAX_PATH];
        GetModuleFileNameA(NULL, self, sizeof self);
        std::string program = self;
        program = program.substr(0, program.find_last_of('\\') + 1) + "tolvaren-send.exe";
        std::string commandLine = Quoted(program);
        for (const std::string& arg : args) commandLine += " " + Quoted(arg);

        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = err;
        started_ = GetTickCount();
        if (!CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                            &process_))
            ADD_FAILURE() << "can't start " << program << ": error " << GetLastError();
        for (HANDLE handle : {in, out, err})
            if (handle != output) CloseHandle(handle);
    }

    ~SendRun()
    {
        Finish();
        for (const std::string& path : {in_, out_, err_}) DeleteFileA(path.c_str());
    }

    // Waits for it to end; one that does not in time is ended.
    Result Finish()
    {
        Result result;
        if (process_.hProcess == NULL) return result;
        result.finished = WaitForSingleObject(process_.hProcess, kWaitMs) == WAIT_OBJECT_0;
        result.milliseconds = GetTickCount() - started_;
        if (!result.finished) TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, kWaitMs);
        GetExitCodeProcess(process_.hProcess, &result.exitCode);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        process_.hProcess = NULL;
        result.out = ReadWholeFile(out_);
        result.err = ReadWholeFile(err_);
        return result;
    }

private:
    std::string in_ = TempPath("in"), out_ = TempPath("out"), err_ = TempPath("err");
    PROCESS_INFORMATION process_ = {};
    DWORD started_ = 0;
};

Result RunSend(const Args& args)
{
    return SendRun(args).Finish();
}

// A pipe instance made and read the way tolvaren makes and reads its own;
// overlapped only so that every wait has a time limit.
class PipeServer {
public:
    explicit PipeServer(DWORD openMode = PIPE_ACCESS_INBOUND, const char* name = kPipeName,
                        DWORD inputSize = kChunk)
    {
        pipe_ = CreateNamedPipeA(name, openMode | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, inputSize, 0, NULL);
        EXPECT_NE(pipe_, INVALID_HANDLE_VALUE) << "can't serve " << name << ": error " << GetLastError();
        done_.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    }

    ~PipeServer()
    {
        Close();
        CloseHandle(done_.hEvent);
    }

    bool WaitForClient()
    {
        ResetEvent(done_.hEvent);
        DWORD unused = 0;
        return ConnectNamedPipe(pipe_, &done_) || GetLastError() == ERROR_PIPE_CONNECTED ||
               (GetLastError() == ERROR_IO_PENDING && Await(&unused));
    }

    // Reads until the client closes its end, or until stopAfter reads.
    Reads ReadAll(size_t stopAfter = SIZE_MAX)
    {
        Reads reads;
        while (reads.size() < stopAfter) {
            ResetEvent(done_.hEvent);
            DWORD count = 0;
            if (!ReadFile(pipe_, buffer_, kChunk, &count, &done_) &&
                (GetLastError() != ERROR_IO_PENDING || !Await(&count)))
                break;
            reads.emplace_back(buffer_, count);
            lastRead_ = GetTickCount();
            if (reads.size() == 1) firstRead_ = lastRead_;
        }
        return reads;
    }

    void Disconnect() { DisconnectNamedPipe(pipe_); }

    void Close()
    {
        if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
    }

    DWORD ReadingMilliseconds() const { return lastRead_ - firstRead_; }

private:
    // A wait that runs out cancels the operation, so that it can't write
    // into the buffer later.
    bool Await(DWORD* count)
    {
        if (WaitForSingleObject(done_.hEvent, kWaitMs) == WAIT_OBJECT_0)
            return GetOverlappedResult(pipe_, &done_, count, FALSE) != FALSE;
        CancelIo(pipe_);
        GetOverlappedResult(pipe_, &done_, count, TRUE);
        ADD_FAILURE() << "nothing from the pipe in " << kWaitMs << " ms";
        return false;
    }

    HANDLE pipe_;
    OVERLAPPED done_ = {};
    char buffer_[kChunk];
    DWORD firstRead_ = 0, lastRead_ = 0;
};

bool Says(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
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
    const std::string lamp = bench.AddDevice(SimDeviceSpec());
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
        " 1. -v16C0 -p05DF  manufacturer \"Tolvaren Lampworks Ltd\", product \"HID-Glimmerix\"" + defaultIds +
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
