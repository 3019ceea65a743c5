#include "tools/common/error_text_win32.h"

#include <cstdio>

const char kNoErrorText[] = "no description";

const char* ErrorText(DWORD code, char* buffer, DWORD size)
{
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0,
                                  buffer, size, NULL);
    if (length == 0) {
        std::snprintf(buffer, size, "%s", kNoErrorText);
        return buffer;
    }
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ' || buffer[length - 1] == '.'))
        --length;
    buffer[length] = '\0';
    return buffer;
}
