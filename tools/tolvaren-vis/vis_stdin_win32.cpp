#include "tools/tolvaren-vis/vis_stdin_win32.h"

#include "tools/tolvaren-vis/vis_ring.h"

namespace {

// Read at a time; a few milliseconds of audio.
const DWORD kReadBytes = 4096;

struct StdinReader {
    CRITICAL_SECTION lock;  // over ring, ended and error
    HANDLE arrived;         // set by the reader after each read
    HANDLE space;           // set by the main thread after it took bytes
    HANDLE input;
    bool keepAll;
    VisRing ring;
    bool ended;
    DWORD error;
};

StdinReader reader;

// Puts a read's bytes into the ring, and the input's end when the read
// was its last; a reader that keeps all waits for room.
void PutRead(const uint8_t* bytes, DWORD count, bool ended, DWORD code)
{
    EnterCriticalSection(&reader.lock);
    if (reader.keepAll) {
        for (;;) {
            const uint32_t put = PutWhatFits(&reader.ring, bytes, count);
            bytes += put;
            count -= put;
            if (count == 0) break;
            LeaveCriticalSection(&reader.lock);
            WaitForSingleObject(reader.space, INFINITE);
            EnterCriticalSection(&reader.lock);
        }
    } else {
        PutOverOldest(&reader.ring, bytes, count);
    }
    if (ended) {
        reader.ended = true;
        if (code != ERROR_BROKEN_PIPE && code != ERROR_SUCCESS) reader.error = code;
    }
    LeaveCriticalSection(&reader.lock);
}

DWORD WINAPI ReadStdin(LPVOID)
{
    static uint8_t chunk[kReadBytes];
    for (;;) {
        DWORD count = 0;
        const BOOL ok = ReadFile(reader.input, chunk, sizeof chunk, &count, NULL);
        const bool ended = !ok || count == 0;
        PutRead(chunk, count, ended, ok ? ERROR_SUCCESS : GetLastError());
        SetEvent(reader.arrived);
        if (ended) return 0;
    }
}

}  // namespace

bool StartStdinReader(HANDLE input, bool keepAll, DWORD* error)
{
    InitializeCriticalSection(&reader.lock);
    reader.arrived = CreateEventA(NULL, FALSE, FALSE, NULL);
    reader.space = CreateEventA(NULL, FALSE, FALSE, NULL);
    reader.input = input;
    reader.keepAll = keepAll;
    StartRing(&reader.ring);
    HANDLE thread = reader.arrived == NULL || reader.space == NULL
                        ? NULL
                        : CreateThread(NULL, 0, ReadStdin, NULL, 0, NULL);
    if (thread == NULL) {
        *error = GetLastError();
        return false;
    }
    CloseHandle(thread);  // it ends with the input, or with the process
    return true;
}

HANDLE StdinArrived()
{
    return reader.arrived;
}

bool DropStdinBacklog(VisLiveGuard* guard)
{
    if (reader.keepAll) return false;
    bool tell = false;
    EnterCriticalSection(&reader.lock);
    DropOldest(&reader.ring, LiveBytesToSkip(guard, reader.ring.count, 0, &tell));
    const bool overran = reader.ring.overrun != 0;
    LeaveCriticalSection(&reader.lock);
    if (overran && NoteLiveLoss(guard)) tell = true;
    return tell;
}

StdinTaken TakeStdin(uint8_t* out, uint32_t size)
{
    EnterCriticalSection(&reader.lock);
    StdinTaken taken;
    taken.count = TakeOldest(&reader.ring, out, size);
    taken.ended = reader.ended && reader.ring.count == 0;
    taken.error = reader.error;
    LeaveCriticalSection(&reader.lock);
    if (taken.count > 0) SetEvent(reader.space);
    return taken;
}
