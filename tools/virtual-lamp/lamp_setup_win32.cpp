#include "tools/virtual-lamp/lamp_setup_win32.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "lamps/lamp_identity.h"
#include "tools/common/error_text_win32.h"
#include "tools/common/hid_walk_win32.h"
#include "tools/virtual-lamp/lamp_setup_parts_win32.h"

namespace {

const GUID kNoClass = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// A REG_MULTI_SZ: the literal's own NUL ends the list.
const WCHAR kHardwareIds[] = VLAMP_HARDWARE_ID L"\0";
// hidclass names a lamp's HID device after its root device:
// ROOT\TOLVAREN_VLAMP\0003 becomes HID\TOLVAREN_VLAMP\0003.
const char kHidInstancePrefix[] = "HID\\TOLVAREN_VLAMP\\";
const DWORD kPollMs = 10;
const int kMaxLamps = 256;

// ROOT\TOLVAREN_VLAMP\N, any case.
bool IsLampId(const WCHAR* id)
{
    const size_t length = wcslen(VLAMP_INSTANCE_PREFIX);
    return _wcsnicmp(id, VLAMP_INSTANCE_PREFIX, length) == 0 && id[length] != L'\0' &&
           wcschr(id + length, L'\\') == NULL;
}

bool OpenLamp(HDEVINFO set, const WCHAR* id, SP_DEVINFO_DATA* device, LampProblem* problem)
{
    device->cbSize = sizeof *device;
    if (IsLampId(id) && SetupDiOpenDeviceInfoW(set, id, NULL, 0, device)) return true;
    return RecordProblem(problem, kLampNoSuchLamp, 0,
                         L"there is no virtual lamp %ls in this prefix; \"virtual-lamp.exe list\" shows the lamps "
                         L"there are",
                         id);
}

// The instance ids of the lamps installed, at most kMaxLamps.
int ListLampIds(WCHAR (*ids)[kLampIdChars], LampProblem* problem)
{
    HDEVINFO set = SetupDiGetClassDevsW(NULL, L"ROOT", NULL, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not list the root devices");
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

// Until the lamp's HID device is there (present) or gone, waitMs at most.
bool WaitForLampDevice(const WCHAR* id, bool present, DWORD waitMs, WCHAR* path)
{
    const DWORD start = GetTickCount();
    while (FindLampPath(id, path) != present) {
        if (GetTickCount() - start >= waitMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

bool MakeLogFile(const LampDescription& lamp, LampProblem* problem)
{
    if (lamp.logPath[0] == L'\0') return true;
    HANDLE log = CreateFileW(lamp.logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return RecordProblem(problem, kLampLogFailed, GetLastError(),
                             L"could not make the log file %ls; check that its folder exists and can be written to",
                             lamp.logPath);
    CloseHandle(log);
    return true;
}

// A new root device under the next free number (number, the digits).
bool CreateLampDevice(HDEVINFO set, SP_DEVINFO_DATA* device, WCHAR* newId, WCHAR* number, LampProblem* problem)
{
    bool created = false;
    for (int tries = 0; tries < 100 && !created; ++tries) {
        _snwprintf(number, 16, L"%04lu", NextLampNumber());
        number[15] = L'\0';
        _snwprintf(newId, kLampIdChars, L"%ls%ls", VLAMP_INSTANCE_PREFIX, number);
        newId[kLampIdChars - 1] = L'\0';
        created = SetupDiCreateDeviceInfoW(set, newId, &kNoClass, NULL, NULL, 0, device) != FALSE;
        if (!created && GetLastError() != ERROR_DEVINST_ALREADY_EXISTS) break;
    }
    if (created) return true;
    return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not make the lamp's device %ls",
                         newId);
}

bool RegisterLampDevice(HDEVINFO set, SP_DEVINFO_DATA* device, const WCHAR* newId, LampProblem* problem)
{
    if (SetupDiSetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(kHardwareIds),
                                          sizeof kHardwareIds) &&
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, device))
        return true;
    return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not register the lamp's device %ls",
                         newId);
}

bool WriteLampSettings(HDEVINFO set, SP_DEVINFO_DATA* device, const LampDescription& lamp, const WCHAR* serial,
                       const WCHAR* newId, LampProblem* problem)
{
    HKEY key = SetupDiCreateDevRegKeyW(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, NULL, NULL);
    if (key == INVALID_HANDLE_VALUE)
        return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi gave no device key for %ls", newId);
    bool ok = true;
    if (!WriteDescription(key, lamp, serial))
        ok = RecordProblem(problem, kLampRefused, GetLastError(), L"could not write the settings of %ls", newId);
    RegCloseKey(key);
    return ok;
}

// The new lamp's device, registered, with its settings and its driver.
bool InstallLampDevice(const LampDescription& lamp, WCHAR* newId, LampProblem* problem)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not make a device list");
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    WCHAR number[16] = L"";
    bool ok = CreateLampDevice(set, &device, newId, number, problem) &&
              RegisterLampDevice(set, &device, newId, problem);
    if (ok) {
        const WCHAR* serial = lamp.serial[0] != L'\0' ? lamp.serial : number;
        ok = WriteLampSettings(set, &device, lamp, serial, newId, problem) && InstallDriverOn(set, &device, problem);
        // A half-made lamp would come back at the prefix's next start.
        if (!ok) SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

struct PathSearch {
    char wanted[kLampIdChars];  // the HID device's instance id
    WCHAR* path;
    bool found;
};

bool TakeLampPath(const HidInterfaceInfo& iface, void* context)
{
    PathSearch* search = static_cast<PathSearch*>(context);
    if (iface.path == NULL || lstrcmpiA(iface.instanceId, search->wanted) != 0) return true;
    _snwprintf(search->path, kLampPathChars, L"%hs", iface.path);
    search->path[kLampPathChars - 1] = L'\0';
    search->found = true;
    return false;
}

}  // namespace

bool RecordProblem(LampProblem* problem, LampOutcome outcome, DWORD error, const WCHAR* format, ...)
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
        char reason[256];
        const size_t used = wcslen(problem->text);
        _snwprintf(problem->text + used, size - used, L" (error %lu: %hs)", error,
                   ErrorText(error, reason, sizeof reason));
        problem->text[size - 1] = L'\0';
    }
    return false;
}

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

bool AddLamp(const LampDescription& lamp, DWORD waitMs, WCHAR* id, LampProblem* problem)
{
    id[0] = L'\0';
    if (!LampDriverInstalled())
        return RecordProblem(problem, kLampNoDriver, 0,
                             L"the virtual lamp's driver is not installed in this prefix; run \"virtual-lamp.exe "
                             L"install-driver\" first");
    WCHAR newId[kLampIdChars] = L"";
    if (!MakeLogFile(lamp, problem) || !InstallLampDevice(lamp, newId, problem)) return false;

    WCHAR path[kLampPathChars];
    if (waitMs == 0 || WaitForLampDevice(newId, true, waitMs, path)) {
        wcscpy(id, newId);
        return true;
    }
    LampProblem ignored;
    RemoveLamp(newId, 0, &ignored);
    return RecordProblem(problem, kLampTimedOut, 0,
                         L"the lamp %ls was installed, but its HID device did not come within %lu ms, so it was "
                         L"removed again; run with WINEDEBUG=+plugplay,+hid to see whether the driver starts",
                         newId, waitMs);
}

bool RemoveLamp(const WCHAR* id, DWORD waitMs, LampProblem* problem)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not make a device list");
    SP_DEVINFO_DATA device;
    bool ok = OpenLamp(set, id, &device, problem);
    if (ok && !SetupDiCallClassInstaller(DIF_REMOVE, set, &device))
        ok = RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not remove the lamp %ls", id);
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) return false;
    WCHAR path[kLampPathChars];
    if (waitMs == 0 || WaitForLampDevice(id, false, waitMs, path)) return true;
    return RecordProblem(problem, kLampTimedOut, 0,
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
        return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not make a device list");
    SP_DEVINFO_DATA device;
    bool ok = OpenLamp(set, id, &device, problem);
    if (ok) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_SET_VALUE);
        if (key == INVALID_HANDLE_VALUE) {
            ok = RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi gave no device key for %ls", id);
        } else {
            if ((delayMs != NULL && !SetNumber(key, VLAMP_VALUE_DELAY_MS, *delayMs)) ||
                (failReports != NULL && !SetNumber(key, VLAMP_VALUE_FAIL_REPORTS, *failReports ? 1 : 0)))
                ok = RecordProblem(problem, kLampRefused, GetLastError(), L"could not change the settings of %ls",
                                   id);
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
    PathSearch search = {"", path, false};
    std::snprintf(search.wanted, sizeof search.wanted, "%s%ls", kHidInstancePrefix, number + 1);
    HidWalkProblem ignored;
    WalkHidInterfaces(kHidWalkInstanceIds, TakeLampPath, &search, &ignored);
    return search.found;
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
    return WaitForLampDevice(id, true, waitMs, path);
}

bool ForEachLamp(LampVisitor visit, void* context, LampProblem* problem)
{
    static WCHAR ids[kMaxLamps][kLampIdChars];
    static LampListing listing;
    const int count = ListLampIds(ids, problem);
    if (count < 0) return false;
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return RecordProblem(problem, kLampRefused, GetLastError(), L"setupapi could not make a device list");
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
