#include "tools/common/tool_rules.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

void FormatLampLine(uint16_t value, char* out)
{
    out[0] = '>';
    out[1] = '5';
    out[2] = 'L';
    for (unsigned i = 0; i < 4; ++i) out[3 + i] = kHexDigits[(value >> (12 - 4 * i)) & 0xFu];
    out[7] = '\n';
}

bool ParseDecimal(const char* text, uint32_t low, uint32_t high, uint32_t* value)
{
    if (*text == '\0') return false;
    uint64_t number = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        number = number * 10 + static_cast<unsigned>(*text - '0');
        if (number > high) return false;
    }
    if (number < low) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

bool IsHelpArgument(const char* arg)
{
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-?") == 0 ||
           std::strcmp(arg, "/?") == 0;
}

bool Fail(char* error, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(error, kUsageErrorMax, format, arguments);
    va_end(arguments);
    return false;
}

bool IsDoubleClickStart(int argc, unsigned consoleProcesses, bool consoleHasWindow)
{
    return argc <= 1 && consoleProcesses == 1 && consoleHasWindow;
}

bool PathBeside(const char* program, const char* name, char* out, unsigned size)
{
    const char* folderEnd = std::strrchr(program, '\\');
    const char* slash = std::strrchr(program, '/');
    if (slash != nullptr && (folderEnd == nullptr || slash > folderEnd)) folderEnd = slash;
    if (folderEnd == nullptr) return false;
    const size_t folder = static_cast<size_t>(folderEnd - program) + 1;
    const size_t length = std::strlen(name);
    if (folder + length >= size) return false;
    std::memcpy(out, program, folder);
    std::memcpy(out + folder, name, length + 1);
    return true;
}
