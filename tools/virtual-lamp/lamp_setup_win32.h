#pragma once
// Installs, adds, changes, lists and removes virtual lamps in the running
// Windows (a Wine prefix), through setupapi as a device installer does.
// Shared by virtual-lamp.exe and the tests' fixture. 64-bit only: the
// driver is an x86_64 one, and a WoW64 prefix takes it from 64-bit
// programs.
#include <windows.h>

#include "tools/virtual-lamp/lamp_settings.h"

struct LampDescription {
    USHORT vendorId;
    USHORT productId;
    USHORT version;
    WCHAR manufacturer[VLAMP_MAX_STRING + 1];  // empty: the lamp has none
    WCHAR product[VLAMP_MAX_STRING + 1];
    WCHAR serial[VLAMP_MAX_STRING + 1];  // empty when adding: the lamp's number
    DWORD delayMs;                       // each report takes this long
    bool failReports;                    // the lamp refuses every report
    WCHAR logPath[MAX_PATH];             // Windows path of its record; empty: none
};

// The lamp's own ids and strings (lamps/lamp_identity.h), version 1.00,
// prompt, taking every report, no log.
void DefaultLampDescription(LampDescription* lamp);

// A lamp of these ids, UTF-8 strings (cut to fit) and behaviour, no log.
void DescribeLamp(unsigned vendorId, unsigned productId, const char* manufacturer, const char* product,
                  const char* serial, DWORD delayMs, bool failReports, LampDescription* lamp);

enum LampOutcome {
    kLampOk = 0,
    kLampNoDriver,       // the driver is not installed, or its files are missing
    kLampRefused,        // setupapi or the file system refused; error says why
    kLampNoSuchLamp,     // no virtual lamp of that id
    kLampTimedOut,       // the lamp's HID device did not come (or go) in time
    kLampLogFailed,      // the log file could not be made
};

// What went wrong, for a person: what happened and what to do about it.
struct LampProblem {
    LampOutcome outcome;
    DWORD error;
    WCHAR text[1024];
};

const DWORD kLampIdChars = 48;
const DWORD kLampPathChars = 512;

// Puts the driver and its INF, found in sourceDirectory, where adding a
// lamp takes them from (%SystemRoot%\system32\drivers, %SystemRoot%\inf).
// A copy that is already there and the same is left alone; *replaced tells
// whether a different one was replaced (the old one may still be in use
// until the prefix restarts).
bool InstallLampDriver(const WCHAR* sourceDirectory, bool* replaced, LampProblem* problem);
bool LampDriverInstalled();

// Adds a lamp and waits up to waitMs for its HID device (0: not at all).
// id gets its instance id (kLampIdChars). The log file, when one is given,
// is made empty first.
bool AddLamp(const LampDescription& lamp, DWORD waitMs, WCHAR* id, LampProblem* problem);

// Removes a lamp and waits up to waitMs for its HID device to go. A program
// holding the lamp open keeps its handle; what it sends then fails.
bool RemoveLamp(const WCHAR* id, DWORD waitMs, LampProblem* problem);
bool RemoveAllLamps(DWORD waitMs, unsigned* removed, LampProblem* problem);

// Changes how a present lamp answers its next reports. A null pointer
// leaves that setting as it is.
bool SetLampBehaviour(const WCHAR* id, const DWORD* delayMs, const bool* failReports, LampProblem* problem);

// Whether a lamp of this id is installed, present or not.
bool LampExists(const WCHAR* id);

// The path of the lamp's HID device while it is present (kLampPathChars).
bool FindLampPath(const WCHAR* id, WCHAR* path);
bool WaitForLampPath(const WCHAR* id, DWORD waitMs, WCHAR* path);

struct LampListing {
    WCHAR id[kLampIdChars];
    LampDescription lamp;
    bool present;  // its HID device is there
    WCHAR path[kLampPathChars];
};
typedef void (*LampVisitor)(const LampListing& lamp, void* context);
// Visits every virtual lamp installed, in the order setupapi lists them.
bool ForEachLamp(LampVisitor visit, void* context, LampProblem* problem);
