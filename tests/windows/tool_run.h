#pragma once
// Runs the console tools beside tolvaren (tolvaren-send, tolvaren-vis) as a
// user or a script does, with their input from a file and their output into
// files; and a pipe server made and read the way tolvaren makes and reads
// its own, for a test to stand in for tolvaren.
#include <windows.h>

#include <string>
#include <vector>

#include "lamps/lamp_identity.h"

const DWORD kToolChunk = LAMP_PIPE_CHUNK_BYTES;  // tolvaren's read size and input buffer
const DWORD kToolWaitMs = 10000;  // the longest a tool run or a read waits

using Args = std::vector<std::string>;
using Reads = std::vector<std::string>;

struct ToolResult {
    bool finished = false;
    DWORD exitCode = 0;
    DWORD milliseconds = 0;
    std::string out, err;
};

// A file in the temporary folder, named after this process and name.
std::string TempPath(const std::string& name);
HANDLE OpenShared(const std::string& path, DWORD access, DWORD disposition, BOOL inheritable);
std::string ReadWholeFile(const std::string& path);

// A tool of the test folder running, with its output going to files and
// its input coming from one, so that nothing it writes can block it.
class ToolRun {
public:
    // exeName lies beside the test. stdinWritable gives it an input it
    // can't read; input NULL handles give the tool the test's own; output
    // replaces the file for its standard output; stdinHandle, when given,
    // is its standard input instead of the input text.
    ToolRun(const std::string& exeName, const Args& args, const std::string& input = "",
            bool stdinWritable = false, HANDLE output = NULL, HANDLE stdinHandle = NULL);
    ~ToolRun();
    ToolRun(const ToolRun&) = delete;
    ToolRun& operator=(const ToolRun&) = delete;

    // Waits for it to end, up to waitMs; one that does not in time is ended.
    ToolResult Finish(DWORD waitMs = kToolWaitMs);
    // What it wrote to standard error so far.
    std::string ErrorsSoFar() const { return ReadWholeFile(err_); }
    bool Running() const;
    HANDLE process() const { return process_.hProcess; }

private:
    std::string in_, out_, err_;
    PROCESS_INFORMATION process_ = {};
    DWORD started_ = 0;
};

bool Says(const std::string& text, const std::string& part);

// A pipe instance made and read the way tolvaren makes and reads its own;
// overlapped only so that every wait has a time limit.
class PipeServer {
public:
    explicit PipeServer(DWORD openMode = PIPE_ACCESS_INBOUND, const char* name = NULL,
                        DWORD inputSize = kToolChunk);
    ~PipeServer();
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    bool WaitForClient(DWORD waitMs = kToolWaitMs);
    // Reads until the client closes its end, or until stopAfter reads.
    Reads ReadAll(size_t stopAfter = SIZE_MAX, DWORD waitMs = kToolWaitMs);
    void Disconnect() { DisconnectNamedPipe(pipe_); }
    void Close();
    // From the first read to the last.
    DWORD ReadingMilliseconds() const { return lastRead_ - firstRead_; }
    DWORD FirstReadAt() const { return firstRead_; }

private:
    bool Await(DWORD* count, DWORD waitMs);

    HANDLE pipe_;
    OVERLAPPED done_ = {};
    char buffer_[kToolChunk];
    DWORD firstRead_ = 0, lastRead_ = 0;
};
