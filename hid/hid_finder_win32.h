#pragma once

#include <windows.h>

#include "hid/device_selector.h"

// The longest device path, in characters, that the search takes; an
// interface with a longer path is passed over.
const DWORD kDevicePathMax = 259;

// One of a device's strings (HidD_GetManufacturerString or
// HidD_GetProductString) into text, chars wide characters with the NUL.
// A device may fill the whole buffer without a NUL: the last character is
// forced to one. False when the device gives none.
typedef BOOLEAN(__stdcall* HidStringReader)(HANDLE, PVOID, ULONG);
bool ReadHidString(HidStringReader read, HANDLE device, WCHAR* text, ULONG chars);

// Opens the n-th (0: the first) present HID device that the selector
// matches, for reading and writing with shared access, opened with fileFlags.
// Returns the open handle, which the caller closes, or NULL when there is
// none. Every other handle it opens is closed before it returns.
HANDLE FindHidDevice(unsigned n, DWORD fileFlags, DeviceSelector selector);
