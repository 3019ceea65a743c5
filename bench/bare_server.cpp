// A bare server of tolvaren's pipe, for the benchmark to hold tolvaren's
// latency against: the same pipe made the same way, read in the same
// chunks and framed by the same code, and each lamp line sent straight to
// the device from the reading thread. It has no window to repaint, takes no
// locks and does not search for the device: its path comes on the command
// line. It serves one writer after another until it is ended.
//   bench_bare_server.exe [--thread] DEVICE_PATH
// With --thread it reads the pipe on a second thread while the first waits
// for it, as tolvaren's listener does beside its window's thread; the
// difference from the plain server is what that arrangement costs.
#include <windows.h>

#include <cstdio>
#include <cstring>

extern "C" {
#include <hidsdi.h>
}

#include "lamps/lamp_control.h"
#include "lamps/lamp_identity.h"
#include "pipe/line_framing.h"
#include "pipe/pipe_name.h"

namespace {

const DWORD kChunkSize = LAMP_PIPE_CHUNK_BYTES;

}  // namespace

// The lamp platform of this server: the device send and nothing else, so
// that tolvaren's own ProcessLampLine runs without its locks and repaint.
void InitLampLock() {}
void LampLockAcquire() {}
void LampLockRelease() {}
void LampSendLockAcquire() {}
void LampSendLockRelease() {}
void LampResetSendDone() {}
void LampSignalSendDone() {}
bool LampWaitForSendDone(unsigned) { return true; }
void LampRequestRepaint() {}

void LampDeviceSend(LampDevice device, const LampFeatureReport& report)
{
    LampFeatureReport buffer = report;
    HidD_SetFeature(static_cast<HANDLE>(device), buffer.bytes, sizeof buffer.bytes);
}

namespace {

// Serves one writer after another; ends only when a disconnect fails.
DWORD WINAPI ServeWriters(LPVOID pipeHandle)
{
    HANDLE pipe = static_cast<HANDLE>(pipeHandle);
    for (;;) {
        // A writer that connected before this call is served all the same.
        ConnectNamedPipe(pipe, NULL);
        char chunk[kChunkSize];
        DWORD count = 0;
        while (ReadFile(pipe, chunk, sizeof chunk, &count, NULL)) FrameChunk(chunk, count);
        if (!DisconnectNamedPipe(pipe)) return 1;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const bool onThread = argc == 3 && std::strcmp(argv[1], "--thread") == 0;
    if (argc != 2 && !onThread) {
        std::fprintf(stderr,
                     "bench_bare_server: give the path of the lamp device to send to, e.g.\n"
                     "  bench_bare_server.exe [--thread] C:\\temp\\tolvaren-sim\\device1\n");
        return 2;
    }
    const char* devicePath = argv[argc - 1];
    HANDLE device = CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "bench_bare_server: can't open the device %s (error %lu); check the path\n",
                     devicePath, GetLastError());
        return 1;
    }
    InitLampLock();
    SetLampDevice(device);

    HANDLE pipe = CreateNamedPipeA(kLampPipeName, PIPE_ACCESS_INBOUND,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, kChunkSize,
                                   0, NULL);
    if (pipe == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr,
                     "bench_bare_server: can't create %s (error %lu); another program serves it, "
                     "close that one and start again\n",
                     kLampPipeName, GetLastError());
        return 1;
    }

    if (!onThread) return static_cast<int>(ServeWriters(pipe));
    HANDLE thread = CreateThread(NULL, 0, ServeWriters, pipe, 0, NULL);
    if (thread == NULL) {
        std::fprintf(stderr, "bench_bare_server: can't start the reading thread (error %lu)\n",
                     GetLastError());
        return 1;
    }
    WaitForSingleObject(thread, INFINITE);
    return 1;
}
