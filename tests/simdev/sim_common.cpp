#include "sim_common.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

bool SimDirectory(char* path, DWORD size)
{
    DWORD length = GetEnvironmentVariableA("TOLVAREN_SIMDEV", path, size);
    if (length == 0 || length + 2 > size) return false;
    if (path[length - 1] != '\\') {
        path[length] = '\\';
        path[length + 1] = '\0';
    }
    return true;
}

void SimLog(const char* line)
{
    char path[MAX_PATH];
    if (!SimDirectory(path, sizeof path - 16)) return;
    strcat(path, "events.log");
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    char buffer[512];
    int length = _snprintf(buffer, sizeof buffer - 1, "%s\r\n", line);
    if (length < 0) length = sizeof buffer - 1;
    DWORD written = 0;
    WriteFile(file, buffer, static_cast<DWORD>(length), &written, NULL);
    CloseHandle(file);
}

bool SimReadFile(const char* path, char* text, DWORD size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD count = 0;
    BOOL ok = ReadFile(file, text, size - 1, &count, NULL);
    CloseHandle(file);
    text[ok ? count : 0] = '\0';
    return ok != FALSE;
}

namespace {

// Reads from offset 0 whether or not the handle was opened for overlapped use.
bool ReadFromStart(HANDLE device, char* text, DWORD size)
{
    OVERLAPPED at = {};
    at.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD count = 0;
    BOOL ok = ReadFile(device, text, size - 1, &count, &at);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(device, &at, &count, TRUE);
    CloseHandle(at.hEvent);
    text[ok ? count : 0] = '\0';
    return ok != FALSE;
}

void CopyValue(char* target, size_t size, const char* value)
{
    size_t length = strcspn(value, "\r\n");
    if (length >= size) length = size - 1;
    memcpy(target, value, length);
    target[length] = '\0';
}

}  // namespace

bool SimReadDevice(HANDLE device, SimDevice* out)
{
    char text[2048];
    if (!ReadFromStart(device, text, sizeof text)) return false;
    memset(out, 0, sizeof *out);
    bool described = false;
    for (char* line = text; *line != '\0';) {
        char* end = line + strcspn(line, "\r\n");
        const char* value = strchr(line, '=');
        if (value != NULL && value < end) {
            ++value;
            if (strncmp(line, "vid=", 4) == 0) { out->vendorId = strtoul(value, NULL, 16); described = true; }
            else if (strncmp(line, "pid=", 4) == 0) out->productId = strtoul(value, NULL, 16);
            else if (strncmp(line, "manufacturer=", 13) == 0) CopyValue(out->manufacturer, sizeof out->manufacturer, value);
            else if (strncmp(line, "product=", 8) == 0) CopyValue(out->product, sizeof out->product, value);
            else if (strncmp(line, "serial=", 7) == 0) CopyValue(out->serial, sizeof out->serial, value);
            else if (strncmp(line, "attributes=fail", 15) == 0) out->attributesFail = true;
            else if (strncmp(line, "strings=fail", 12) == 0) out->stringsFail = true;
            else if (strncmp(line, "strings=unterminated", 20) == 0) out->stringsUnterminated = true;
            else if (strncmp(line, "reports=fail", 12) == 0) out->reportsFail = true;
            else if (strncmp(line, "delay=", 6) == 0) out->delayMs = strtoul(value, NULL, 10);
        }
        line = end;
        while (*line == '\r' || *line == '\n') ++line;
    }
    return described;
}
