#pragma once

#include <windows.h>

// Serves "\\.\pipe\korvinde", one writer at a time, for as long as the
// process runs. owner is the main window, which owns the error box.
DWORD WINAPI PipeListener(LPVOID owner);

// Starts PipeListener on a thread of its own; nothing waits for it.
void StartPipeListener(HWND owner);
