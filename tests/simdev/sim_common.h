#pragma once
// Shared by the simulated hid.dll and setupapi.dll: where the simulated
// devices are described and where what happens to them is recorded.
//
// The environment variable TOLVAREN_SIMDEV names a directory (Windows path):
//   interfaces.txt  one device path a line, the present HID interfaces in
//                   order; a line "!fail" makes the interface set fail.
//   events.log      appended: "open-set", "destroy-set",
//                   "report LEN HEX.. ok|refused|bad-handle", and
//                   " t=QPC" after it when a file "timestamps" is there;
//                   "stall MS" when a slow device begins a report.
// Each device path that exists is a file of key=value lines describing the
// device: vid, pid (hex), manufacturer, product, serial (text; a device
// described without a serial has none), attributes=fail,
// strings=fail|unterminated, reports=fail, delay=MS (each report takes MS
// milliseconds, as a lamp whose firmware stops answering for a while). A
// path that does not exist is a device that can't be opened. Without
// TOLVAREN_SIMDEV there are no devices.
#include <windows.h>

struct SimDevice {
    unsigned vendorId;
    unsigned productId;
    char manufacturer[128];
    char product[128];
    char serial[128];
    bool attributesFail;
    bool stringsFail;
    bool stringsUnterminated;
    bool reportsFail;
    DWORD delayMs;
};

// The directory, with a trailing backslash; false when none is set.
bool SimDirectory(char* path, DWORD size);

// Appends one line to events.log.
void SimLog(const char* line);

// Reads a whole small file into text (NUL-terminated); false on failure.
bool SimReadFile(const char* path, char* text, DWORD size);

// Reads the description behind an open device handle.
bool SimReadDevice(HANDLE device, SimDevice* out);
