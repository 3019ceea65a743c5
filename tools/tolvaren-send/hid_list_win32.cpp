// --list: the HID devices present, so that a user whose lamp is not found
// can see which -v and -p to give tolvaren.
#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include "hid/device_selector.h"
#include "hid/hid_finder_win32.h"
#include "tools/tolvaren-send/exit_codes.h"
#include "tools/tolvaren-send/send_win32.h"

namespace {

// Roomier than tolvaren's, so that a device it passes over for its long
// path is still listed.
union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[1024];
};

// A HID string is at most 126 characters.
const DWORD kHidStringChars = 128;

typedef BOOLEAN(__stdcall* HidStringReader)(HANDLE, PVOID, ULONG);

// Reads a device string as text for the console; false when the device
// gives none. A device may fill the buffer without a NUL, so one is forced.
bool ReadDeviceString(HidStringReader read, HANDLE device, char* text, int size)
{
    WCHAR wide[kHidStringChars] = {0};
    if (!read(device, wide, sizeof wide)) return false;
    wide[kHidStringChars - 1] = L'\0';
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) codePage = CP_ACP;
    if (WideCharToMultiByte(codePage, 0, wide, -1, text, size, NULL, NULL) == 0) text[0] = '\0';
    return true;
}

void PrintDeviceDetails(HANDLE device)
{
    HIDD_ATTRIBUTES attributes;
    ZeroMemory(&attributes, sizeof attributes);
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(device, &attributes)) {
        const DWORD code = GetLastError();
        char text[256];
        Print(kToOut, "ids unreadable (error %lu: %s)\n", code, ErrorText(code, text, sizeof text));
        return;
    }

    char manufacturer[3 * kHidStringChars] = "";
    char product[3 * kHidStringChars] = "";
    const bool haveManufacturer =
        ReadDeviceString(HidD_GetManufacturerString, device, manufacturer, sizeof manufacturer);
    const bool haveProduct = ReadDeviceString(HidD_GetProductString, device, product, sizeof product);
    const bool isDefault = DeviceIdsMatch(DefaultDeviceSelector(), attributes.VendorID, attributes.ProductID);

    Print(kToOut, "-v%04X -p%04X  manufacturer %s%s%s, product %s%s%s%s\n", attributes.VendorID,
          attributes.ProductID, haveManufacturer ? "\"" : "", haveManufacturer ? manufacturer : "unknown",
          haveManufacturer ? "\"" : "", haveProduct ? "\"" : "", haveProduct ? product : "unknown",
          haveProduct ? "\"" : "", isDefault ? "  (tolvaren's default ids)" : "");
}

bool IsLamp(HANDLE device)
{
    HIDD_ATTRIBUTES attributes;
    ZeroMemory(&attributes, sizeof attributes);
    attributes.Size = sizeof attributes;
    return device != INVALID_HANDLE_VALUE && HidD_GetAttributes(device, &attributes) &&
           DeviceIdsMatch(DefaultDeviceSelector(), attributes.VendorID, attributes.ProductID);
}

// Lists one device, numbered; with lampsOnly only one whose ids are
// tolvaren's own. Returns whether it was listed.
bool ListInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface, unsigned number, bool lampsOnly)
{
    DetailBuffer buffer;
    buffer.detail.cbSize = sizeof buffer.detail;
    DWORD required = 0;
    if (!SetupDiGetDeviceInterfaceDetailA(set, iface, &buffer.detail, sizeof buffer.bytes, &required, NULL)) {
        if (lampsOnly) return false;
        const DWORD code = GetLastError();
        char text[256];
        Print(kToOut, "%2u. its path can't be read (error %lu: %s)\n", number, code,
              ErrorText(code, text, sizeof text));
        return true;
    }
    const char* path = buffer.detail.DevicePath;

    // Opened the way tolvaren opens its lamp, so that a device tolvaren
    // can't open shows up as such.
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    DWORD openError = ERROR_SUCCESS;
    if (device == INVALID_HANDLE_VALUE) {
        openError = GetLastError();
        // Without access rights the ids can still be read of a device that
        // another program holds, such as a keyboard.
        device = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    }
    if (lampsOnly && !IsLamp(device)) {
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
        return false;
    }

    Print(kToOut, "%2u. ", number);
    char text[256];
    if (device == INVALID_HANDLE_VALUE) {
        Print(kToOut, "can't be opened (error %lu: %s)\n", openError,
              ErrorText(openError, text, sizeof text));
    } else {
        PrintDeviceDetails(device);
        CloseHandle(device);
        if (openError != ERROR_SUCCESS)
            Print(kToOut,
                  "    tolvaren can't open it for reading and writing (error %lu: %s); "
                  "another program may hold it\n",
                  openError, ErrorText(openError, text, sizeof text));
    }
    Print(kToOut, "    %s\n", path);
    if (lstrlenA(path) > static_cast<int>(kDevicePathMax))
        Print(kToOut, "    tolvaren passes it over: its path is longer than %lu characters\n",
              kDevicePathMax);
    return true;
}

}  // namespace

int ListHidDevices(bool lampsOnly)
{
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        char text[256];
        Print(kToErr,
              "tolvaren-send: the HID devices can't be enumerated (error %lu: %s).\n"
              "Check that the system's device set-up service works, and try again.\n",
              code, ErrorText(code, text, sizeof text));
        return kExitListFailed;
    }

    const DeviceSelector lamp = DefaultDeviceSelector();
    if (lampsOnly) Print(kToOut, "Lamps (tolvaren's ids, %04X:%04X):\n", lamp.vendorId, lamp.productId);
    unsigned listed = 0;
    SP_DEVICE_INTERFACE_DATA iface;
    for (DWORD index = 0;; ++index) {
        iface.cbSize = sizeof iface;
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &hidGuid, index, &iface)) {
            const DWORD code = GetLastError();
            if (code != ERROR_NO_MORE_ITEMS) {
                char text[256];
                Print(kToErr,
                      "tolvaren-send: the list stops early: device %lu can't be read "
                      "(error %lu: %s).\n",
                      index + 1, code, ErrorText(code, text, sizeof text));
            }
            break;
        }
        if (listed == 0 && !lampsOnly) Print(kToOut, "HID devices present:\n");
        if (ListInterface(set, &iface, listed + 1, lampsOnly)) ++listed;
    }
    SetupDiDestroyDeviceInfoList(set);

    if (lampsOnly && listed == 0)
        Print(kToOut,
              "    none is plugged in. Plug your lamp in; for a lamp with other ids,\n"
              "    tolvaren-send --list lists every HID device.\n");
    else if (listed == 0)
        Print(kToOut,
              "No HID devices are present. Plug the lamp in, then run tolvaren-send "
              "--list again.\n");
    else if (!lampsOnly)
        Print(kToOut, "Start tolvaren with the ids of your lamp, such as: tolvaren.exe -v16C0 -p05DF\n");
    return kExitOk;
}
