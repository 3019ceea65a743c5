#pragma once

#include <windows.h>

ATOM RegisterMainWindowClass(HINSTANCE instance);

// Creates the main window, titled with titleBuffer. Its creation handler
// records it as mainWindow and starts the pipe listener before this returns.
HWND CreateMainWindow(HINSTANCE instance);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Draws the whole panel from a copy of the lamp state.
void PaintLampPanel(HDC dc);
