#pragma once

// tolvaren-vis's writing into tolvaren's pipe: opened when tolvaren is
// there, tried again every second while it isn't, which is said once; a
// double-clicked tolvaren-vis starts the tolvaren beside it.

#include <windows.h>

#include <cstdint>

#include "tools/tolvaren-vis/vis_pipe_client.h"

struct LampPipe {
    HANDLE handle;  // INVALID_HANDLE_VALUE while not connected
    VisPipeClient client;
};

void StartLampPipe(LampPipe* pipe);
// Opens the pipe at once, or when it is time to try again; true when it
// is open. A tolvaren that comes gets the latest line at once.
bool ConnectToTolvaren(LampPipe* pipe, uint64_t nowMs, bool atOnce);
// Writes the line, or keeps it for a tolvaren that comes later.
void SendToTolvaren(LampPipe* pipe, const VisLine& line, uint64_t nowMs);
// Opens the pipe, or when tolvaren is not running starts the one beside
// this program, if it is there, and leaves the pipe to the usual retries.
void ConnectOrStartTolvaren(LampPipe* pipe, uint64_t nowMs);
bool IsConnected(const LampPipe* pipe);
void CloseLampPipe(LampPipe* pipe);
