#include "console_run.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "program_driver.h"

namespace {

const DWORD kStdHandles[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

// The test lives beside the tools' consoles: the events raised there for
// them (Ctrl-C typed, a console closing) must not end it.
BOOL WINAPI IgnoreConsoleEvent(DWORD)
{
    return TRUE;
}

std::string Quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \"") == std::string::npos) return arg;
    return "\"" + arg + "\"";
}

}  // namespace

ConsoleRun::ConsoleRun(const std::string& exeName, const std::vector<std::string>& args, Console console)
    : console_(console)
{
    SetConsoleCtrlHandler(IgnoreConsoleEvent, TRUE);
    for (int i = 0; i < 3; ++i) saved_[i] = GetStdHandle(kStdHandles[i]);
    const std::string program = TestBinDirectory() + "\\" + exeName;
    std::string commandLine = Quoted(program);
    for (const std::string& arg : args) commandLine += " " + Quoted(arg);

    // A prompt's console is the test's own for the while; ctest gives it
    // none to begin with.
    DWORD flags = CREATE_NEW_CONSOLE;
    if (console == kSharedConsole) {
        FreeConsole();
        EXPECT_TRUE(AllocConsole()) << "error " << GetLastError();
        flags = 0;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, FALSE, flags, NULL, NULL, &startup,
                        &process_))
        ADD_FAILURE() << "can't start " << program << ": error " << GetLastError();
}

ConsoleRun::~ConsoleRun()
{
    if (process_.hProcess != NULL) {
        Finish(0);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    // FreeConsole closes the standard handles that AllocConsole made: the
    // test's own come back only after it.
    if (console_ == kSharedConsole) {
        FreeConsole();
        for (int i = 0; i < 3; ++i) SetStdHandle(kStdHandles[i], saved_[i]);
    }
}

bool ConsoleRun::Running() const
{
    return process_.hProcess != NULL && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

ConsoleRun::Attached::Attached(const ConsoleRun& run) : run_(run), ok_(true)
{
    if (run.console_ == kOwnConsole) {
        FreeConsole();
        ok_ = AttachConsole(run.process_.dwProcessId) != FALSE;
    }
}

ConsoleRun::Attached::~Attached()
{
    // Under Wine a console that closes takes every process attached to it
    // along; the test never stays.
    if (run_.console_ == kSharedConsole) return;
    FreeConsole();
    for (int i = 0; i < 3; ++i) SetStdHandle(kStdHandles[i], run_.saved_[i]);
}

std::string ConsoleRun::Screen() const
{
    Attached attached(*this);
    if (!attached.ok()) return "";
    HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    if (output == INVALID_HANDLE_VALUE) return "";
    CONSOLE_SCREEN_BUFFER_INFO info;
    std::string text;
    if (GetConsoleScreenBufferInfo(output, &info)) {
        const int width = info.dwSize.X;
        std::vector<char> row(static_cast<size_t>(width));
        for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
            DWORD read = 0;
            if (!ReadConsoleOutputCharacterA(output, row.data(), static_cast<DWORD>(width), COORD{0, y}, &read))
                break;
            std::string line(row.data(), read);
            const bool full = !line.empty() && line.back() != ' ';
            line.erase(line.find_last_not_of(' ') + 1);
            text += line;
            if (!full) text += "\n";
        }
    }
    CloseHandle(output);
    return text;
}

namespace {

struct TitleSearch {
    std::vector<DWORD> processes;
    std::string part;
    bool found;
};

BOOL CALLBACK FindTitle(HWND window, LPARAM parameter)
{
    TitleSearch* search = reinterpret_cast<TitleSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (std::find(search->processes.begin(), search->processes.end(), process) == search->processes.end())
        return TRUE;
    search->found = search->found || WindowText(window).find(search->part) != std::string::npos;
    return TRUE;
}

}  // namespace

bool ConsoleRun::WaitForTitle(const std::string& part, DWORD timeoutMs) const
{
    return WaitUntil(
        [&] {
            // The console window is its console host's, which the tool started.
            TitleSearch search = {{process_.dwProcessId}, part, false};
            for (const ChildProcess& child : ChildProcesses(process_.dwProcessId))
                search.processes.push_back(child.id);
            EnumWindows(FindTitle, reinterpret_cast<LPARAM>(&search));
            return search.found;
        },
        timeoutMs);
}

namespace {

// Each run of spaces and line ends as one space.
std::string Flattened(const std::string& text)
{
    std::string flat;
    for (char c : text) {
        const bool space = c == ' ' || c == '\n';
        if (!space)
            flat += c;
        else if (flat.empty() || flat.back() != ' ')
            flat += ' ';
    }
    return flat;
}

}  // namespace

bool ConsoleRun::Shows(const std::string& text) const
{
    return Flattened(Screen()).find(Flattened(text)) != std::string::npos;
}

bool ConsoleRun::WaitForScreen(const std::string& text, DWORD timeoutMs) const
{
    return WaitUntil([&] { return Shows(text); }, timeoutMs);
}

bool ConsoleRun::PressKey(WORD virtualKey, char character, DWORD controlKeys)
{
    Attached attached(*this);
    if (!attached.ok()) return false;
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, 0, NULL);
    if (input == INVALID_HANDLE_VALUE) return false;
    INPUT_RECORD records[2] = {};
    for (int i = 0; i < 2; ++i) {
        KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        records[i].EventType = KEY_EVENT;
        key.bKeyDown = i == 0;
        key.wRepeatCount = 1;
        key.wVirtualKeyCode = virtualKey;
        key.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC));
        key.uChar.AsciiChar = character;
        key.dwControlKeyState = controlKeys;
    }
    // Apart, as a person's fingers are: Wine 8 raises Ctrl-C once or twice
    // for a key that goes down and up in one write.
    DWORD down = 0, up = 0;
    const BOOL ok = WriteConsoleInputA(input, &records[0], 1, &down) && (Sleep(100), true) &&
                    WriteConsoleInputA(input, &records[1], 1, &up);
    CloseHandle(input);
    return ok && down == 1 && up == 1;
}

DWORD RaiseConsoleEvent(HANDLE process, DWORD event, DWORD waitMs)
{
    // The handler routine is kernelbase's, at the same address in every
    // process, as the system relies on.
    const HMODULE kernelbase = GetModuleHandleA("kernelbase.dll");
    const FARPROC routine = kernelbase ? GetProcAddress(kernelbase, "CtrlRoutine") : NULL;
    if (routine == NULL) {
        ADD_FAILURE() << "no CtrlRoutine in kernelbase.dll";
        return INFINITE;
    }
    const DWORD started = GetTickCount();
    LPTHREAD_START_ROUTINE start;
    static_assert(sizeof start == sizeof routine, "a function pointer is a function pointer");
    std::memcpy(&start, &routine, sizeof start);
    HANDLE thread = CreateRemoteThread(process, NULL, 0, start,
                                       reinterpret_cast<void*>(static_cast<DWORD_PTR>(event)), 0, NULL);
    if (thread == NULL) {
        ADD_FAILURE() << "can't raise console event " << event << ": error " << GetLastError();
        return INFINITE;
    }
    const bool returned = WaitForSingleObject(thread, waitMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return returned ? GetTickCount() - started : INFINITE;
}

DWORD ConsoleRun::Finish(DWORD waitMs)
{
    if (process_.hProcess == NULL) return STILL_ACTIVE;
    if (WaitForSingleObject(process_.hProcess, waitMs) != WAIT_OBJECT_0) Terminate(99);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

void ConsoleRun::Terminate(DWORD exitCode)
{
    TerminateProcess(process_.hProcess, exitCode);
    WaitForSingleObject(process_.hProcess, 10000);
}

std::vector<ChildProcess> ChildProcesses(DWORD parentId)
{
    std::vector<ChildProcess> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return children;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == parentId) children.push_back({entry.th32ProcessID, entry.szExeFile});
    CloseHandle(snapshot);
    return children;
}
