#pragma once
// Drives the real program from outside, as a user and the plug-in would:
// starts it, finds its windows and message boxes, reads the panel's pixels
// off the screen, sends system commands, and writes to its pipe.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Polls every pollMs until done() holds or timeoutMs pass; returns done()'s
// last answer.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000, DWORD pollMs = 20);

// The directory the test programs, the simulated device and the program
// copies under test lie in.
std::string TestBinDirectory();

struct MessageBoxView {
    HWND window = NULL;
    std::string caption;
    std::string text;
    HWND owner = NULL;
};

class RunningProgram {
public:
    // Starts exePath with the given arguments (a full command line is made
    // of the quoted path and args). Environment is inherited.
    RunningProgram(const std::string& exePath, const std::string& args);
    // Takes on a program that something else started: the one process
    // running an executable of this file name, waited for up to timeoutMs.
    static bool Attach(RunningProgram* program, const char* exeName, DWORD timeoutMs);
    RunningProgram() = default;
    ~RunningProgram();  // ends the program if it still runs
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool started() const { return process_.hProcess != NULL; }
    DWORD id() const { return process_.dwProcessId; }
    HANDLE handle() const { return process_.hProcess; }

    // Visible top-level windows of the program with this class name.
    std::vector<HWND> Windows(const char* className) const;
    HWND MainWindow() const;                 // its "PipeWClass" window, or NULL
    std::vector<MessageBoxView> Boxes() const;  // its message boxes now
    // Waits for exactly one message box and returns it (window NULL if none).
    MessageBoxView WaitForBox(DWORD timeoutMs = 10000) const;
    HWND WaitForMainWindow(DWORD timeoutMs = 10000) const;

    // Waits for the program to end; returns its exit code, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD timeoutMs = 10000);
    DWORD HandleCount() const;

private:
    PROCESS_INFORMATION process_ = {};
};

// Presses the box's OK button.
void DismissBox(const MessageBoxView& box);

std::string WindowText(HWND window);
std::string ClassName(HWND window);

// What the panel shows, read off the screen.
struct PanelView {
    bool readable = false;   // every lamp centre was yellow or black
    uint8_t lampsLow = 0;    // upper row, leftmost lamp = bit 7
    uint8_t lampsHigh = 0;   // lower row
    bool outlinesGrey = false;
};
PanelView ReadPanel(HWND mainWindow);

// True when the top-left of the panel shows exactly this text, grey on
// black in the default font, and black after it up to the lamps.
bool PanelShowsText(HWND mainWindow, const std::string& text);

// Waits until the panel shows the text and the lamps.
bool WaitForPanel(HWND mainWindow, const std::string& text, uint8_t low, uint8_t high,
                  DWORD timeoutMs = 10000);

extern const char kPipeName[];

// A writer on the program's pipe, as the plug-in is.
class PipeWriter {
public:
    PipeWriter() = default;
    ~PipeWriter() { Close(); }
    PipeWriter(const PipeWriter&) = delete;
    PipeWriter& operator=(const PipeWriter&) = delete;

    // Opens the pipe for writing, retrying while it does not exist yet or
    // is busy, until timeoutMs pass. Returns the last error on failure.
    DWORD Open(DWORD timeoutMs = 10000);
    // One attempt; returns 0 or the error.
    DWORD TryOpen();
    bool Write(const std::string& bytes);
    void Close();
    bool open() const { return pipe_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

// A Unix path from the build (a test's argument) becomes the Windows path
// Wine maps it to; a Windows path stays as it is.
std::string WindowsPath(std::string path);

// Copies a built file under a new name beside it (for per-name Wine settings).
bool CopyBeside(const std::string& from, const std::string& to);

// The Wine this runs on: its version as Wine says it ("8.0"), "" when not
// on Wine; and as major * 100 + minor (1000 for 10.0), 0 when not on Wine.
// Where Wines differ in what they implement, a test asserts the road its
// Wine must take.
std::string WineVersionText();
int WineVersion();

// Makes Wine report an older Windows ("win98") to programs of this file name.
bool SetWineWindowsVersion(const std::string& exeName, const char* version);

// A feature report as a device's log gives it: "7 01 00 FF 00 00 00 00 ok".
std::string LampReport(uint8_t low, uint8_t high, const char* verdict = "ok");

// QueryPerformanceCounter's count, which the lamps' logs use too, and its
// counts a millisecond.
long long Counter();
long long CountsPerMs();
