// --list: the HID devices present, so that a user whose lamp is not found
// can see which -v and -p to give tolvaren.
#include <windows.h>

extern "C" {
#include <hidsdi.h>
}

#include "hid/device_selector.h"
#include "hid/hid_finder_win32.h"
#include "tools/common/hid_walk_win32.h"
#include "tools/tolvaren-send/exit_codes.h"
#include "tools/tolvaren-send/send_win32.h"

namespace {

// A HID string is at most 126 characters.
const DWORD kHidStringChars = 128;

// A device string as text for the console; false when the device gives
// none.
bool ReadDeviceString(HidStringReader read, HANDLE device, char* text, int size)
{
    WCHAR wide[kHidStringChars] = {0};
    if (!ReadHidString(read, device, wide, kHidStringChars)) return false;
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) codePage = CP_ACP;
    if (WideCharToMultiByte(codePage, 0, wide, -1, text, size, NULL, NULL) == 0) text[0] = '\0';
    return true;
}

bool ReadIds(HANDLE device, HIDD_ATTRIBUTES* attributes)
{
    ZeroMemory(attributes, sizeof *attributes);
    attributes->Size = sizeof *attributes;
    return device != INVALID_HANDLE_VALUE && HidD_GetAttributes(device, attributes);
}

void PrintDeviceDetails(HANDLE device)
{
    HIDD_ATTRIBUTES attributes;
    if (!ReadIds(device, &attributes)) {
        const DWORD code = GetLastError();
        char text[256];
        Print(kToOut, "ids unreadable (error %lu: %s)\n", code, ErrorText(code, text, sizeof text));
        return;
    }

    char manufacturer[3 * kHidStringChars] = "";
    char product[3 * kHidStringChars] = "";
    char serial[3 * kHidStringChars] = "";
    const bool haveManufacturer =
        ReadDeviceString(HidD_GetManufacturerString, device, manufacturer, sizeof manufacturer);
    const bool haveProduct = ReadDeviceString(HidD_GetProductString, device, product, sizeof product);
    // Two lamps of the same ids tell themselves apart by their serials;
    // most other devices have none, and then nothing is said of it.
    const bool haveSerial =
        ReadDeviceString(HidD_GetSerialNumberString, device, serial, sizeof serial) && serial[0] != '\0';
    const bool isDefault = DeviceIdsMatch(DefaultDeviceSelector(), attributes.VendorID, attributes.ProductID);

    Print(kToOut, "-v%04X -p%04X  manufacturer %s%s%s, product %s%s%s%s%s%s%s\n", attributes.VendorID,
          attributes.ProductID, haveManufacturer ? "\"" : "", haveManufacturer ? manufacturer : "unknown",
          haveManufacturer ? "\"" : "", haveProduct ? "\"" : "", haveProduct ? product : "unknown",
          haveProduct ? "\"" : "", haveSerial ? ", serial \"" : "", haveSerial ? serial : "",
          haveSerial ? "\"" : "", isDefault ? "  (tolvaren's default ids)" : "");
}

bool IsLamp(HANDLE device)
{
    HIDD_ATTRIBUTES attributes;
    return ReadIds(device, &attributes) &&
           DeviceIdsMatch(DefaultDeviceSelector(), attributes.VendorID, attributes.ProductID);
}

void PrintInterface(const HidInterfaceInfo& iface, unsigned number)
{
    char text[256];
    if (iface.path == NULL) {
        Print(kToOut, "%2u. its path can't be read (error %lu: %s)\n", number, iface.pathError,
              ErrorText(iface.pathError, text, sizeof text));
        return;
    }
    Print(kToOut, "%2u. ", number);
    if (iface.device == INVALID_HANDLE_VALUE) {
        Print(kToOut, "can't be opened (error %lu: %s)\n", iface.openError,
              ErrorText(iface.openError, text, sizeof text));
    } else {
        PrintDeviceDetails(iface.device);
        if (iface.openError != ERROR_SUCCESS)
            Print(kToOut,
                  "    tolvaren can't open it for reading and writing (error %lu: %s); "
                  "another program may hold it\n",
                  iface.openError, ErrorText(iface.openError, text, sizeof text));
    }
    Print(kToOut, "    %s\n", iface.path);
    if (lstrlenA(iface.path) > static_cast<int>(kDevicePathMax))
        Print(kToOut, "    tolvaren passes it over: its path is longer than %lu characters\n",
              kDevicePathMax);
}

struct Listing {
    bool lampsOnly;  // only those with tolvaren's ids
    bool headed;
    unsigned listed;
};

// The list of lamps is headed once the system has given its list, before
// anything else is said of it.
void HeadLampList(Listing* listing)
{
    if (!listing->lampsOnly || listing->headed) return;
    const DeviceSelector lamp = DefaultDeviceSelector();
    Print(kToOut, "Lamps (tolvaren's ids, %04X:%04X):\n", lamp.vendorId, lamp.productId);
    listing->headed = true;
}

bool ListInterface(const HidInterfaceInfo& iface, void* context)
{
    Listing* listing = static_cast<Listing*>(context);
    HeadLampList(listing);
    if (listing->lampsOnly && (iface.path == NULL || !IsLamp(iface.device))) return true;
    if (listing->listed == 0 && !listing->lampsOnly) Print(kToOut, "HID devices present:\n");
    PrintInterface(iface, ++listing->listed);
    return true;
}

void PrintClosingAdvice(const Listing& listing)
{
    if (listing.lampsOnly && listing.listed == 0)
        Print(kToOut,
              "    none is plugged in. Plug your lamp in; for a lamp with other ids,\n"
              "    tolvaren-send --list lists every HID device.\n");
    else if (listing.listed == 0)
        Print(kToOut,
              "No HID devices are present. Plug the lamp in, then run tolvaren-send "
              "--list again.\n");
    else if (!listing.lampsOnly)
        Print(kToOut, "Start tolvaren with the ids of your lamp, such as: tolvaren.exe -v16C0 -p05DF\n");
}

}  // namespace

int ListHidDevices(bool lampsOnly)
{
    Listing listing = {lampsOnly, false, 0};
    // Opened the way tolvaren opens its lamp, so that a device tolvaren
    // can't open shows up as such.
    HidWalkProblem problem;
    const HidWalkEnd end = WalkHidInterfaces(kHidWalkOpenDevices, ListInterface, &listing, &problem);
    char text[256];
    if (end == kHidWalkNoList)
        return ErrorExit(kExitListFailed,
                         "tolvaren-send: the HID devices can't be enumerated (error %lu: %s).\n"
                         "Check that the system's device set-up service works, and try again.\n",
                         problem.error, ErrorText(problem.error, text, sizeof text));
    HeadLampList(&listing);
    if (end == kHidWalkCutShort)
        Print(kToErr, "tolvaren-send: the list stops early: device %lu can't be read (error %lu: %s).\n",
              problem.errorIndex + 1, problem.error, ErrorText(problem.error, text, sizeof text));
    PrintClosingAdvice(listing);
    return kExitOk;
}
