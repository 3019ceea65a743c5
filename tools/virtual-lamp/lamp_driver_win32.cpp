// The virtual lamp's driver in a prefix: its files where setupapi takes
// them from, and its installation on one lamp.
#include <cstdio>
#include <cstring>

#include "tools/virtual-lamp/lamp_setup_parts_win32.h"

namespace {

bool SameContents(const WCHAR* first, const WCHAR* second)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE a = CreateFileW(first, GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE b = CreateFileW(second, GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
    bool same = a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE;
    while (same) {
        char left[4096], right[4096];
        DWORD leftCount = 0, rightCount = 0;
        if (!ReadFile(a, left, sizeof left, &leftCount, NULL) || !ReadFile(b, right, sizeof right, &rightCount, NULL) ||
            leftCount != rightCount || memcmp(left, right, leftCount) != 0)
            same = false;
        else if (leftCount == 0)
            break;
    }
    if (a != INVALID_HANDLE_VALUE) CloseHandle(a);
    if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
    return same;
}

// Where adding a lamp takes the driver and its INF from.
void InstalledPaths(WCHAR* driver, WCHAR* inf)
{
    WCHAR directory[MAX_PATH] = L"";
    GetSystemDirectoryW(directory, MAX_PATH);
    _snwprintf(driver, MAX_PATH, L"%ls\\drivers\\%ls", directory, VLAMP_DRIVER_FILE);
    driver[MAX_PATH - 1] = L'\0';
    GetWindowsDirectoryW(directory, MAX_PATH);
    _snwprintf(inf, MAX_PATH, L"%ls\\inf\\%ls", directory, VLAMP_INF_FILE);
    inf[MAX_PATH - 1] = L'\0';
}

bool InstallFile(const WCHAR* source, const WCHAR* target, bool* replaced, LampProblem* problem)
{
    if (FileExists(target) && SameContents(source, target)) return true;
    if (FileExists(target)) {
        // Wine keeps a driver it has loaded mapped until the prefix stops,
        // so the old file may have to be moved aside rather than deleted.
        WCHAR aside[MAX_PATH + 8];
        _snwprintf(aside, MAX_PATH + 8, L"%ls.old", target);
        aside[MAX_PATH + 7] = L'\0';
        if (!DeleteFileW(target)) {
            DeleteFileW(aside);
            if (!MoveFileExW(target, aside, MOVEFILE_REPLACE_EXISTING))
                return RecordProblem(problem, kLampRefused, GetLastError(),
                                     L"could not replace %ls, which differs from the driver built; stop the "
                                     L"prefix (wineserver -k) and run \"virtual-lamp.exe install-driver\" again",
                                     target);
        }
        *replaced = true;
    }
    if (!CopyFileW(source, target, FALSE))
        return RecordProblem(problem, kLampRefused, GetLastError(), L"could not copy %ls to %ls", source, target);
    return true;
}

}  // namespace

bool FileExists(const WCHAR* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool LampDriverInstalled()
{
    WCHAR driver[MAX_PATH], inf[MAX_PATH];
    InstalledPaths(driver, inf);
    return FileExists(driver) && FileExists(inf);
}

bool InstallLampDriver(const WCHAR* sourceDirectory, bool* replaced, LampProblem* problem)
{
    WCHAR sourceDriver[MAX_PATH], sourceInf[MAX_PATH], driver[MAX_PATH], inf[MAX_PATH];
    _snwprintf(sourceDriver, MAX_PATH, L"%ls\\%ls", sourceDirectory, VLAMP_DRIVER_FILE);
    _snwprintf(sourceInf, MAX_PATH, L"%ls\\%ls", sourceDirectory, VLAMP_INF_FILE);
    sourceDriver[MAX_PATH - 1] = sourceInf[MAX_PATH - 1] = L'\0';
    *replaced = false;
    if (!FileExists(sourceDriver) || !FileExists(sourceInf))
        return RecordProblem(problem, kLampNoDriver, 0,
                             L"%ls lacks %ls or %ls; build the windows-x64 preset (cmake --build --preset "
                             L"windows-x64), which puts them beside virtual-lamp.exe",
                             sourceDirectory, VLAMP_DRIVER_FILE, VLAMP_INF_FILE);
    InstalledPaths(driver, inf);
    return InstallFile(sourceDriver, driver, replaced, problem) && InstallFile(sourceInf, inf, replaced, problem);
}

// As newdev's UpdateDriverForPlugAndPlayDevices would give it to every
// device of the hardware id, but the lamps already there are left as they
// are.
bool InstallDriverOn(HDEVINFO set, SP_DEVINFO_DATA* device, LampProblem* problem)
{
    WCHAR driver[MAX_PATH], inf[MAX_PATH];
    InstalledPaths(driver, inf);
    SP_DEVINSTALL_PARAMS_W params;
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsW(set, device, &params))
        return RecordProblem(problem, kLampRefused, GetLastError(),
                             L"setupapi gave no install parameters for the lamp");
    params.Flags |= DI_ENUMSINGLEINF;
    _snwprintf(params.DriverPath, MAX_PATH, L"%ls", inf);
    params.DriverPath[MAX_PATH - 1] = L'\0';
    if (!SetupDiSetDeviceInstallParamsW(set, device, &params))
        return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi took no INF path for the lamp");
    if (!SetupDiBuildDriverInfoList(set, device, SPDIT_COMPATDRIVER) ||
        !SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, device))
        return RecordProblem(problem, kLampNoDriver, GetLastError(),
                             L"setupapi found no driver for the lamp in %ls; run \"virtual-lamp.exe "
                             L"install-driver\" again",
                             inf);
    if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, device))
        return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not install the lamp's driver");
    return true;
}
