#pragma once

#include "lamps/lamp_state.h"

// The shared lamp state and the lamp device, as the pipe thread writes them
// and the main thread reads and finally closes them.
//
// Two locks, so that the window never waits for the device: the state lock
// is held only to copy the eleven bytes of the state (and the device
// handle), never across a send; the send lock orders the senders, so that
// reports leave in the order their lines were taken. A paint therefore
// never sees half a line or half a lamp pair, a report carries both bytes of
// one line, and a lamp that stops answering holds up only the thread that
// sends to it. Shutdown waits for a send in progress for a bounded time
// only, and never closes a handle that a send is still using.

// The open lamp device (a HANDLE on Windows); nullptr means none.
typedef void* LampDevice;

// How long shutdown waits for a report in progress before it gives up on
// the device and leaves its handle to the end of the process.
const unsigned kLampShutdownWaitMs = 1000;

// Interprets one line of at most 8 characters: stores it as the text, and
// for a lamp command sets the lamp bytes and sends the feature report when a
// device is open. In every case then asks the main window to repaint.
void ProcessLampLine(const char* line);

// Sets both lamp bytes to 0; the text is left alone.
void ResetLampBytes();

// A consistent copy of the state, for painting. Never waits for a send.
LampState TakeLampSnapshot();

// Start-up hands over the device it opened (or nullptr).
void SetLampDevice(LampDevice device);

// Shutdown takes the device back: once this returns no new report begins on
// it. Returns the device for the caller to close, or nullptr when there was
// none, or when a report to it was still in progress after waitMs: that one
// report may still go out, so the handle must stay open (the process's end
// closes it), as closing it under the send could hand its value to another
// object.
LampDevice TakeLampDevice(unsigned waitMs);

// What the platform provides (Win32 in the program, a recording fake in the
// unit tests). InitLampLock runs once at start-up, before any other call.
// The send-done signal wakes a shutdown waiting for a report in progress;
// it is only raised and reset with the state lock held.
void InitLampLock();
void LampLockAcquire();
void LampLockRelease();
void LampSendLockAcquire();
void LampSendLockRelease();
void LampResetSendDone();
void LampSignalSendDone();
// Waits for the send-done signal; false when waitMs passed without it.
bool LampWaitForSendDone(unsigned waitMs);
void LampDeviceSend(LampDevice device, const LampFeatureReport& report);
void LampRequestRepaint();
