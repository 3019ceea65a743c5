#include "app/main_window_win32.h"

#include "app/app_state_win32.h"
#include "app/panel_layout.h"
#include "lamps/lamp_control.h"
#include "pipe/pipe_listener_win32.h"
#include "res/resource.h"
#include "version.h"

namespace {

const char kClassName[] = "PipeWClass";

const char kAboutText[] =
    "Simple Tolvaren V" TOLVAREN_VERSION_SHORT " for the Glimmerix plugin.\n"
    "Reading winamp data from the pipe:\n"
    "\\\\.\\pipe\\korvinde\n"
    "\n"
    "Startup parameter:\n"
    "-vXXXX -pXXXX\n"
    "e.g. -v16c0 -p05DF for default VID + PID\n"
    "\n"
    "(c) 2026 Tolvaren Lampworks";

void ShowAboutBox()
{
    MessageBoxA(NULL, kAboutText, "Pipe Server Glimmerix", MB_ICONINFORMATION);
}

void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PaintLampPanel(dc);
    EndPaint(window, &paint);
}

}  // namespace

ATOM RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "npserver");
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = brushOff;
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = kClassName;
    return RegisterClassA(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance)
{
    return CreateWindowExA(0, kClassName, titleBuffer, WS_OVERLAPPEDWINDOW,
                           MainWindowLeft(GetSystemMetrics(SM_CXFULLSCREEN)),
                           MainWindowTop(GetSystemMetrics(SM_CYFULLSCREEN)), kMainWindowWidth,
                           kMainWindowHeight, NULL, NULL, instance, NULL);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        mainWindow = window;
        StartPipeListener(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_SYSCOMMAND:
        if (wParam == IDM_ABOUT) ShowAboutBox();
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PaintLampPanel(HDC dc)
{
    const LampState state = TakeLampSnapshot();

    SetTextColor(dc, RGB(128, 128, 128));
    SetBkColor(dc, RGB(0, 0, 0));
    TextOutA(dc, 0, 0, state.text, lstrlenA(state.text));

    SelectObject(dc, penOutline);
    for (int column = 0; column < kLampColumns; ++column) {
        const uint8_t rows[2] = {state.lampsLow, state.lampsHigh};
        for (int row = 0; row < 2; ++row) {
            SelectObject(dc, LampLit(rows[row], column) ? brushOn : brushOff);
            const LampBox box = LampBoxAt(row, column);
            Ellipse(dc, box.left, box.top, box.right, box.bottom);
        }
    }
}
