#pragma once
// What the virtual lamp's set-up files share among themselves: recording a
// problem for the caller, the driver's installation on one device, and a
// lamp's settings in its device key.
#include <windows.h>
#include <setupapi.h>

#include "tools/virtual-lamp/lamp_setup_win32.h"

// Puts what went wrong into problem, with the system's text for error when
// it is not 0, and returns false, so that a step can "return
// RecordProblem(...)".
bool RecordProblem(LampProblem* problem, LampOutcome outcome, DWORD error, const WCHAR* format, ...);

bool FileExists(const WCHAR* path);

// Gives the driver of the INF in %SystemRoot%\inf to this one device.
bool InstallDriverOn(HDEVINFO set, SP_DEVINFO_DATA* device, LampProblem* problem);

// The number the next lamp's instance id is made of.
DWORD NextLampNumber();
bool SetNumber(HKEY key, const WCHAR* name, DWORD value);
// The lamp's settings, as its driver reads them when it starts.
bool WriteDescription(HKEY key, const LampDescription& lamp, const WCHAR* serial);
void ReadDescription(HKEY key, LampDescription* lamp);
