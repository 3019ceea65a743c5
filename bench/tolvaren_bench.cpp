// Tolvaren's figures under Wine, beside a bare server of its pipe and a
// minimal window program, printed as a table with the goals they are held
// to. It asserts nothing: its exit code says only whether the figures could
// be taken. scripts/bench.sh builds it and runs it.
//   tolvaren_bench.exe [TOLVAREN_32BIT_EXE TOLVAREN_64BIT_EXE]
// The two paths (Unix or Windows) are read for their sizes only; the program
// measured is the copy of tolvaren.exe beside the simulated lamp device.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_programs.h"
#include "lamps/lamp_control.h"
#include "program_driver.h"
#include "sim_device_fixture.h"
#include "virtual_lamp_fixture.h"
#include "wine_settings.h"

namespace {

const char kProgram[] = "tolvaren-sim.exe";
const char kBareServer[] = "bench_bare_server.exe";
const char kMinimalWindow[] = "bench_minimal_window.exe";
const char kMainWindowClass[] = "PipeWClass";

// Lines before the measured ones of each round, so that first-use costs
// (page faults, the first paint) stay out of the percentiles.
const int kWarmUpLines = 10;
// Enough rounds that p99 rests on a dozen lines of each server.
const int kLatencyRounds = 40;
const int kLatencyLinesPerRound = 30;
const int kLatencyLines = kLatencyRounds * kLatencyLinesPerRound;
const int kPacedLines = 3000;
const int kPacedLinesPerSecond = 1000;
const DWORD kIdleMs = 10000;
const int kStarts = 5;

// A slow lamp, and one that stops answering.
const DWORD kSlowLampMs = 10;
const DWORD kStuckLampMs = 20000;
const int kPaints = 200;

const DWORD kReportTimeoutMs = 5000;
// After the paced writes, reports still on their way arrive within this.
const DWORD kQuietMs = 1000;
const DWORD kStartTimeoutMs = 30000;

const double kLatencyGoal = 1.05;
const double kPacedGoalPercent = 99.0;

std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Says what went wrong and what to do; the figures so far are lost.
bool Fail(const std::string& message)
{
    std::fprintf(stderr, "tolvaren_bench: %s\n", message.c_str());
    return false;
}

void Progress(const std::string& message)
{
    std::fprintf(stderr, "tolvaren_bench: %s\n", message.c_str());
    std::fflush(stderr);
}

LONGLONG Ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

LONGLONG TicksPerSecond()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

double TicksToMs(LONGLONG ticks)
{
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(TicksPerSecond());
}

std::string BinPath(const char* name)
{
    return TestBinDirectory() + "\\" + name;
}

// The programs on Wine's own HID stack lie in tests/real beside tests/bin.
std::string RealPath(const char* name)
{
    return TestBinDirectory() + "\\..\\real\\" + name;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The programs the bench starts get the simulated hid.dll and setupapi.dll
// beside them however the Wine prefix was made (wine-up.sh sets the same).
bool UseSimulatedDevice(const char* exeName)
{
    return SetWineAppDefault(exeName, "DllOverrides", "hid", "native") &&
           SetWineAppDefault(exeName, "DllOverrides", "setupapi", "native");
}

// ---- the simulated device's reports ----------------------------------------

// Follows the device's events.log from where the last look left off. The
// file stays open, so that a look costs a read and no open.
struct ReportTail {
    HANDLE file = INVALID_HANDLE_VALUE;
    LONGLONG offset = 0;
    std::string partial;
};

bool OpenReportTail(const std::string& path, ReportTail* tail)
{
    tail->file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             NULL, OPEN_EXISTING, 0, NULL);
    return tail->file != INVALID_HANDLE_VALUE;
}

void CloseReportTail(ReportTail* tail)
{
    if (tail->file != INVALID_HANDLE_VALUE) CloseHandle(tail->file);
    tail->file = INVALID_HANDLE_VALUE;
}

// The "report ..." lines appended since the last call.
std::vector<std::string> NewReports(ReportTail* tail)
{
    std::vector<std::string> reports;
    for (;;) {
        char buffer[4096];
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(tail->offset);
        at.OffsetHigh = static_cast<DWORD>(tail->offset >> 32);
        DWORD count = 0;
        if (!ReadFile(tail->file, buffer, sizeof buffer, &count, &at) || count == 0) break;
        tail->offset += count;
        tail->partial.append(buffer, count);
    }
    size_t start = 0;
    for (;;) {
        const size_t end = tail->partial.find("\r\n", start);
        if (end == std::string::npos) break;
        const std::string line = tail->partial.substr(start, end - start);
        if (line.compare(0, 7, "report ") == 0) reports.push_back(line);
        start = end + 2;
    }
    tail->partial.erase(0, start);
    return reports;
}

// Each line of a run differs from the one before, so that a report can't be
// taken for its predecessor's.
unsigned LineValue(int index)
{
    return (static_cast<unsigned>(index) * 0x9E37u + 0x0101u) & 0xFFFFu;
}

std::string LampLine(unsigned value)
{
    return Format(">5L%04X\n", value);
}

std::string ReportPrefix(unsigned value)
{
    return Format("report 7 01 00 %02X %02X 00 00 00 ok t=", value & 0xFFu, value >> 8);
}

// Waits for the report of value; gives the time the device got it.
bool WaitForReport(ReportTail* tail, unsigned value, LONGLONG* sentAt)
{
    const std::string prefix = ReportPrefix(value);
    const DWORD start = GetTickCount();
    for (;;) {
        const std::vector<std::string> reports = NewReports(tail);
        if (!reports.empty()) {
            if (reports.size() != 1 || reports[0].compare(0, prefix.size(), prefix) != 0)
                return Fail("the device got \"" + reports[0] + "\" where \"" + prefix +
                            "...\" was due; is another program writing to the pipe? stop it and run again");
            *sentAt = std::strtoll(reports[0].c_str() + prefix.size(), NULL, 10);
            return true;
        }
        if (GetTickCount() - start > kReportTimeoutMs)
            return Fail(Format("no report reached the simulated device within %lu ms of a write; the "
                               "server does not load the simulated hid.dll beside it. Run the bench "
                               "through scripts/bench.sh, which sets that up",
                               kReportTimeoutMs));
        Sleep(1);
    }
}

// ---- the servers -------------------------------------------------------------

struct Server {
    const char* name;
    std::string path;
    std::string args;
    bool hasWindow;
};

bool PipeIsFree()
{
    PipeWriter probe;
    return probe.TryOpen() == ERROR_FILE_NOT_FOUND;
}

std::unique_ptr<RunningProgram> StartServer(const Server& server)
{
    if (!PipeIsFree()) {
        Fail(std::string("something already serves ") + kPipeName +
             " (a tolvaren left running?); close it and run the bench again");
        return nullptr;
    }
    std::unique_ptr<RunningProgram> program(new RunningProgram(server.path, server.args));
    if (!program->started()) {
        Fail(Format("can't start %s (error %lu); build it with scripts/bench.sh", server.path.c_str(),
                    GetLastError()));
        return nullptr;
    }
    if (server.hasWindow && program->WaitForMainWindow(kStartTimeoutMs) == NULL) {
        const std::vector<MessageBoxView> boxes = program->Boxes();
        if (!boxes.empty())
            Fail(std::string(server.name) + " shows \"" + boxes[0].text +
                 "\" instead of its window: it does not see the simulated lamp device. Run the bench "
                 "through scripts/bench.sh, which gives it the simulated device");
        else
            Fail(Format("%s showed no window within %lu ms; see whether it starts at all with "
                        "tests/wine/wine-run.sh",
                        server.name, kStartTimeoutMs));
        return nullptr;
    }
    return program;
}

// Ends the server the way it ends in use, so that the pipe is free for the
// next one.
void StopServer(const Server& server, std::unique_ptr<RunningProgram>* program)
{
    HWND window = server.hasWindow ? (*program)->MainWindow() : NULL;
    if (window != NULL) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        (*program)->WaitForExit(10000);
    }
    program->reset();  // ends what is left
}

// ---- 1. latency ----------------------------------------------------------------

struct Latency {
    std::vector<double> samplesMs;
    double p50Ms = 0;
    double p99Ms = 0;
};

// The nearest-rank percentile of sorted samples.
double Percentile(const std::vector<double>& sorted, double percent)
{
    size_t rank = static_cast<size_t>(std::ceil(percent / 100.0 * static_cast<double>(sorted.size())));
    if (rank < 1) rank = 1;
    return sorted[rank - 1];
}

// One round: a fresh start of the server, then lines one at a time.
bool MeasureLatencyRound(const Server& server, ReportTail* tail, Latency* latency)
{
    std::unique_ptr<RunningProgram> program = StartServer(server);
    if (!program) return false;
    PipeWriter writer;
    if (writer.Open() != 0) return Fail(std::string("can't open the pipe of ") + server.name);
    NewReports(tail);

    for (int i = 0; i < kWarmUpLines + kLatencyLinesPerRound; ++i) {
        const unsigned value = LineValue(i);
        const std::string line = LampLine(value);
        const LONGLONG writtenAt = Ticks();
        if (!writer.Write(line)) return Fail(std::string("writing to the pipe of ") + server.name + " failed");
        LONGLONG sentAt = 0;
        if (!WaitForReport(tail, value, &sentAt)) return false;
        if (i >= kWarmUpLines) latency->samplesMs.push_back(TicksToMs(sentAt - writtenAt));
    }
    writer.Close();
    StopServer(server, &program);
    return true;
}

// The servers take turns, each round starting with the next one, so that
// drift in the machine's speed falls on all alike.
bool MeasureLatencies(const std::vector<const Server*>& servers, ReportTail* tail,
                      std::vector<Latency>* latencies)
{
    std::string names;
    for (const Server* server : servers) names += (names.empty() ? "" : ", ") + std::string(server->name);
    Progress(Format("latency of %s: %d lines each, one a write, each waited for, in %d rounds",
                    names.c_str(), kLatencyLines, kLatencyRounds));
    latencies->assign(servers.size(), Latency());
    for (int round = 0; round < kLatencyRounds; ++round)
        for (size_t turn = 0; turn < servers.size(); ++turn) {
            const size_t which = (static_cast<size_t>(round) + turn) % servers.size();
            if (!MeasureLatencyRound(*servers[which], tail, &(*latencies)[which])) return false;
        }
    for (Latency& latency : *latencies) {
        std::sort(latency.samplesMs.begin(), latency.samplesMs.end());
        latency.p50Ms = Percentile(latency.samplesMs, 50);
        latency.p99Ms = Percentile(latency.samplesMs, 99);
    }
    return true;
}

// ---- 2. paced lines ----------------------------------------------------------

struct Paced {
    int written = 0;
    int reported = 0;
    double writeSeconds = 0;
};

bool MeasurePaced(const Server& server, ReportTail* tail, Paced* paced)
{
    Progress(Format("paced lines to %s: %d at %d a second", server.name, kPacedLines, kPacedLinesPerSecond));
    std::unique_ptr<RunningProgram> program = StartServer(server);
    if (!program) return false;
    PipeWriter writer;
    if (writer.Open() != 0) return Fail(std::string("can't open the pipe of ") + server.name);
    NewReports(tail);

    // One line through first: the pipe is connected and the device answers.
    LONGLONG sentAt = 0;
    if (!writer.Write(LampLine(LineValue(0))) || !WaitForReport(tail, LineValue(0), &sentAt)) return false;

    const LONGLONG perSecond = TicksPerSecond();
    const LONGLONG start = Ticks();
    for (int i = 1; i <= kPacedLines; ++i) {
        // Deadlines from the start, not from the last write: a late write
        // does not slow the rate down.
        const LONGLONG due = start + (static_cast<LONGLONG>(i) - 1) * perSecond / kPacedLinesPerSecond;
        while (Ticks() < due) SwitchToThread();
        if (!writer.Write(LampLine(LineValue(i))))
            return Fail(std::string("writing to the pipe of ") + server.name + " failed");
    }
    paced->writeSeconds = static_cast<double>(Ticks() - start) / static_cast<double>(perSecond);
    paced->written = kPacedLines;

    DWORD lastNews = GetTickCount();
    while (paced->reported < kPacedLines && GetTickCount() - lastNews < kQuietMs) {
        const size_t arrived = NewReports(tail).size();
        if (arrived > 0) {
            paced->reported += static_cast<int>(arrived);
            lastNews = GetTickCount();
        }
        Sleep(5);
    }
    writer.Close();
    StopServer(server, &program);
    return true;
}

// ---- 3. idle CPU ---------------------------------------------------------------

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

// The same summed over the process's threads. Wine answers GetProcessTimes
// for another process with the caller's own times, but reads each thread's
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
    const LONGLONG until = Ticks() + TicksPerSecond() / 20;
    while (Ticks() < until) {
    }
    for (int attempt = 0; attempt < 3; ++attempt)
        if (ProcessTimesCpu(process) == ProcessTimesCpu(GetCurrentProcess())) return true;
    return false;
}

struct IdleCpu {
    double threadsMs = 0;       // summed thread times over the idle time
    double threadsBeforeMs = 0;  // the same from the start to the idle time
    double processTimesMs = 0;  // what GetProcessTimes says over the same time
    bool processTimesAreTheCallers = false;
};

bool MeasureIdleCpu(const Server& program, const char* windowClass, IdleCpu* idle)
{
    Progress(Format("idle CPU time of %s over %lu s", program.name, kIdleMs / 1000));
    RunningProgram running(program.path, program.args);
    HWND window = NULL;
    WaitUntil([&] {
        const std::vector<HWND> windows = running.Windows(windowClass);
        window = windows.empty() ? NULL : windows[0];
        return window != NULL;
    }, kStartTimeoutMs);
    if (window == NULL) return Fail(std::string(program.name) + " showed no window; run the bench through scripts/bench.sh");
    // The first paints and the pipe thread's start are done by then.
    Sleep(1000);

    const ULONGLONG threadsBefore = ThreadTimesCpu(running.id());
    const ULONGLONG processBefore = ProcessTimesCpu(running.handle());
    Sleep(kIdleMs);
    const ULONGLONG threadsAfter = ThreadTimesCpu(running.id());
    const ULONGLONG processAfter = ProcessTimesCpu(running.handle());
    idle->threadsMs = static_cast<double>(threadsAfter - threadsBefore) / 10000.0;
    idle->threadsBeforeMs = static_cast<double>(threadsBefore) / 10000.0;
    idle->processTimesMs = static_cast<double>(processAfter - processBefore) / 10000.0;
    idle->processTimesAreTheCallers = ProcessTimesAreTheCallers(running.handle());

    PostMessageA(window, WM_CLOSE, 0, 0);
    running.WaitForExit(10000);
    return true;
}

// ---- 4. start-up -----------------------------------------------------------------

// From CreateProcess to the program's visible window, found as a user's
// tools would find it: by enumerating the top-level windows.
bool MeasureStartUp(const Server& program, const char* windowClass, double* ms)
{
    const LONGLONG before = Ticks();
    RunningProgram running(program.path, program.args);
    if (!running.started())
        return Fail(Format("can't start %s (error %lu); build it with scripts/bench.sh", program.path.c_str(),
                           GetLastError()));
    HWND window = NULL;
    const DWORD start = GetTickCount();
    for (;;) {
        const std::vector<HWND> windows = running.Windows(windowClass);
        if (!windows.empty()) {
            window = windows[0];
            break;
        }
        if (GetTickCount() - start > kStartTimeoutMs)
            return Fail(std::string(program.name) + " showed no window; run the bench through scripts/bench.sh");
        Sleep(1);
    }
    *ms = TicksToMs(Ticks() - before);
    PostMessageA(window, WM_CLOSE, 0, 0);
    running.WaitForExit(10000);
    return true;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// ---- 5. sizes --------------------------------------------------------------------

std::string SizeText(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path == NULL) return "not given";
    if (!GetFileAttributesExA(WindowsPath(path).c_str(), GetFileExInfoStandard, &data)) return "missing";
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return Format("%llu bytes (%.1f KiB)", static_cast<unsigned long long>(size),
                  static_cast<double>(size) / 1024.0);
}

// ---- 1b. latency on Wine's own HID stack ----------------------------------------

bool MeasureRealStackLatencies(std::vector<Latency>* latencies)
{
    VirtualLampBench lamps;
    const int lamp = lamps.AddLamp();
    if (lamp < 0)
        return Fail("can't add a virtual lamp (" + lamps.problem() +
                    "); run the bench through scripts/bench.sh, which installs its driver");
    ReportTail tail;
    if (!OpenReportTail(lamps.LogPath(lamp), &tail)) return Fail("can't read the virtual lamp's log " + lamps.LogPath(lamp));
    for (const char* name : {"tolvaren.exe", "bench_bare_server_real.exe"})
        if (!FileExists(RealPath(name)))
            return Fail(RealPath(name) + " is missing; build it with scripts/bench.sh");
    const std::string lampPath = "\"" + lamps.Path(lamp) + "\"";
    const Server program = {"tolvaren.exe on Wine's HID stack", RealPath("tolvaren.exe"), "", true};
    const Server bare = {"the bare server on Wine's HID stack", RealPath("bench_bare_server_real.exe"), lampPath,
                         false};
    const Server bareOnThread = {"the bare server on Wine's HID stack, reading on a second thread",
                                 RealPath("bench_bare_server_real.exe"), "--thread " + lampPath, false};
    const bool ok = MeasureLatencies({&program, &bare, &bareOnThread}, &tail, latencies);
    CloseReportTail(&tail);
    return ok;
}

// ---- 6. a slow lamp ----------------------------------------------------------------

struct PaintTimes {
    double p50Ms = 0;
    double p99Ms = 0;
    int linesDuring = 0;  // lamp lines the program took while the paints ran
};

// The program started beside a simulated lamp of its own whose every report
// takes delayMs (0: one that answers at once).
std::unique_ptr<RunningProgram> StartBesideLamp(const Server& program, DWORD delayMs, SimDeviceBench* lamp)
{
    SimDeviceSpec spec;
    if (delayMs > 0) spec.extra = Format("delay=%lu\r\n", delayMs);
    lamp->AddDevice(spec);
    return StartServer(program);
}

// One paint, as the system asks for it when the window is uncovered: the
// whole panel invalidated, then WM_PAINT sent and waited for.
bool TimePaint(HWND window, double* ms)
{
    InvalidateRect(window, NULL, TRUE);
    DWORD_PTR result = 0;
    const LONGLONG before = Ticks();
    if (!SendMessageTimeoutA(window, WM_PAINT, 0, 0, SMTO_BLOCK, 10000, &result))
        return Fail("the program's window did not answer WM_PAINT within 10 s");
    *ms = TicksToMs(Ticks() - before);
    return true;
}

// Paints of tolvaren's window beside a lamp whose every report takes
// delayMs (0: one that answers at once), while a writer keeps lamp lines
// coming, so that with the slow lamp a report is nearly always under way.
bool MeasurePaints(DWORD delayMs, PaintTimes* times)
{
    Progress(Format("%d paints of tolvaren's window, its lamp taking %lu ms a report, lines streaming",
                    kPaints, delayMs));
    SimDeviceBench lamp;
    const Server program = {kProgram, BinPath(kProgram), "", true};
    std::unique_ptr<RunningProgram> running = StartBesideLamp(program, delayMs, &lamp);
    if (!running) return false;
    HWND window = running->MainWindow();

    volatile LONG stop = 0;
    volatile LONG written = 0;
    struct Streamer {
        volatile LONG* stop;
        volatile LONG* written;
        static DWORD WINAPI Run(LPVOID self)
        {
            Streamer* s = static_cast<Streamer*>(self);
            PipeWriter writer;
            if (writer.Open() != 0) return 1;
            for (int i = 0; *s->stop == 0; ++i) {
                if (!writer.Write(LampLine(LineValue(i)))) return 1;
                InterlockedIncrement(s->written);
                Sleep(1);
            }
            return 0;
        }
    } streamer = {&stop, &written};
    HANDLE thread = CreateThread(NULL, 0, Streamer::Run, &streamer, 0, NULL);
    if (thread == NULL) return Fail("can't start the writing thread");
    WaitUntil([&] { return written > 5; }, 5000);

    std::vector<double> samples;
    bool ok = true;
    for (int i = 0; ok && i < kPaints; ++i) {
        double ms = 0;
        ok = TimePaint(window, &ms);
        samples.push_back(ms);
        Sleep(2);
    }
    InterlockedExchange(&stop, 1);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    times->linesDuring = written;
    StopServer(program, &running);
    if (!ok) return false;
    std::sort(samples.begin(), samples.end());
    times->p50Ms = Percentile(samples, 50);
    times->p99Ms = Percentile(samples, 99);
    return true;
}

// From WM_CLOSE to the end of the process, with the lamp's report stuck for
// delayMs (0: none under way).
bool MeasureShutdown(DWORD delayMs, double* ms)
{
    Progress(Format("shutdown of tolvaren, %s", delayMs > 0 ? "its lamp's report stuck" : "its lamp idle"));
    SimDeviceBench lamp;
    const Server program = {kProgram, BinPath(kProgram), "", true};
    std::unique_ptr<RunningProgram> running = StartBesideLamp(program, delayMs, &lamp);
    if (!running) return false;
    HWND window = running->MainWindow();
    PipeWriter writer;
    if (writer.Open() != 0 || !writer.Write(LampLine(0x00FF))) return Fail("can't write to tolvaren's pipe");
    const std::string stall = Format("stall %lu", delayMs);
    const bool underWay = WaitUntil([&] {
        const std::vector<std::string> events = lamp.Events();
        if (delayMs > 0) return std::find(events.begin(), events.end(), stall) != events.end();
        return !lamp.Reports().empty();
    }, 5000);
    if (!underWay) return Fail("the lamp line's report never reached the simulated lamp");

    const LONGLONG before = Ticks();
    PostMessageA(window, WM_CLOSE, 0, 0);
    const DWORD code = running->WaitForExit(30000);
    *ms = TicksToMs(Ticks() - before);
    if (code == STILL_ACTIVE) return Fail("tolvaren did not end within 30 s of WM_CLOSE");
    return true;
}

// ---- the table -------------------------------------------------------------------

// Latencies are tenths of a millisecond; start-ups jitter by tens of
// milliseconds and CPU times come in clock ticks of ten.
std::string Ms(double ms, int decimals = 3)
{
    return Format("%.*f ms", decimals, ms);
}

std::string Verdict(bool met)
{
    return met ? "met" : "missed";
}

void Row(const std::string& figure, const std::string& tolvaren, const std::string& reference,
         const std::string& goal, const std::string& verdict)
{
    std::printf("| %s | %s | %s | %s | %s |\n", figure.c_str(), tolvaren.c_str(), reference.c_str(),
                goal.c_str(), verdict.c_str());
}

std::string PacedText(const Paced& paced)
{
    return Format("%.1f %% (%d of %d, written in %.2f s)", 100.0 * paced.reported / paced.written,
                  paced.reported, paced.written, paced.writeSeconds);
}

bool CheckBesideTheBench()
{
    for (const char* name : {kProgram, kBareServer, kMinimalWindow, "hid.dll", "setupapi.dll"})
        if (!FileExists(BinPath(name)))
            return Fail(std::string(name) + " is missing beside the bench in " + TestBinDirectory() +
                        "; build it with scripts/bench.sh (or cmake --build --preset windows-x64 "
                        "--target tolvaren_bench)");
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 1 && argc != 3) {
        std::fprintf(stderr,
                     "usage: tolvaren_bench.exe [TOLVAREN_32BIT_EXE TOLVAREN_64BIT_EXE]\n"
                     "The two paths (Unix or Windows) are for the table's sizes; scripts/bench.sh gives them.\n");
        return 2;
    }
    if (!CheckBesideTheBench()) return 1;
    if (!UseSimulatedDevice(kProgram) || !UseSimulatedDevice(kBareServer)) {
        Fail("can't set the Wine DLL overrides in the registry; check that the Wine prefix is writable");
        return 1;
    }

    SimDeviceBench device;
    const std::string devicePath = device.AddDevice(SimDeviceSpec());
    // The log is made now so that it can be followed from its first line.
    if (!WriteTextFile(device.directory() + "\\events.log", "") ||
        !WriteTextFile(device.directory() + "\\timestamps", "")) {
        Fail("can't write to " + device.directory() + "; check the space and rights there");
        return 1;
    }
    ReportTail tail;
    if (!OpenReportTail(device.directory() + "\\events.log", &tail)) {
        Fail("can't read " + device.directory() + "\\events.log; check the rights there");
        return 1;
    }

    const Server program = {kProgram, BinPath(kProgram), "", true};
    const Server bare = {"the bare server", BinPath(kBareServer), "\"" + devicePath + "\"", false};
    const Server bareOnThread = {"the bare server reading on a second thread", BinPath(kBareServer),
                                 "--thread \"" + devicePath + "\"", false};
    const Server minimal = {"the minimal window", BinPath(kMinimalWindow), "", true};

    std::vector<Latency> latencies;
    Paced programPaced, barePaced;
    IdleCpu programIdle, minimalIdle;
    std::vector<double> programStarts, minimalStarts;
    bool ok = MeasureLatencies({&program, &bare, &bareOnThread}, &tail, &latencies) &&
              MeasurePaced(program, &tail, &programPaced) && MeasurePaced(bare, &tail, &barePaced) &&
              MeasureIdleCpu(program, kMainWindowClass, &programIdle) &&
              MeasureIdleCpu(minimal, kMinimalWindowClass, &minimalIdle);
    if (ok) Progress(Format("start-up of %s and the minimal window, %d each, in turn", kProgram, kStarts));
    for (int i = 0; ok && i < kStarts; ++i) {
        double ms = 0;
        ok = MeasureStartUp(program, kMainWindowClass, &ms);
        programStarts.push_back(ms);
        ok = ok && MeasureStartUp(minimal, kMinimalWindowClass, &ms);
        minimalStarts.push_back(ms);
    }
    CloseReportTail(&tail);

    // The same latency on Wine's own HID stack: a virtual lamp logs each
    // report with the same clock.
    std::vector<Latency> realLatencies;
    if (ok) ok = MeasureRealStackLatencies(&realLatencies);

    // Each with a lamp of its own, so last: the simulated devices they
    // describe replace the one above.
    PaintTimes paints, slowPaints;
    double shutdownMs = 0, stuckShutdownMs = 0;
    ok = ok && MeasurePaints(0, &paints) && MeasurePaints(kSlowLampMs, &slowPaints) &&
         MeasureShutdown(0, &shutdownMs) && MeasureShutdown(kStuckLampMs, &stuckShutdownMs);
    if (!ok) return 1;

    SYSTEMTIME today;
    GetLocalTime(&today);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const std::string wine = WineVersionText().empty() ? "not Wine" : "Wine " + WineVersionText();
    std::printf("Tolvaren benchmark, %04u-%02u-%02u, %s, %lu processors\n\n", today.wYear, today.wMonth,
                today.wDay, wine.c_str(), system.dwNumberOfProcessors);
    Row("figure", "tolvaren.exe (64-bit)", "reference", "goal", "");
    Row("---", "---", "---", "---", "---");
    const Latency& programLatency = latencies[0];
    const Latency& bareLatency = latencies[1];
    const Latency& threadLatency = latencies[2];
    for (int percentile : {50, 99}) {
        const double programMs = percentile == 50 ? programLatency.p50Ms : programLatency.p99Ms;
        const double bareMs = percentile == 50 ? bareLatency.p50Ms : bareLatency.p99Ms;
        const double threadMs = percentile == 50 ? threadLatency.p50Ms : threadLatency.p99Ms;
        Row(Format("latency WriteFile to report, p%d (%d lines)", percentile, kLatencyLines), Ms(programMs),
            Ms(bareMs) + " (bare server)", Format("<= %.2fx bare", kLatencyGoal),
            Format("%.3fx, %s", programMs / bareMs, Verdict(programMs / bareMs <= kLatencyGoal).c_str()));
        Row("the same, beside a bare server reading on a second thread", Ms(programMs),
            Ms(threadMs) + " (bare server, second thread)", "-", Format("%.3fx", programMs / threadMs));
    }
    for (int percentile : {50, 99}) {
        const auto pick = [&](const Latency& latency) { return percentile == 50 ? latency.p50Ms : latency.p99Ms; };
        const double programMs = pick(realLatencies[0]);
        const double bareMs = pick(realLatencies[1]);
        const double threadMs = pick(realLatencies[2]);
        Row(Format("the same on Wine's HID stack (a virtual lamp), p%d", percentile), Ms(programMs),
            Ms(bareMs) + " (bare server, same stack)", Format("<= %.2fx bare", kLatencyGoal),
            Format("%.3fx, %s", programMs / bareMs, Verdict(programMs / bareMs <= kLatencyGoal).c_str()));
        Row("the same, beside the bare server reading on a second thread", Ms(programMs),
            Ms(threadMs) + " (bare server, second thread)", "-", Format("%.3fx", programMs / threadMs));
    }
    const double pacedPercent = 100.0 * programPaced.reported / programPaced.written;
    Row(Format("lines reported, %d a second", kPacedLinesPerSecond), PacedText(programPaced),
        PacedText(barePaced) + " (bare server)", Format(">= %.0f %%", kPacedGoalPercent),
        Verdict(pacedPercent >= kPacedGoalPercent));
    // A method that saw no time in the start-up either can't see any.
    const bool cpuSeen = programIdle.threadsBeforeMs > 0;
    Row(Format("CPU time over %lu idle s", kIdleMs / 1000), cpuSeen ? Ms(programIdle.threadsMs, 0) : "unknown",
        Ms(minimalIdle.threadsMs, 0) + " (minimal window)", "0",
        cpuSeen ? Verdict(programIdle.threadsMs == 0) : "can't tell");
    Row(Format("start-up to window shown, median of %d", kStarts), Ms(Median(programStarts), 1),
        Ms(Median(minimalStarts), 1) + " (minimal window)", "-", "");
    Row(Format("paint while lines stream to a %lu ms lamp, p50 (%d paints)", kSlowLampMs, kPaints),
        Ms(slowPaints.p50Ms), Ms(paints.p50Ms) + " (lamp answering at once)", "<= the same",
        Verdict(slowPaints.p50Ms <= paints.p50Ms * 1.05));
    Row(Format("paint while lines stream to a %lu ms lamp, p99 (%d paints)", kSlowLampMs, kPaints),
        Ms(slowPaints.p99Ms), Ms(paints.p99Ms) + " (lamp answering at once)", "<= the same",
        Verdict(slowPaints.p99Ms <= paints.p99Ms * 1.05));
    Row("shutdown, WM_CLOSE to the process's end, a report stuck", Ms(stuckShutdownMs, 1),
        Ms(shutdownMs, 1) + " (no report under way)", Format("about %u ms", kLampShutdownWaitMs), "");
    Row("size, 32-bit build", SizeText(argc == 3 ? argv[1] : NULL), "-", "-", "");
    Row("size, 64-bit build", SizeText(argc == 3 ? argv[2] : NULL), "-", "-", "");

    std::printf("\nLatency: from just before WriteFile to the simulated device's HidD_SetFeature; "
                "%d rounds of %d lines, the servers in turn, each round after %d unmeasured lines. "
                "tolvaren reads its pipe on a second thread, beside its window's; the bare server "
                "reading on a second thread shows what that arrangement costs under this Wine.\n",
                kLatencyRounds, kLatencyLinesPerRound, kWarmUpLines);
    std::printf("Paints: WM_PAINT sent to the window after invalidating it, timed to its answer, while a "
                "writer sent a lamp line every millisecond or so (%d and %d lines taken during the "
                "paints); 5 %% is allowed for noise.\n",
                paints.linesDuring, slowPaints.linesDuring);
    std::printf("Start-ups (ms), tolvaren.exe:");
    for (double ms : programStarts) std::printf(" %.1f", ms);
    std::printf("; minimal window:");
    for (double ms : minimalStarts) std::printf(" %.1f", ms);
    std::printf("\nCPU time: the sum of the program's thread times (GetThreadTimes, in the system's "
                "clock ticks), which came to %.0f ms from its start to the idle time. GetProcessTimes "
                "gave %.3f ms over the idle time%s.\n",
                programIdle.threadsBeforeMs, programIdle.processTimesMs,
                programIdle.processTimesAreTheCallers
                    ? ", but under this Wine it answers for another process with the caller's own times"
                    : "");
    std::fflush(stdout);
    return 0;
}
