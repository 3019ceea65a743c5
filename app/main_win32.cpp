// Start-up, message loop and shutdown of the program.
#include <windows.h>

#include <cstdio>

#include "app/app_state_win32.h"
#include "app/command_line.h"
#include "app/main_window_win32.h"
#include "hid/hid_finder_win32.h"
#include "lamps/lamp_control.h"
#include "res/resource.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record is 148 bytes");

HINSTANCE instanceHandle = NULL;
HWND mainWindow = NULL;
char titleBuffer[256];
HBRUSH brushOff = NULL;
HBRUSH brushOn = NULL;
HPEN penOutline = NULL;

namespace {

bool PlatformIsNt()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void CreateDrawingObjects()
{
    brushOff = CreateSolidBrush(0x00000000);
    brushOn = CreateSolidBrush(0x0000FFFF);
    penOutline = CreatePen(PS_SOLID, 1, 0x00808080);
}

void DeleteDrawingObjects()
{
    DeleteObject(brushOff);
    DeleteObject(brushOn);
    DeleteObject(penOutline);
}

// Captioned "Tolvaren Glimmerix", where the platform and About boxes say
// "Pipe Server Glimmerix": the two captions are the program's contract.
void ReportMissingDevice(char* text, size_t size, const DeviceSelector& selector)
{
    _snprintf(text, size, "no HID found with VID=%X, PID=%X",
              static_cast<unsigned>(selector.vendorId), static_cast<unsigned>(selector.productId));
    text[size - 1] = '\0';
    MessageBoxA(NULL, text, "Tolvaren Glimmerix", MB_ICONHAND);
}

void AddAboutToSystemMenu(HWND window)
{
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == NULL) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, NULL);
    AppendMenuA(menu, MF_STRING | MF_BYPOSITION, IDM_ABOUT, "About");
}

// No TranslateMessage and no accelerators: the window takes no typed
// text, and the loop's two calls are the program's contract.
int RunMessageLoop()
{
    MSG message;
    for (;;) {
        const BOOL result = GetMessageA(&message, NULL, 0, 0);
        if (result == 0) return static_cast<int>(message.wParam);
        // -1 only comes with a broken message record; better to end than spin.
        if (result == -1) return 0;
        DispatchMessageA(&message);
    }
}

// A lamp that no longer answers keeps its report, and the handle it is sent
// on, until the process ends; the program still ends within the wait.
void CloseLampDevice()
{
    HANDLE device = static_cast<HANDLE>(TakeLampDevice(kLampShutdownWaitMs));
    if (device != NULL) CloseHandle(device);
}

}  // namespace

// The order of these steps is the program's contract: the device is looked
// for (and its box shown) before the title is made and the window opens.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    if (!PlatformIsNt()) {
        // 255 of titleBuffer's 256 bytes, as the program has always loaded it.
        LoadStringA(instance, IDS_NEED_NT, titleBuffer, 255);
        MessageBoxA(NULL, titleBuffer, "Pipe Server Glimmerix", MB_ICONHAND);
        return 0;
    }

    CreateDrawingObjects();
    instanceHandle = instance;
    InitLampLock();
    RegisterMainWindowClass(instance);

    DeviceSelector selector = DefaultDeviceSelector();
    selector.checkStrings = 0;
    ReadCommandLine(GetCommandLineA(), &selector.vendorId, &selector.productId);

    char startupText[200];
    HANDLE device = FindHidDevice(0, 0, selector);
    if (device == NULL) ReportMissingDevice(startupText, sizeof startupText, selector);
    SetLampDevice(device);

    LoadStringA(instance, IDS_TITLE_FORMAT, startupText, sizeof startupText);
    wsprintfA(titleBuffer, startupText, static_cast<unsigned>(selector.vendorId),
              static_cast<unsigned>(selector.productId));

    int exitCode = 0;
    // Without a window there is nothing to show and nothing that could ever
    // end the message loop, so the program tidies up and leaves.
    HWND window = CreateMainWindow(instance);
    if (window != NULL) {
        AddAboutToSystemMenu(window);
        ShowWindow(window, showCommand);
        exitCode = RunMessageLoop();
    }

    DeleteDrawingObjects();
    CloseLampDevice();
    return exitCode;
}
