#include "tools/common/hid_walk_win32.h"

#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

namespace {

union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[sizeof(DWORD) + kHidWalkPathChars];
};

HANDLE OpenLikeTolvaren(const char* path, DWORD* openError)
{
    *openError = ERROR_SUCCESS;
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    if (device != INVALID_HANDLE_VALUE) return device;
    *openError = GetLastError();
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

// Reads what the visitor wants of one interface, visits it and closes what
// was opened for it. Returns the visitor's answer.
bool VisitInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface, DWORD index, unsigned wants,
                    HidInterfaceVisitor visit, void* context)
{
    DetailBuffer buffer;
    buffer.detail.cbSize = sizeof buffer.detail;
    SP_DEVINFO_DATA deviceInfo;
    deviceInfo.cbSize = sizeof deviceInfo;
    SP_DEVINFO_DATA* wantedInfo = (wants & kHidWalkInstanceIds) != 0 ? &deviceInfo : NULL;
    char instance[kHidWalkInstanceChars] = "";
    HidInterfaceInfo info = {index, NULL, ERROR_SUCCESS, instance, INVALID_HANDLE_VALUE, ERROR_SUCCESS};

    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, iface, &buffer.detail, sizeof buffer.bytes, &required, wantedInfo)) {
        info.path = buffer.detail.DevicePath;
        if (wantedInfo != NULL &&
            !SetupDiGetDeviceInstanceIdA(set, wantedInfo, instance, kHidWalkInstanceChars, NULL)) {
            // cppcheck-suppress unreadVariable ; the visitor reads it, through info.instanceId
            instance[0] = '\0';
        }
        if ((wants & kHidWalkOpenDevices) != 0) info.device = OpenLikeTolvaren(info.path, &info.openError);
    } else {
        info.pathError = GetLastError();
    }

    const bool goOn = visit(info, context);
    if (info.device != INVALID_HANDLE_VALUE) CloseHandle(info.device);
    return goOn;
}

}  // namespace

HidWalkEnd WalkHidInterfaces(unsigned wants, HidInterfaceVisitor visit, void* context, HidWalkProblem* problem)
{
    problem->error = ERROR_SUCCESS;
    problem->errorIndex = 0;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        problem->error = GetLastError();
        return kHidWalkNoList;
    }

    HidWalkEnd end = kHidWalkDone;
    SP_DEVICE_INTERFACE_DATA iface;
    for (DWORD index = 0;; ++index) {
        iface.cbSize = sizeof iface;
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &hidGuid, index, &iface)) {
            const DWORD code = GetLastError();
            if (code != ERROR_NO_MORE_ITEMS) {
                problem->error = code;
                problem->errorIndex = index;
                end = kHidWalkCutShort;
            }
            break;
        }
        if (!VisitInterface(set, &iface, index, wants, visit, context)) {
            end = kHidWalkStopped;
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return end;
}
