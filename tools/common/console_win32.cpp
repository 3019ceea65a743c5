#include "tools/common/console_win32.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tools/common/tool_rules.h"

namespace {

void WriteBytes(OutputStream stream, const char* bytes, DWORD count)
{
    HANDLE handle = GetStdHandle(stream == kToOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == NULL || handle == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(handle, bytes, count, &written, NULL);
}

// Formats into a fixed buffer and writes it; a longer text is cut short.
void PrintList(OutputStream stream, const char* format, va_list arguments)
{
    char text[2048];
    int length = std::vsnprintf(text, sizeof text, format, arguments);
    if (length < 0) return;
    if (length >= static_cast<int>(sizeof text)) length = sizeof text - 1;
    WriteBytes(stream, text, static_cast<DWORD>(length));
}

// Windows gives a console 5 s to close; what a tool puts right must be done
// a little before that.
const DWORD kCloseHoldMs = 4500;

HANDLE consoleStop = NULL;
HANDLE stopPutRight = NULL;  // set once the tool has put things right
volatile LONG stopRequests = 0;

bool EndsTheProcess(DWORD event)
{
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI OnConsoleStop(DWORD event)
{
    const bool first = InterlockedIncrement(&stopRequests) == 1;
    if (!first && !EndsTheProcess(event)) return FALSE;
    SetEvent(consoleStop);
    // The system ends the process once this returns: the tool's loop needs
    // the time to put the lamps out first.
    if (EndsTheProcess(event)) WaitForSingleObject(stopPutRight, kCloseHoldMs);
    return TRUE;
}

}  // namespace

HANDLE CatchConsoleStop()
{
    // Made once and kept: a request under way may still use them after the
    // tool has let go.
    if (consoleStop == NULL) consoleStop = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (stopPutRight == NULL) stopPutRight = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (consoleStop == NULL || stopPutRight == NULL) return NULL;
    ResetEvent(consoleStop);
    ResetEvent(stopPutRight);
    stopRequests = 0;
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    return consoleStop;
}

void ReleaseConsoleStop()
{
    if (consoleStop == NULL) return;
    // First, since a held request may keep the handler list locked until
    // it returns.
    SetEvent(stopPutRight);
    SetConsoleCtrlHandler(OnConsoleStop, FALSE);
}

bool StartedByDoubleClick(int argc)
{
    DWORD processes[2];
    const DWORD count = GetConsoleProcessList(processes, 2);
    // Wine gives a console in a Unix terminal a message-only stand-in; the
    // window of Windows Terminal's console is there, but need not be visible.
    HWND window = GetConsoleWindow();
    return IsDoubleClickStart(argc, count, window != NULL && GetAncestor(window, GA_PARENT) == GetDesktopWindow());
}

void WaitForKeyBeforeClosing()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    // cppcheck-suppress unreachableCode ; its windows library has FlushConsoleInputBuffer never return
    WriteText(kToErr, "\nPress a key to close this window.\n");
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        // A console that can't be read can't be waited on either.
        if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) return;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        const WORD key = record.Event.KeyEvent.wVirtualKeyCode;
        if (key != VK_SHIFT && key != VK_CONTROL && key != VK_MENU) return;
    }
}

void WriteText(OutputStream stream, const char* text)
{
    WriteBytes(stream, text, static_cast<DWORD>(std::strlen(text)));
}

void Print(OutputStream stream, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    PrintList(stream, format, arguments);
    va_end(arguments);
}

int ErrorExit(int exitCode, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    PrintList(kToErr, format, arguments);
    va_end(arguments);
    return exitCode;
}
