#pragma once
// Runs a console tool as Explorer starts it on a double-click, in a console
// window of its own, or in a console it shares with the test, as from a
// command prompt; reads what its console shows and types into it; and
// raises the console's events the way the system does.
#include <windows.h>

#include <string>
#include <vector>

// Raises a console event (CTRL_C_EVENT, CTRL_CLOSE_EVENT, ...) in a process
// as the system does: a thread of its own there runs the handler routine.
// Waits up to waitMs for the handlers to return; gives how long they took,
// or INFINITE when they did not return in time.
DWORD RaiseConsoleEvent(HANDLE process, DWORD event, DWORD waitMs = 10000);

class ConsoleRun {
public:
    enum Console { kOwnConsole, kSharedConsole };

    // exeName lies beside the test. Standard handles are the console's.
    ConsoleRun(const std::string& exeName, const std::vector<std::string>& args, Console console);
    ~ConsoleRun();  // ends the tool if it still runs
    ConsoleRun(const ConsoleRun&) = delete;
    ConsoleRun& operator=(const ConsoleRun&) = delete;

    bool started() const { return process_.hProcess != NULL; }
    DWORD id() const { return process_.dwProcessId; }
    bool Running() const;

    // Waits until the tool's console window has a title with this in it.
    // Only then may the test look into the console: a process looking in
    // is one more in it, and a tool that counts them must have counted.
    bool WaitForTitle(const std::string& part, DWORD timeoutMs = 10000) const;

    // What the console shows, a line for each row; a row that fills the
    // width runs on into the next, as the text does.
    std::string Screen() const;
    // Whether it shows the text, which may wrap anywhere at a space.
    bool Shows(const std::string& text) const;
    bool WaitForScreen(const std::string& text, DWORD timeoutMs = 10000) const;

    // A key pressed and released in the console window, as the window
    // records it; controlKeys as in KEY_EVENT_RECORD (LEFT_CTRL_PRESSED).
    bool PressKey(WORD virtualKey, char character, DWORD controlKeys = 0);
    bool PressCtrlC() { return PressKey('C', 3, LEFT_CTRL_PRESSED); }

    // See RaiseConsoleEvent.
    DWORD RaiseEvent(DWORD event, DWORD waitMs = 10000)
    {
        return RaiseConsoleEvent(process_.hProcess, event, waitMs);
    }

    // Waits for the tool to end, up to waitMs; ends one that does not with
    // exit code 99. Gives its exit code.
    DWORD Finish(DWORD waitMs = 10000);
    // Ends it at once, as the system does after a console closed.
    void Terminate(DWORD exitCode);

private:
    // Attached to the tool's console for as long as it lives; std handles
    // as they were afterwards.
    class Attached {
    public:
        explicit Attached(const ConsoleRun& run);
        ~Attached();
        bool ok() const { return ok_; }

    private:
        const ConsoleRun& run_;
        bool ok_;
    };

    Console console_;
    PROCESS_INFORMATION process_ = {};
    HANDLE saved_[3] = {};
};

// The processes that a process started and that still run.
struct ChildProcess {
    DWORD id;
    std::string exeName;
};
std::vector<ChildProcess> ChildProcesses(DWORD parentId);
