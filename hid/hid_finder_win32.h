#pragma once

#include <windows.h>

#include "hid/device_selector.h"

// The longest device path, in characters, that the search takes; an
// interface with a longer path is passed over.
const DWORD kDevicePathMax = 259;

// Opens the n-th (0: the first) present HID device that the selector
// matches, for reading and writing with shared access, opened with fileFlags.
// Returns the open handle, which the caller closes, or NULL when there is
// none. Every other handle it opens is closed before it returns.
HANDLE FindHidDevice(unsigned n, DWORD fileFlags, DeviceSelector selector);
