#include "tools/tolvaren-vis/vis_pipe_client_win32.h"

#include <cstdio>

#include "pipe/pipe_name.h"
#include "tools/common/console_win32.h"
#include "tools/common/lamp_pipe_win32.h"
#include "tools/common/tool_rules.h"

namespace {

void SayRefusal(LampPipeOpening opening, DWORD code)
{
    char text[256];
    switch (opening) {
    case kLampPipeMissing:
        Print(kToErr,
              "tolvaren-vis: tolvaren is not running (there is no pipe %s); trying again every "
              "second.\nStart tolvaren.exe (under Wine: scripts/run.sh; both must run in the same "
              "WINEPREFIX).\n",
              kLampPipeName);
        break;
    case kLampPipeBusy:
        Print(kToErr,
              "tolvaren-vis: the pipe %s is busy: another writer (the player's plug-in, or "
              "tolvaren-send) holds it; trying again every second.\n",
              kLampPipeName);
        break;
    default:
        Print(kToErr, "tolvaren-vis: could not open the pipe %s (error %lu: %s); trying again every second.\n",
              kLampPipeName, code, ErrorText(code, text, sizeof text));
        break;
    }
}

bool WriteToTolvaren(LampPipe* pipe, const VisLine& line)
{
    DWORD code = 0;
    if (WriteLampPipeLine(pipe->handle, line.text, sizeof line.text, &code)) return true;
    CloseLampPipe(pipe);
    ForgetRefusal(&pipe->client);
    Print(kToErr, "tolvaren-vis: tolvaren went away; waiting for it again.\n");
    return false;
}

// A double-clicked visualiser brings tolvaren up itself when it lies
// beside it, as the two come in one folder; started detached, tolvaren
// stays when the console window goes.
bool StartTolvaren()
{
    char program[MAX_PATH];
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(NULL, program, sizeof program);
    if (length == 0 || length >= sizeof program || !PathBeside(program, "tolvaren.exe", path, sizeof path) ||
        GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return false;
    char commandLine[MAX_PATH + 2];
    std::snprintf(commandLine, sizeof commandLine, "\"%s\"", path);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(path, commandLine, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup, &process)) {
        const DWORD code = GetLastError();
        char text[256];
        Print(kToErr, "tolvaren-vis: could not start %s (error %lu: %s); start it yourself.\n", path, code,
              ErrorText(code, text, sizeof text));
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Print(kToErr, "tolvaren-vis: started tolvaren.exe, which shows the lamps; they follow the music once its "
                  "window is up.\n");
    return true;
}

}  // namespace

void StartLampPipe(LampPipe* pipe)
{
    pipe->handle = INVALID_HANDLE_VALUE;
    StartPipeClient(&pipe->client);
}

bool ConnectToTolvaren(LampPipe* pipe, uint64_t nowMs, bool atOnce)
{
    if (IsConnected(pipe)) return true;
    if (!TimeToTry(&pipe->client, nowMs, atOnce)) return false;
    DWORD code = 0;
    const LampPipeOpening opening = OpenLampPipe(&pipe->handle, &code);
    if (opening != kLampPipeOpen) {
        pipe->handle = INVALID_HANDLE_VALUE;
        if (RefusalIsNews(&pipe->client, opening)) SayRefusal(opening, code);
        return false;
    }
    if (ArrivalIsNews(&pipe->client)) Print(kToErr, "tolvaren-vis: tolvaren is there; showing the lamps.\n");
    // A tolvaren that comes late learns the lamps at once.
    if (pipe->client.haveLatest) WriteToTolvaren(pipe, pipe->client.latest);
    return IsConnected(pipe);
}

void SendToTolvaren(LampPipe* pipe, const VisLine& line, uint64_t nowMs)
{
    KeepLatest(&pipe->client, line);
    if (!IsConnected(pipe)) {
        ConnectToTolvaren(pipe, nowMs, false);  // sends the latest line itself when it connects
        return;
    }
    WriteToTolvaren(pipe, line);
}

void ConnectOrStartTolvaren(LampPipe* pipe, uint64_t nowMs)
{
    DWORD code = 0;
    const LampPipeOpening opening = OpenLampPipe(&pipe->handle, &code);
    if (opening == kLampPipeOpen) return;
    pipe->handle = INVALID_HANDLE_VALUE;
    // Until its window is up there is no pipe; that is no news to tell, so
    // it counts as told.
    if (opening == kLampPipeMissing && StartTolvaren()) {
        RefusalIsNews(&pipe->client, kLampPipeMissing);
        return;
    }
    ConnectToTolvaren(pipe, nowMs, true);
}

bool IsConnected(const LampPipe* pipe)
{
    return pipe->handle != INVALID_HANDLE_VALUE;
}

void CloseLampPipe(LampPipe* pipe)
{
    if (IsConnected(pipe)) CloseHandle(pipe->handle);
    pipe->handle = INVALID_HANDLE_VALUE;
}
