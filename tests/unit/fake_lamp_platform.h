#pragma once

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
};

// The recording so far. Not to be read while another thread is sending.
FakeLampPlatform& RecordedPlatform();

// Clears the recording and brings the lamp control back to its start:
// empty text, lamps dark, no device.
void ResetLampControl();
