#pragma once

#include <windows.h>

#include "tools/common/error_text_win32.h"

// The console side of the tools beside tolvaren.

// Text for the user: results on standard output, problems and progress on
// standard error, so that a script can keep the two apart.
enum OutputStream { kToOut, kToErr };

void WriteText(OutputStream stream, const char* text);

// Formats into a fixed buffer and writes it; a longer text is cut short.
void Print(OutputStream stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

// Says on standard error what went wrong and what to do, and gives back
// the exit code to end with, so that a tool can "return ErrorExit(...)".
int ErrorExit(int exitCode, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

// Ctrl-C, Ctrl-Break or the console closing: the first sets the event that
// CatchConsoleStop returns (manual reset), so that a tool's loop ends well
// and puts things right; a second ends the program the usual way, should a
// write be stuck behind a tolvaren that no longer reads. NULL when no event
// can be had: then Ctrl-C ends the program at once, as it always would.
//
// Windows ends a process as soon as its handler returns from the console
// window's closing (or logging off, or shutting down), and 5 s after it
// came at the latest: those are held until ReleaseConsoleStop says that
// the tool has put things right, for a little less than that.
HANDLE CatchConsoleStop();
// Says that the tool has put things right and hands Ctrl-C back to the
// system.
void ReleaseConsoleStop();

// Whether the tool was double-clicked rather than started from a command
// prompt (IsDoubleClickStart), judged from its console.
bool StartedByDoubleClick(int argc);

// A double-clicked tool's window closes the moment the tool ends: this
// keeps what it says on screen until a key is pressed. Keys pressed
// earlier don't count, nor do Shift, Ctrl and Alt alone.
void WaitForKeyBeforeClosing();
