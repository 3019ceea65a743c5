#pragma once

#include <windows.h>

// Program-wide state of the shell, alive as long as the process.
extern HINSTANCE instanceHandle;
extern HWND mainWindow;       // set once by the window's creation handler
extern char titleBuffer[256];
extern HBRUSH brushOff;
extern HBRUSH brushOn;
extern HPEN penOutline;
