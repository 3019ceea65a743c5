#include "bench_support.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "bench_programs.h"

const char kProgram[] = "tolvaren-sim.exe";
const char kBareServer[] = "bench_bare_server.exe";
const char kMinimalWindow[] = "bench_minimal_window.exe";

namespace {

// A program's start and its window's showing may take this long on a busy
// machine.
const DWORD kStartTimeoutMs = 30000;

}  // namespace

std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

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

double CountsToMs(long long counts)
{
    return static_cast<double>(counts) / static_cast<double>(CountsPerMs());
}

std::string BinPath(const char* name)
{
    return TestBinDirectory() + "\\" + name;
}

std::string RealPath(const char* name)
{
    return TestBinDirectory() + "\\..\\real\\" + name;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

BenchProgram TolvarenOnSimulatedLamp()
{
    return {kProgram, BinPath(kProgram), "", kMainWindowClass};
}

BenchProgram MinimalWindow()
{
    return {"the minimal window", BinPath(kMinimalWindow), "", kMinimalWindowClass};
}

std::unique_ptr<RunningProgram> Launch(const BenchProgram& program)
{
    std::unique_ptr<RunningProgram> running(new RunningProgram(program.path, program.args));
    if (running->started()) return running;
    Fail(Format("can't start %s (error %lu); build it with scripts/bench.sh", program.path.c_str(),
                GetLastError()));
    return nullptr;
}

// Found as a user's tools would find it: among the top-level windows.
HWND WaitForWindow(const BenchProgram& program, const RunningProgram& running, DWORD pollMs)
{
    HWND window = NULL;
    const bool shown = WaitUntil([&] {
        const std::vector<HWND> windows = running.Windows(program.windowClass);
        window = windows.empty() ? NULL : windows[0];
        return window != NULL;
    }, kStartTimeoutMs, pollMs);
    if (shown) return window;
    const std::vector<MessageBoxView> boxes = running.Boxes();
    if (!boxes.empty())
        Fail(std::string(program.name) + " shows \"" + boxes[0].text +
             "\" instead of its window: it does not see the simulated lamp device. Run the bench "
             "through scripts/bench.sh, which gives it the simulated device");
    else
        Fail(Format("%s showed no window within %lu ms; see whether it starts at all with "
                    "tests/wine/wine-run.sh",
                    program.name, kStartTimeoutMs));
    return NULL;
}

namespace {

bool PipeIsFree()
{
    PipeWriter probe;
    return probe.TryOpen() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::unique_ptr<RunningProgram> StartServer(const BenchProgram& server)
{
    if (!PipeIsFree()) {
        Fail(std::string("something already serves ") + kPipeName +
             " (a tolvaren left running?); close it and run the bench again");
        return nullptr;
    }
    std::unique_ptr<RunningProgram> running = Launch(server);
    if (running && server.windowClass != NULL && WaitForWindow(server, *running, 20) == NULL) return nullptr;
    return running;
}

void StopProgram(const BenchProgram& program, std::unique_ptr<RunningProgram>* running)
{
    const std::vector<HWND> windows =
        program.windowClass != NULL ? (*running)->Windows(program.windowClass) : std::vector<HWND>();
    if (!windows.empty()) {
        PostMessageA(windows[0], WM_CLOSE, 0, 0);
        (*running)->WaitForExit(10000);
    }
    running->reset();  // ends what is left
}

std::unique_ptr<RunningProgram> StartBesideLamp(DWORD delayMs, SimDeviceBench* lamp)
{
    SimDeviceSpec spec;
    if (delayMs > 0) spec.extra = Format("delay=%lu\r\n", delayMs);
    lamp->AddDevice(spec);
    return StartServer(TolvarenOnSimulatedLamp());
}

unsigned LineValue(int index)
{
    return (static_cast<unsigned>(index) * 0x9E37u + 0x0101u) & 0xFFFFu;
}

std::string LampLine(unsigned value)
{
    return Format(">5L%04X\n", value);
}
