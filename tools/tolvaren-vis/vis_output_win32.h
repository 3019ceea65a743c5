#pragma once

// Where tolvaren-vis's lamp lines go: to standard output for --print, as
// they come, or into tolvaren's pipe when they are due; and the Ctrl-C
// that ends the waiting for them.

#include <windows.h>

#include <cstdint>

#include "tools/tolvaren-vis/vis_args.h"
#include "tools/tolvaren-vis/vis_engine.h"
#include "tools/tolvaren-vis/vis_pipe_client_win32.h"
#include "tools/tolvaren-vis/vis_schedule.h"

struct LineOutput {
    bool print;
    bool doubleClicked;  // said for a person, and tolvaren started when missing
    HANDLE stop;         // set by Ctrl-C
    VisSchedule schedule;
    LampPipe pipe;
};

// Milliseconds from an arbitrary start, to the millisecond: the clock that
// times the lines and a capture's silence.
uint64_t NowMs();

void StartLineOutput(LineOutput* out, const VisCommand& command, bool doubleClicked, HANDLE stop);
bool StopRequested(const LineOutput* out);

// The pipe is looked for at once, so that a missing tolvaren is said before
// the lamps have anything to show. A double-click looks once it knows what
// it follows (BringUpTolvaren), and starts tolvaren if need be.
void LookForTolvaren(LineOutput* out);
void BringUpTolvaren(LineOutput* out);

// The engine's sink: context is the LineOutput.
void OnLine(void* context, const VisLine& line);

// Writes the lines that are due; gives how long until the next one (at most
// waitMs).
DWORD SendDueLines(LineOutput* out, DWORD waitMs);
// Writes the lines that are due and waits until the next one, at most
// waitMs; true when Ctrl-C came.
bool WaitForLinesOrStop(LineOutput* out, DWORD waitMs);

// The end, once FinishVis has handed over the line that puts the lamps out:
// that line goes at once (Ctrl-C, or a live input's end) or at the end of
// the audio (a file's lines wait for their time).
void FinishOutput(LineOutput* out, bool atOnce);
