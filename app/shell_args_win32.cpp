// The command line's shell helpers on Windows: shlwapi's own, whose rules
// the program's arguments follow.
#include "app/command_line.h"

#include <windows.h>
#include <shlwapi.h>

char* SkipToNextArgument(char* text)
{
    return PathGetArgsA(text);
}

void UnquoteArgument(char* token)
{
    PathUnquoteSpacesA(token);
}
