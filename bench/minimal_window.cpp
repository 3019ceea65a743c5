// The least a window program does: register a class, create and show a
// window of tolvaren's outer size, run the message loop. The benchmark
// starts it as it starts tolvaren, so that Wine's own share of the start-up
// time and of the idle CPU time can be told apart from the program's.
#include <windows.h>

#include "bench_programs.h"

namespace {

LRESULT CALLBACK MinimalWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MinimalWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kMinimalWindowClass;
    if (RegisterClassA(&windowClass) == 0) return 1;

    HWND window = CreateWindowExA(0, kMinimalWindowClass, "Minimal window", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 266, 113, NULL, NULL, instance, NULL);
    if (window == NULL) return 1;
    ShowWindow(window, showCommand);

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}
