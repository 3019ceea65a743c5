#pragma once

#include <windows.h>

// Writing into tolvaren's pipe as the media player's plug-in does, shared by
// the tools that stand in for it.

enum LampPipeOpening {
    kLampPipeOpen,
    kLampPipeMissing,  // no pipe: tolvaren is not running
    kLampPipeBusy,     // another writer is connected to it
    kLampPipeFailed,   // another error, in *error
};

// Opens the pipe for writing, once; does not wait for it.
LampPipeOpening OpenLampPipe(HANDLE* pipe, DWORD* error);

// Writes the bytes of one line in one write, then waits until tolvaren has
// read them: it takes only the first line of each read, so the next line
// may go only then. False, with the error, when tolvaren went away.
bool WriteLampPipeLine(HANDLE pipe, const char* bytes, unsigned length, DWORD* error);
