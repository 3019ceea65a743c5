#include "tool_run.h"

#include <gtest/gtest.h>

#include "pipe/pipe_name.h"
#include "sim_device_fixture.h"

std::string TempPath(const std::string& name)
{
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    return std::string(directory) + "tolvaren-tool-test-" + std::to_string(GetCurrentProcessId()) + "-" + name;
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

namespace {

std::string Quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \"") == std::string::npos) return arg;
    std::string quoted = "\"";
    for (char c : arg) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    return quoted + "\"";
}

int runs = 0;

}  // namespace

ToolRun::ToolRun(const std::string& exeName, const Args& args, const std::string& input, bool stdinWritable,
                 HANDLE output, HANDLE stdinHandle)
{
    const std::string run = std::to_string(++runs);
    in_ = TempPath(run + "-in");
    out_ = TempPath(run + "-out");
    err_ = TempPath(run + "-err");
    WriteTextFile(in_, input);
    HANDLE in = stdinHandle ? stdinHandle
                            : OpenShared(in_, stdinWritable ? GENERIC_WRITE : GENERIC_READ, OPEN_EXISTING, TRUE);
    HANDLE out = output ? output : OpenShared(out_, GENERIC_WRITE, CREATE_ALWAYS, TRUE);
    HANDLE err = OpenShared(err_, GENERIC_WRITE, CREATE_ALWAYS, TRUE);

    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string program = self;
    program = program.substr(0, program.find_last_of('\\') + 1) + exeName;
    std::string commandLine = Quoted(program);
    for (const std::string& arg : args) commandLine += " " + Quoted(arg);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    started_ = GetTickCount();
    if (!CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process_))
        ADD_FAILURE() << "can't start " << program << ": error " << GetLastError();
    for (HANDLE handle : {in, out, err})
        if (handle != output && handle != stdinHandle) CloseHandle(handle);
}

ToolRun::~ToolRun()
{
    Finish();
    for (const std::string& path : {in_, out_, err_}) DeleteFileA(path.c_str());
}

bool ToolRun::Running() const
{
    return process_.hProcess != NULL && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

ToolResult ToolRun::Finish(DWORD waitMs)
{
    ToolResult result;
    if (process_.hProcess == NULL) return result;
    result.finished = WaitForSingleObject(process_.hProcess, waitMs) == WAIT_OBJECT_0;
    result.milliseconds = GetTickCount() - started_;
    if (!result.finished) TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, kToolWaitMs);
    GetExitCodeProcess(process_.hProcess, &result.exitCode);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_.hProcess = NULL;
    result.out = ReadWholeFile(out_);
    result.err = ReadWholeFile(err_);
    return result;
}

bool Says(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

PipeServer::PipeServer(DWORD openMode, const char* name, DWORD inputSize)
{
    if (name == NULL) name = kLampPipeName;
    pipe_ = CreateNamedPipeA(name, openMode | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                             1, 0, inputSize, 0, NULL);
    EXPECT_NE(pipe_, INVALID_HANDLE_VALUE) << "can't serve " << name << ": error " << GetLastError();
    done_.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
}

PipeServer::~PipeServer()
{
    Close();
    CloseHandle(done_.hEvent);
}

bool PipeServer::WaitForClient(DWORD waitMs)
{
    ResetEvent(done_.hEvent);
    DWORD unused = 0;
    return ConnectNamedPipe(pipe_, &done_) || GetLastError() == ERROR_PIPE_CONNECTED ||
           (GetLastError() == ERROR_IO_PENDING && Await(&unused, waitMs));
}

Reads PipeServer::ReadAll(size_t stopAfter, DWORD waitMs)
{
    Reads reads;
    while (reads.size() < stopAfter) {
        ResetEvent(done_.hEvent);
        DWORD count = 0;
        if (!ReadFile(pipe_, buffer_, kToolChunk, &count, &done_) &&
            (GetLastError() != ERROR_IO_PENDING || !Await(&count, waitMs)))
            break;
        reads.emplace_back(buffer_, count);
        lastRead_ = GetTickCount();
        if (reads.size() == 1) firstRead_ = lastRead_;
    }
    return reads;
}

void PipeServer::Close()
{
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
}

// A wait that runs out cancels the operation, so that it can't write into
// the buffer later.
bool PipeServer::Await(DWORD* count, DWORD waitMs)
{
    if (WaitForSingleObject(done_.hEvent, waitMs) == WAIT_OBJECT_0)
        return GetOverlappedResult(pipe_, &done_, count, FALSE) != FALSE;
    CancelIo(pipe_);
    GetOverlappedResult(pipe_, &done_, count, TRUE);
    ADD_FAILURE() << "nothing from the pipe in " << waitMs << " ms";
    return false;
}
