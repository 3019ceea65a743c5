#pragma once
// What the bench's measurements share: their messages, their clock, the
// programs they start and stop, and the lamp lines they write.
#include <windows.h>

#include <memory>
#include <string>

// The tests' driver of programs, and their lamps' clock (Counter()) and
// report text (LampReport()).
#include "program_driver.h"
#include "program_driver.h"
#include "sim_device_fixture.h"

extern const char kProgram[];        // tolvaren's copy beside the simulated lamp device
extern const char kBareServer[];     // the bare server of its pipe, beside it too
extern const char kMinimalWindow[];  // the minimal window program
const char kMainWindowClass[] = "PipeWClass";  // tolvaren's window

// printf's text, up to 511 characters.
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Says what went wrong and what to do; the figures so far are lost.
// Returns false, for the measurement to return.
bool Fail(const std::string& message);
// Says what the bench measures now.
void Progress(const std::string& message);

// A span of QueryPerformanceCounter's counts (Counter()), the lamps' clock
// too, in milliseconds.
double CountsToMs(long long counts);

// A file beside the bench (tests/bin), with the simulated lamp device.
std::string BinPath(const char* name);
// A program on Wine's own HID stack: they lie in tests/real beside tests/bin.
std::string RealPath(const char* name);
bool FileExists(const std::string& path);

// A program the bench starts: tolvaren, a bare server, the minimal window.
struct BenchProgram {
    const char* name;  // as messages call it
    std::string path;
    std::string args;
    const char* windowClass;  // NULL: it shows no window
};

BenchProgram TolvarenOnSimulatedLamp();
BenchProgram MinimalWindow();

// Starts the program; NULL, once said why, when it can't be started.
std::unique_ptr<RunningProgram> Launch(const BenchProgram& program);
// Waits for the program's window, looking every pollMs; NULL, once said
// why, when none shows.
HWND WaitForWindow(const BenchProgram& program, const RunningProgram& running, DWORD pollMs);
// Starts a server of the pipe once nothing else serves it, and waits for
// its window if it has one; NULL, once said why, when that fails.
std::unique_ptr<RunningProgram> StartServer(const BenchProgram& server);
// Ends the program the way it ends in use, closing its window, so that the
// pipe is free for the next one; ends what is left.
void StopProgram(const BenchProgram& program, std::unique_ptr<RunningProgram>* running);
// tolvaren started beside a simulated lamp of its own, described in lamp,
// whose every report takes delayMs (0: one that answers at once).
std::unique_ptr<RunningProgram> StartBesideLamp(DWORD delayMs, SimDeviceBench* lamp);

// Each lamp line of a run differs from the one before, so that a report
// can't be taken for its predecessor's.
unsigned LineValue(int index);
// The lamp line that sets the sixteen lamps to value.
std::string LampLine(unsigned value);
