#pragma once

// Standard input as a pipe: a thread of its own reads it as it comes (this
// Wine can't peek into it), into a ring that the main thread empties.

#include <windows.h>

#include <cstdint>

#include "tools/tolvaren-vis/vis_engine.h"

// Starts the reader on input. keepAll (--print) makes it wait for room in
// the ring rather than drop the oldest. False, with the error, when it
// can't start.
bool StartStdinReader(HANDLE input, bool keepAll, DWORD* error);

// Set after each read: bytes came, or the input ended.
HANDLE StdinArrived();

// Throws away what the live rule says of all that waits; true when a loss
// is to be told, by this or by the ring's having filled up. A reader that
// keeps all loses nothing.
bool DropStdinBacklog(VisLiveGuard* guard);

struct StdinTaken {
    uint32_t count;
    bool ended;   // all is taken, and the input ended
    DWORD error;  // why the reading ended, when not by the writer's end (else ERROR_SUCCESS)
};

// Takes the oldest bytes that wait, up to size, into out.
StdinTaken TakeStdin(uint8_t* out, uint32_t size);
