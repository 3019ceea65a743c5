#pragma once

#include "tools/common/console_win32.h"

// The Win32 side of tolvaren-send, shared by its files.

// Lists the present HID devices on standard output, or with lampsOnly only
// those with tolvaren's ids; returns the exit code.
int ListHidDevices(bool lampsOnly);
