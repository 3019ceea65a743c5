#include "pipe/pipe_listener_win32.h"

#include "app/app_state_win32.h"
#include "lamps/lamp_control.h"
#include "lamps/lamp_identity.h"
#include "pipe/line_framing.h"
#include "pipe/pipe_name.h"
#include "res/resource.h"

namespace {

const DWORD kChunkSize = LAMP_PIPE_CHUNK_BYTES;

HANDLE pipeHandle = INVALID_HANDLE_VALUE;

// The strings are loaded into the shell's titleBuffer (the window has its
// title by now), 255 bytes at most, and the box is captioned "Debug
// Window": odd, but all three are the program's contract.
void ShowPipeError(HWND owner, DWORD code)
{
    char message[256] = {0};
    LoadStringA(instanceHandle, IDS_PIPE_ERROR, titleBuffer, 255);
    wsprintfA(message, titleBuffer, static_cast<long>(code));
    LoadStringA(instanceHandle, IDS_DEBUG_CAPTION, titleBuffer, 255);
    MessageBoxA(owner, message, titleBuffer, MB_ICONINFORMATION);
}

void ServeClients()
{
    for (;;) {
        // A writer that connected before this call is served all the same,
        // so the result is not looked at.
        ConnectNamedPipe(pipeHandle, NULL);

        char chunk[kChunkSize];
        DWORD count = 0;
        while (ReadFile(pipeHandle, chunk, sizeof chunk, &count, NULL))
            FrameChunk(chunk, count);

        ProcessLampLine(">xxx");
        if (!DisconnectNamedPipe(pipeHandle)) return;
    }
}

}  // namespace

DWORD WINAPI PipeListener(LPVOID owner)
{
    ResetLampBytes();
    ProcessLampLine(">???");

    pipeHandle = CreateNamedPipeA(kLampPipeName, PIPE_ACCESS_INBOUND,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, kChunkSize,
                                  0, NULL);
    if (pipeHandle == INVALID_HANDLE_VALUE) {
        ShowPipeError(static_cast<HWND>(owner), GetLastError());
        return 0;
    }

    ServeClients();
    CloseHandle(pipeHandle);
    return 0;
}

void StartPipeListener(HWND owner)
{
    HANDLE thread = CreateThread(NULL, 0, PipeListener, owner, 0, NULL);
    // Nothing waits for the thread; its handle is not kept.
    if (thread != NULL) CloseHandle(thread);
}
