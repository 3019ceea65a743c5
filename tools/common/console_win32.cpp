#include "tools/common/console_win32.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

void WriteBytes(OutputStream stream, const char* bytes, DWORD count)
{
    HANDLE handle = GetStdHandle(stream == kToOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == NULL || handle == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(handle, bytes, count, &written, NULL);
}

}  // namespace

const char kNoErrorText[] = "no description";

namespace {

HANDLE consoleStop = NULL;
volatile LONG stopRequests = 0;

BOOL WINAPI OnConsoleStop(DWORD)
{
    if (InterlockedIncrement(&stopRequests) > 1) return FALSE;
    SetEvent(consoleStop);
    return TRUE;
}

}  // namespace

HANDLE CatchConsoleStop()
{
    stopRequests = 0;
    consoleStop = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (consoleStop != NULL) SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    return consoleStop;
}

void ReleaseConsoleStop()
{
    if (consoleStop == NULL) return;
    SetConsoleCtrlHandler(OnConsoleStop, FALSE);
    CloseHandle(consoleStop);
    consoleStop = NULL;
}

void WriteText(OutputStream stream, const char* text)
{
    WriteBytes(stream, text, static_cast<DWORD>(std::strlen(text)));
}

void Print(OutputStream stream, const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if (length >= static_cast<int>(sizeof text)) length = sizeof text - 1;
    WriteBytes(stream, text, static_cast<DWORD>(length));
}

const char* ErrorText(DWORD code, char* buffer, DWORD size)
{
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0,
                                  buffer, size, NULL);
    if (length == 0) {
        std::snprintf(buffer, size, "%s", kNoErrorText);
        return buffer;
    }
    // The system's texts end in a full stop and a line end, which would sit
    // oddly inside a sentence.
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ' || buffer[length - 1] == '.'))
        --length;
    buffer[length] = '\0';
    return buffer;
}
