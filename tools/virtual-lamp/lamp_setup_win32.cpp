#include "tools/virtual-lamp/lamp_setup_win32.h"

#include <setupapi.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "lamps/lamp_identity.h"

namespace {

const GUID kHidInterface = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID kNoClass = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// A REG_MULTI_SZ: the literal's own NUL ends the list.
const WCHAR kHardwareIds[] = VLAMP_HARDWARE_ID L"\0";
// hidclass names a lamp's HID device after its root device:
// ROOT\TOLVAREN_VLAMP\0003 becomes HID\TOLVAREN_VLAMP\0003.
const WCHAR kHidInstancePrefix[] = L"HID\\TOLVAREN_VLAMP\\";
// Where the next lamp's number is kept, so that a number is not given again
// soon after its lamp went.
const WCHAR kCounterKey[] = L"Software\\Tolvaren\\VirtualLamp";
const WCHAR kCounterValue[] = L"NextNumber";
const DWORD kPollMs = 10;
const int kMaxLamps = 256;

bool Fail(LampProblem* problem, LampOutcome outcome, DWORD error, const WCHAR* format, ...)
{
    const size_t size = sizeof problem->text / sizeof problem->text[0];
    va_list arguments;
    va_start(arguments, format);
    _vsnwprintf(problem->text, size, format, arguments);
    va_end(arguments);
    problem->text[size - 1] = L'\0';
    problem->outcome = outcome;
    problem->error = error;
    if (error != 0) {
        WCHAR reason[256] = L"";
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, reason,
                       sizeof reason / sizeof reason[0], NULL);
        size_t end = wcslen(reason);
        while (end > 0 && (reason[end - 1] == L'\r' || reason[end - 1] == L'\n' || reason[end - 1] == L'.'))
            reason[--end] = L'\0';
        const size_t used = wcslen(problem->text);
        _snwprintf(problem->text + used, size - used, L" (error %lu: %ls)", error,
                   reason[0] != L'\0' ? reason : L"no description");
        problem->text[size - 1] = L'\0';
    }
    return false;
}

bool FileExists(const WCHAR* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

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
                return Fail(problem, kLampRefused, GetLastError(),
                            L"could not replace %ls, which differs from the driver built; stop the prefix "
                            L"(wineserver -k) and run \"virtual-lamp.exe install-driver\" again",
                            target);
        }
        *replaced = true;
    }
    if (!CopyFileW(source, target, FALSE))
        return Fail(problem, kLampRefused, GetLastError(), L"could not copy %ls to %ls", source, target);
    return true;
}

// ROOT\TOLVAREN_VLAMP\N, any case.
bool IsLampId(const WCHAR* id)
{
    const size_t length = wcslen(VLAMP_INSTANCE_PREFIX);
    return _wcsnicmp(id, VLAMP_INSTANCE_PREFIX, length) == 0 && id[length] != L'\0' &&
           wcschr(id + length, L'\\') == NULL;
}

DWORD NextLampNumber()
{
    HKEY key;
    DWORD number = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCounterKey, 0, NULL, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return GetTickCount() % 10000;
    DWORD type = 0, size = sizeof number;
    if (RegQueryValueExW(key, kCounterValue, NULL, &type, reinterpret_cast<BYTE*>(&number), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        number = 0;
    const DWORD next = number + 1;
    RegSetValueExW(key, kCounterValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&next), sizeof next);
    RegCloseKey(key);
    return number;
}

bool SetNumber(HKEY key, const WCHAR* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

bool SetText(HKEY key, const WCHAR* name, const WCHAR* text)
{
    const DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

DWORD GetNumber(HKEY key, const WCHAR* name, DWORD fallback)
{
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return fallback;
    return value;
}

// Leaves text as it is when there is no such text value.
void GetText(HKEY key, const WCHAR* name, WCHAR* text, DWORD chars)
{
    WCHAR value[MAX_PATH];
    DWORD type = 0, size = sizeof value - sizeof(WCHAR);
    if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    value[size / sizeof(WCHAR)] = L'\0';
    _snwprintf(text, chars, L"%ls", value);
    text[chars - 1] = L'\0';
}

bool WriteDescription(HKEY key, const LampDescription& lamp, const WCHAR* serial)
{
    bool ok = SetNumber(key, VLAMP_VALUE_VENDOR_ID, lamp.vendorId) &&
              SetNumber(key, VLAMP_VALUE_PRODUCT_ID, lamp.productId) &&
              SetNumber(key, VLAMP_VALUE_VERSION, lamp.version) &&
              SetNumber(key, VLAMP_VALUE_DELAY_MS, lamp.delayMs) &&
              SetNumber(key, VLAMP_VALUE_FAIL_REPORTS, lamp.failReports ? 1 : 0) &&
              SetText(key, VLAMP_VALUE_MANUFACTURER, lamp.manufacturer) &&
              SetText(key, VLAMP_VALUE_PRODUCT, lamp.product) && SetText(key, VLAMP_VALUE_SERIAL, serial);
    if (ok && lamp.logPath[0] != L'\0') ok = SetText(key, VLAMP_VALUE_LOG_FILE, lamp.logPath);
    return ok;
}

void ReadDescription(HKEY key, LampDescription* lamp)
{
    DefaultLampDescription(lamp);
    lamp->vendorId = static_cast<USHORT>(GetNumber(key, VLAMP_VALUE_VENDOR_ID, lamp->vendorId));
    lamp->productId = static_cast<USHORT>(GetNumber(key, VLAMP_VALUE_PRODUCT_ID, lamp->productId));
    lamp->version = static_cast<USHORT>(GetNumber(key, VLAMP_VALUE_VERSION, lamp->version));
    lamp->delayMs = GetNumber(key, VLAMP_VALUE_DELAY_MS, 0);
    lamp->failReports = GetNumber(key, VLAMP_VALUE_FAIL_REPORTS, 0) != 0;
    GetText(key, VLAMP_VALUE_MANUFACTURER, lamp->manufacturer, VLAMP_MAX_STRING + 1);
    GetText(key, VLAMP_VALUE_PRODUCT, lamp->product, VLAMP_MAX_STRING + 1);
    GetText(key, VLAMP_VALUE_SERIAL, lamp->serial, VLAMP_MAX_STRING + 1);
    GetText(key, VLAMP_VALUE_LOG_FILE, lamp->logPath, MAX_PATH);
}

// Gives the driver of the INF in %SystemRoot%\inf to this one device, as
// newdev's UpdateDriverForPlugAndPlayDevices would give it to every device
// of the hardware id: the lamps already there are left as they are.
bool InstallDriverOn(HDEVINFO set, SP_DEVINFO_DATA* device, LampProblem* problem)
{
    WCHAR driver[MAX_PATH], inf[MAX_PATH];
    InstalledPaths(driver, inf);
    SP_DEVINSTALL_PARAMS_W params;
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsW(set, device, &params))
        return Fail(problem, kLampRefused, GetLastError(), L"setupapi gave no install parameters for the lamp");
    params.Flags |= DI_ENUMSINGLEINF;
    _snwprintf(params.DriverPath, MAX_PATH, L"%ls", inf);
    params.DriverPath[MAX_PATH - 1] = L'\0';
    if (!SetupDiSetDeviceInstallParamsW(set, device, &params))
        return Fail(problem, kLampRefused, GetLastError(), L"setupapi took no INF path for the lamp");
    if (!SetupDiBuildDriverInfoList(set, device, SPDIT_COMPATDRIVER) ||
        !SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, device))
        return Fail(problem, kLampNoDriver, GetLastError(),
                    L"setupapi found no driver for the lamp in %ls; run \"virtual-lamp.exe install-driver\" again",
                    inf);
    if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, device))
        return Fail(problem, kLampRefused, GetLastError(), L"setupapi could not install the lamp's driver");
    return true;
}

bool OpenLamp(HDEVINFO set, const WCHAR* id, SP_DEVINFO_DATA* device, LampProblem* problem)
{
    device->cbSize = sizeof *device;
    if (IsLampId(id) && SetupDiOpenDeviceInfoW(set, id, NULL, 0, device)) return true;
    return Fail(problem, kLampNoSuchLamp, 0,
                L"there is no virtual lamp %ls in this prefix; \"virtual-lamp.exe list\" shows the lamps there "
                L"are",
                id);
}

// The instance ids of the lamps installed, at most kMaxLamps.
int ListLampIds(WCHAR (*ids)[kLampIdChars], LampProblem* problem)
{
    HDEVINFO set = SetupDiGetClassDevsW(NULL, L"ROOT", NULL, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        Fail(problem, kLampRefused, GetLastError(), L"setupapi could not list the root devices");
        return -1;
    }
    int count = 0;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; count < kMaxLamps && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        WCHAR id[kLampIdChars];
        if (SetupDiGetDeviceInstanceIdW(set, &device, id, kLampIdChars, NULL) && IsLampId(id))
            wcscpy(ids[count++], id);
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

bool WaitForLampGone(const WCHAR* id, DWORD waitMs)
{
    WCHAR path[kLampPathChars];
    const DWORD start = GetTickCount();
    while (FindLampPath(id, path)) {
        if (GetTickCount() - start >= waitMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

}  // namespace

void DefaultLampDescription(LampDescription* lamp)
{
    ZeroMemory(lamp, sizeof *lamp);
    lamp->vendorId = LAMP_VENDOR_ID;
    lamp->productId = LAMP_PRODUCT_ID;
    lamp->version = 0x0100;
    wcscpy(lamp->manufacturer, LAMP_WIDE(LAMP_MANUFACTURER));
    wcscpy(lamp->product, LAMP_WIDE(LAMP_PRODUCT));
}

void DescribeLamp(unsigned vendorId, unsigned productId, const char* manufacturer, const char* product,
                  const char* serial, DWORD delayMs, bool failReports, LampDescription* lamp)
{
    DefaultLampDescription(lamp);
    lamp->vendorId = static_cast<USHORT>(vendorId);
    lamp->productId = static_cast<USHORT>(productId);
    const struct {
        const char* text;
        WCHAR* out;
    } strings[] = {{manufacturer, lamp->manufacturer}, {product, lamp->product}, {serial, lamp->serial}};
    for (const auto& string : strings) {
        if (MultiByteToWideChar(CP_UTF8, 0, string.text, -1, string.out, VLAMP_MAX_STRING + 1) == 0)
            string.out[VLAMP_MAX_STRING] = L'\0';
    }
    lamp->delayMs = delayMs;
    lamp->failReports = failReports;
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
        return Fail(problem, kLampNoDriver, 0,
                    L"%ls lacks %ls or %ls; build the windows-x64 preset (cmake --build --preset windows-x64), "
                    L"which puts them beside virtual-lamp.exe",
                    sourceDirectory, VLAMP_DRIVER_FILE, VLAMP_INF_FILE);
    InstalledPaths(driver, inf);
    return InstallFile(sourceDriver, driver, replaced, problem) && InstallFile(sourceInf, inf, replaced, problem);
}

bool AddLamp(const LampDescription& lamp, DWORD waitMs, WCHAR* id, LampProblem* problem)
{
    id[0] = L'\0';
    if (!LampDriverInstalled())
        return Fail(problem, kLampNoDriver, 0,
                    L"the virtual lamp's driver is not installed in this prefix; run \"virtual-lamp.exe "
                    L"install-driver\" first");
    if (lamp.logPath[0] != L'\0') {
        HANDLE log = CreateFileW(lamp.logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (log == INVALID_HANDLE_VALUE)
            return Fail(problem, kLampLogFailed, GetLastError(),
                        L"could not make the log file %ls; check that its folder exists and can be written to",
                        lamp.logPath);
        CloseHandle(log);
    }

    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return Fail(problem, kLampRefused, GetLastError(), L"setupapi could not make a device list");
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    WCHAR newId[kLampIdChars] = L"";
    WCHAR number[16] = L"";
    bool created = false;
    for (int tries = 0; tries < 100 && !created; ++tries) {
        _snwprintf(number, 16, L"%04lu", NextLampNumber());
        number[15] = L'\0';
        _snwprintf(newId, kLampIdChars, L"%ls%ls", VLAMP_INSTANCE_PREFIX, number);
        newId[kLampIdChars - 1] = L'\0';
        created = SetupDiCreateDeviceInfoW(set, newId, &kNoClass, NULL, NULL, 0, &device) != FALSE;
        if (!created && GetLastError() != ERROR_DEVINST_ALREADY_EXISTS) break;
    }
    if (!created) {
        Fail(problem, kLampRefused, GetLastError(), L"setupapi could not make the lamp's device %ls", newId);
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }

    bool ok = true;
    if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(kHardwareIds),
                                           sizeof kHardwareIds) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
        ok = Fail(problem, kLampRefused, GetLastError(), L"setupapi could not register the lamp's device %ls", newId);
        SetupDiDestroyDeviceInfoList(set);
        return ok;
    }
    HKEY key = SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, NULL, NULL);
    if (key == INVALID_HANDLE_VALUE) {
        ok = Fail(problem, kLampRefused, GetLastError(), L"setupapi gave no device key for %ls", newId);
    } else {
        if (!WriteDescription(key, lamp, lamp.serial[0] != L'\0' ? lamp.serial : number))
            ok = Fail(problem, kLampRefused, GetLastError(), L"could not write the settings of %ls", newId);
        RegCloseKey(key);
    }
    if (ok) ok = InstallDriverOn(set, &device, problem);
    // A half-made lamp would come back at the prefix's next start.
    if (!ok) SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) return false;

    wcscpy(id, newId);
    WCHAR path[kLampPathChars];
    if (waitMs == 0 || WaitForLampPath(id, waitMs, path)) return true;
    LampProblem ignored;
    RemoveLamp(id, 0, &ignored);
    Fail(problem, kLampTimedOut, 0,
         L"the lamp %ls was installed, but its HID device did not come within %lu ms, so it was removed "
         L"again; run with WINEDEBUG=+plugplay,+hid to see whether the driver starts",
         id, waitMs);
    id[0] = L'\0';
    return false;
}

bool RemoveLamp(const WCHAR* id, DWORD waitMs, LampProblem* problem)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return Fail(problem, kLampRefused, GetLastError(), L"setupapi could not make a device list");
    SP_DEVINFO_DATA device;
    bool ok = OpenLamp(set, id, &device, problem);
    if (ok && !SetupDiCallClassInstaller(DIF_REMOVE, set, &device))
        ok = Fail(problem, kLampRefused, GetLastError(), L"setupapi could not remove the lamp %ls", id);
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) return false;
    if (waitMs == 0 || WaitForLampGone(id, waitMs)) return true;
    return Fail(problem, kLampTimedOut, 0,
                L"the lamp %ls was removed, but its HID device was still there after %lu ms", id, waitMs);
}

bool RemoveAllLamps(DWORD waitMs, unsigned* removed, LampProblem* problem)
{
    static WCHAR ids[kMaxLamps][kLampIdChars];
    *removed = 0;
    const int count = ListLampIds(ids, problem);
    if (count < 0) return false;
    for (int i = 0; i < count; ++i) {
        if (!RemoveLamp(ids[i], waitMs, problem)) return false;
        ++*removed;
    }
    return true;
}

bool SetLampBehaviour(const WCHAR* id, const DWORD* delayMs, const bool* failReports, LampProblem* problem)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return Fail(problem, kLampRefused, GetLastError(), L"setupapi could not make a device list");
    SP_DEVINFO_DATA device;
    bool ok = OpenLamp(set, id, &device, problem);
    if (ok) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_SET_VALUE);
        if (key == INVALID_HANDLE_VALUE) {
            ok = Fail(problem, kLampRefused, GetLastError(), L"setupapi gave no device key for %ls", id);
        } else {
            if ((delayMs != NULL && !SetNumber(key, VLAMP_VALUE_DELAY_MS, *delayMs)) ||
                (failReports != NULL && !SetNumber(key, VLAMP_VALUE_FAIL_REPORTS, *failReports ? 1 : 0)))
                ok = Fail(problem, kLampRefused, GetLastError(), L"could not change the settings of %ls", id);
            RegCloseKey(key);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

bool FindLampPath(const WCHAR* id, WCHAR* path)
{
    path[0] = L'\0';
    const WCHAR* number = wcsrchr(id, L'\\');
    if (!IsLampId(id) || number == NULL) return false;
    WCHAR wanted[kLampIdChars];
    _snwprintf(wanted, kLampIdChars, L"%ls%ls", kHidInstancePrefix, number + 1);
    wanted[kLampIdChars - 1] = L'\0';

    HDEVINFO set = SetupDiGetClassDevsW(&kHidInterface, NULL, NULL, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    SP_DEVICE_INTERFACE_DATA iface;
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInterfaces(set, NULL, &kHidInterface, i, &iface); ++i) {
        union {
            SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
            BYTE bytes[sizeof(DWORD) + kLampPathChars * sizeof(WCHAR)];
        } buffer;
        buffer.detail.cbSize = sizeof buffer.detail;
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        WCHAR instance[kLampIdChars];
        if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, &buffer.detail, sizeof buffer, NULL, &device) ||
            !SetupDiGetDeviceInstanceIdW(set, &device, instance, kLampIdChars, NULL) ||
            _wcsicmp(instance, wanted) != 0)
            continue;
        _snwprintf(path, kLampPathChars, L"%ls", buffer.detail.DevicePath);
        path[kLampPathChars - 1] = L'\0';
        found = true;
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

bool LampExists(const WCHAR* id)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    const bool exists = IsLampId(id) && SetupDiOpenDeviceInfoW(set, id, NULL, 0, &device);
    SetupDiDestroyDeviceInfoList(set);
    return exists;
}

bool WaitForLampPath(const WCHAR* id, DWORD waitMs, WCHAR* path)
{
    const DWORD start = GetTickCount();
    while (!FindLampPath(id, path)) {
        if (GetTickCount() - start >= waitMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

bool ForEachLamp(LampVisitor visit, void* context, LampProblem* problem)
{
    static WCHAR ids[kMaxLamps][kLampIdChars];
    static LampListing listing;
    const int count = ListLampIds(ids, problem);
    if (count < 0) return false;
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return Fail(problem, kLampRefused, GetLastError(), L"setupapi could not make a device list");
    for (int i = 0; i < count; ++i) {
        ZeroMemory(&listing, sizeof listing);
        wcscpy(listing.id, ids[i]);
        DefaultLampDescription(&listing.lamp);
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        if (SetupDiOpenDeviceInfoW(set, ids[i], NULL, 0, &device)) {
            HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
            if (key != INVALID_HANDLE_VALUE) {
                ReadDescription(key, &listing.lamp);
                RegCloseKey(key);
            }
        }
        listing.present = FindLampPath(ids[i], listing.path);
        visit(listing, context);
    }
    SetupDiDestroyDeviceInfoList(set);
    return true;
}
