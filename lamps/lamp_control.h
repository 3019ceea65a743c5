#pragma once

#include "lamps/lamp_state.h"

// The shared lamp state and the lamp device, as the pipe thread writes them
// and the main thread reads and finally closes them. Every access goes
// through one lock, so a paint never sees half a line or half a lamp pair and
// no report is sent on a handle that shutdown has closed.

// The open lamp device (a HANDLE on Windows); nullptr means none.
typedef void* LampDevice;

// Interprets one line of at most 8 characters: stores it as the text, and
// for a lamp command sets the lamp bytes and sends the feature report when a
// device is open. In every case asks the main window to repaint.
void ProcessLampLine(const char* line);

// Sets both lamp bytes to 0; the text is left alone.
void ResetLampBytes();

// A consistent copy of the state, for painting.
LampState TakeLampSnapshot();

// Start-up hands over the device it opened (or nullptr).
void SetLampDevice(LampDevice device);

// Shutdown takes the device back: no report is sent on it once this returns.
// The caller closes what it gets.
LampDevice TakeLampDevice();

// What the platform provides (Win32 in the program, a recording fake in the
// unit tests). InitLampLock runs once at start-up, before any other call.
void InitLampLock();
void LampLockAcquire();
void LampLockRelease();
void LampDeviceSend(LampDevice device, const LampFeatureReport& report);
void LampRequestRepaint();
