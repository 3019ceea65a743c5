// The command line's shell helpers where there is no shlwapi (the native
// tests and the fuzzer): PathGetArgsA's and PathUnquoteSpacesA's rules.
#include "app/command_line.h"

#include <cstring>

char* SkipToNextArgument(char* text)
{
    bool inQuotes = false;
    for (; *text != '\0'; ++text) {
        if (*text == ' ' && !inQuotes) return text + 1;
        if (*text == '"') inQuotes = !inQuotes;
    }
    return text;
}

void UnquoteArgument(char* token)
{
    if (token[0] != '"') return;
    const size_t last = std::strlen(token) - 1;
    if (token[last] != '"') return;
    token[last] = '\0';
    std::memmove(token, token + 1, last);
}
