// The CPU time a program takes over kIdleMs with nothing to do, its window
// shown: the sum of its threads' times, since Wine answers GetProcessTimes
// for another process with the caller's own times.
#include "measurements.h"

#include <tlhelp32.h>

namespace {

ULONGLONG FileTimeValue(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// User plus kernel time in 100 ns units, as GetProcessTimes gives it.
ULONGLONG ProcessTimesCpu(HANDLE process)
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
    return FileTimeValue(kernel) + FileTimeValue(user);
}

// The same summed over the process's threads. Wine reads each thread's
// times from the system, so here this is the figure to trust.
ULONGLONG ThreadTimesCpu(DWORD processId)
{
    ULONGLONG sum = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId) continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == NULL) continue;
        FILETIME created, ended, kernel, user;
        if (GetThreadTimes(thread, &created, &ended, &kernel, &user))
            sum += FileTimeValue(kernel) + FileTimeValue(user);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return sum;
}

// True when GetProcessTimes answers for another process with this one's
// own times: the two agree to the 100 ns although only this one has just
// spent CPU time.
bool ProcessTimesAreTheCallers(HANDLE process)
{
    const long long until = Counter() + CountsPerMs() * 50;
    while (Counter() < until) {
    }
    for (int attempt = 0; attempt < 3; ++attempt)
        if (ProcessTimesCpu(process) == ProcessTimesCpu(GetCurrentProcess())) return true;
    return false;
}

double HundredNsToMs(ULONGLONG time)
{
    return static_cast<double>(time) / 10000.0;
}

}  // namespace

bool MeasureIdleCpu(const BenchProgram& program, IdleCpu* idle)
{
    Progress(Format("idle CPU time of %s over %lu s", program.name, kIdleMs / 1000));
    std::unique_ptr<RunningProgram> running = Launch(program);
    if (!running || WaitForWindow(program, *running, 20) == NULL) return false;
    // The first paints and the pipe thread's start are done by then.
    Sleep(1000);

    const ULONGLONG threadsBefore = ThreadTimesCpu(running->id());
    const ULONGLONG processBefore = ProcessTimesCpu(running->handle());
    Sleep(kIdleMs);
    const ULONGLONG threadsAfter = ThreadTimesCpu(running->id());
    const ULONGLONG processAfter = ProcessTimesCpu(running->handle());
    idle->threadsMs = HundredNsToMs(threadsAfter - threadsBefore);
    idle->threadsBeforeMs = HundredNsToMs(threadsBefore);
    idle->processTimesMs = HundredNsToMs(processAfter - processBefore);
    idle->processTimesAreTheCallers = ProcessTimesAreTheCallers(running->handle());
    StopProgram(program, &running);
    return true;
}
