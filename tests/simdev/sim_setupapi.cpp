// A simulated setupapi.dll: presents the device paths listed in
// interfaces.txt as the present HID interfaces, and holds callers to the
// contracts Windows holds them to.
#define _SETUPAPI_
#include "sim_common.h"

#include <setupapi.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace {

const GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const DWORD kMaxInterfaces = 16;
const DWORD kMaxPath = 1024;
const DWORD kSetMagic = 0x53494D44;

struct InterfaceSet {
    DWORD magic;
    DWORD count;
    char paths[kMaxInterfaces][kMaxPath];
};

volatile LONG openSets = 0;

InterfaceSet* SetFrom(HDEVINFO handle)
{
    InterfaceSet* set = static_cast<InterfaceSet*>(handle);
    if (handle == NULL || handle == INVALID_HANDLE_VALUE || set->magic != kSetMagic) return NULL;
    return set;
}

// Fills the set from interfaces.txt; false when the set is to fail.
bool LoadInterfaces(InterfaceSet* set)
{
    char path[MAX_PATH];
    static char text[kMaxInterfaces * kMaxPath];
    if (!SimDirectory(path, sizeof path - 20)) return true;
    strcat(path, "interfaces.txt");
    if (!SimReadFile(path, text, sizeof text)) return true;
    for (char* line = text; *line != '\0' && set->count < kMaxInterfaces;) {
        size_t length = strcspn(line, "\r\n");
        if (length == 5 && strncmp(line, "!fail", 5) == 0) return false;
        if (length > 0 && length < kMaxPath) {
            memcpy(set->paths[set->count], line, length);
            set->paths[set->count][length] = '\0';
            ++set->count;
        }
        line += length;
        while (*line == '\r' || *line == '\n') ++line;
    }
    return true;
}

}  // namespace

extern "C" {

__declspec(dllexport) HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator,
                                                           HWND parent, DWORD flags)
{
    (void)enumerator;
    (void)parent;
    if (classGuid == NULL || memcmp(classGuid, &kHidGuid, sizeof kHidGuid) != 0 ||
        (flags & (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    InterfaceSet* set = static_cast<InterfaceSet*>(calloc(1, sizeof(InterfaceSet)));
    if (set == NULL || !LoadInterfaces(set)) {
        free(set);
        SetLastError(ERROR_INVALID_DATA);
        return INVALID_HANDLE_VALUE;
    }
    set->magic = kSetMagic;
    InterlockedIncrement(&openSets);
    SimLog("open-set");
    return set;
}

__declspec(dllexport) WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle)
{
    InterfaceSet* set = SetFrom(handle);
    if (set == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    set->magic = 0;
    free(set);
    InterlockedDecrement(&openSets);
    SimLog("destroy-set");
    return TRUE;
}

__declspec(dllexport) WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA device,
                                                                 const GUID* classGuid, DWORD index,
                                                                 PSP_DEVICE_INTERFACE_DATA data)
{
    (void)device;
    InterfaceSet* set = SetFrom(handle);
    if (set == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (data == NULL || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (classGuid == NULL || memcmp(classGuid, &kHidGuid, sizeof kHidGuid) != 0 || index >= set->count) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = kHidGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

__declspec(dllexport) WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailA(
    HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
    DWORD detailSize, PDWORD requiredSize, PSP_DEVINFO_DATA device)
{
    (void)device;
    InterfaceSet* set = SetFrom(handle);
    if (set == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (data == NULL || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > set->count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((detail == NULL && detailSize != 0) ||
        (detail != NULL && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const char* path = set->paths[data->Reserved - 1];
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                            strlen(path) + 1);
    if (requiredSize != NULL) *requiredSize = needed;
    if (detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(detail->DevicePath, path, strlen(path) + 1);
    return TRUE;
}

// For tests in the same process: how many interface sets are open.
__declspec(dllexport) LONG WINAPI SimOpenSetCount()
{
    return openSets;
}

}  // extern "C"
