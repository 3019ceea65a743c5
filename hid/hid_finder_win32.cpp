#include "hid/hid_finder_win32.h"

#include <setupapi.h>
#include <shlwapi.h>

#include <cstddef>

extern "C" {
#include <hidsdi.h>
}

#ifndef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "interface record of the 32-bit API");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "detail record of the 32-bit API");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "attributes record of the 32-bit API");
#endif

namespace {

// One buffer serves in turn as the detail record, the attributes and the
// string of the candidate at hand. A path longer than kDevicePathMax does
// not fit and that interface is passed over.
union SearchBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    HIDD_ATTRIBUTES attributes;
    WCHAR text[132];
    BYTE bytes[264];
};
static_assert(sizeof(SearchBuffer) == 264, "the search buffer is 264 bytes");
static_assert(sizeof(SearchBuffer) - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) ==
                  kDevicePathMax + 1,
              "the longest path that fits, with its NUL");

bool ReadDevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface, SearchBuffer* buffer)
{
    buffer->detail.cbSize = sizeof buffer->detail;
    DWORD required = 0;
    return SetupDiGetDeviceInterfaceDetailA(set, iface, &buffer->detail, sizeof *buffer,
                                            &required, NULL) != FALSE;
}

bool DeviceStringEquals(HidStringReader read, HANDLE device, SearchBuffer* buffer, const wchar_t* expected)
{
    ZeroMemory(buffer, sizeof *buffer);
    return ReadHidString(read, device, buffer->text, sizeof buffer->text / sizeof buffer->text[0]) &&
           StrCmpW(buffer->text, expected) == 0;
}

bool CandidateMatches(HANDLE device, const DeviceSelector& selector, SearchBuffer* buffer)
{
    ZeroMemory(&buffer->attributes, sizeof buffer->attributes);
    buffer->attributes.Size = sizeof buffer->attributes;
    if (!HidD_GetAttributes(device, &buffer->attributes)) return false;
    if (!DeviceIdsMatch(selector, buffer->attributes.VendorID, buffer->attributes.ProductID))
        return false;
    if (selector.checkStrings == 0) return true;
    return DeviceStringEquals(HidD_GetManufacturerString, device, buffer, selector.manufacturer) &&
           DeviceStringEquals(HidD_GetProductString, device, buffer, selector.product);
}

}  // namespace

bool ReadHidString(HidStringReader read, HANDLE device, WCHAR* text, ULONG chars)
{
    if (!read(device, text, chars * sizeof(WCHAR))) return false;
    text[chars - 1] = L'\0';
    return true;
}

// cppcheck-suppress passedByValue ; by value on purpose: a small record that
// the caller fills in place, and the finder never changes the caller's copy.
HANDLE FindHidDevice(unsigned n, DWORD fileFlags, DeviceSelector selector)
{
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return NULL;

    SP_DEVICE_INTERFACE_DATA iface;
    iface.cbSize = sizeof iface;
    SearchBuffer buffer;
    HANDLE result = NULL;
    HANDLE candidate = INVALID_HANDLE_VALUE;

    for (DWORD index = 0;; ++index) {
        if (candidate != INVALID_HANDLE_VALUE) {
            CloseHandle(candidate);
            candidate = INVALID_HANDLE_VALUE;
        }
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &hidGuid, index, &iface)) break;
        if (!ReadDevicePath(set, &iface, &buffer)) continue;

        candidate = CreateFileA(buffer.detail.DevicePath, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                fileFlags, NULL);
        if (candidate == INVALID_HANDLE_VALUE) continue;
        if (!CandidateMatches(candidate, selector, &buffer)) continue;

        // The match to return leaves the loop open; every other candidate is
        // closed at the top of the next pass.
        if (n == 0) {
            result = candidate;
            break;
        }
        --n;
    }

    SetupDiDestroyDeviceInfoList(set);
    return result;
}
