#pragma once

#include <set>
#include <vector>

#include "lamps/lamp_control.h"

// Stands in for the Win32 lock, device and window: records what the lamp
// control asks of them.
struct SentReport {
    LampDevice device;
    LampFeatureReport report;
};

struct FakeLampPlatform {
    std::vector<SentReport> sends;
    int repaints = 0;
    // Devices that shutdown has closed, and the reports that still arrived
    // on one of them: a send on a closed handle is what the lock rules out.
    std::set<LampDevice> closedDevices;
    int sendsOnClosedDevices = 0;
};

// The recording so far. Not to be read while another thread is sending.
FakeLampPlatform& RecordedPlatform();

// Moves the reports recorded so far out of the recording; safe while other
// threads send, so a long run can check them as it goes.
std::vector<SentReport> TakeRecordedSends();

// Marks a device as closed, as shutdown's CloseHandle does: any report sent
// on it from now on counts in sendsOnClosedDevices.
void CloseFakeLampDevice(LampDevice device);

// Clears the recording and brings the lamp control back to its start:
// empty text, lamps dark, no device.
void ResetLampControl();
