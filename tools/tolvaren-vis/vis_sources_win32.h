#pragma once

// Where tolvaren-vis's samples come from: a WAV file, standard input (a file
// or a pipe) or live capture. Each shows its input on the lamps through the
// output until the input ends, fails or Ctrl-C comes, and gives the exit
// code.

#include <windows.h>

#include "tools/tolvaren-vis/vis_args.h"
#include "tools/tolvaren-vis/vis_engine.h"
#include "tools/tolvaren-vis/vis_output_win32.h"

int ShowWavFile(const VisCommand& command, VisEngine* engine, LineOutput* out);
int ShowStandardInput(const VisCommand& command, VisEngine* engine, LineOutput* out);
int ShowCapture(VisCommand command, VisEngine* engine, LineOutput* out);

// Says that what could not be read, and why; gives the exit code for it.
int ReadFailed(const char* what, DWORD code);
