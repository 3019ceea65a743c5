#pragma once

#include <map>
#include <set>
#include <vector>

#include "lamps/lamp_control.h"

// Stands in for the Win32 locks, device and window: records what the lamp
// control asks of them, and can make the device slow or hold a report back
// until told, as a lamp whose firmware stops answering does.
struct SentReport {
    LampDevice device;
    LampFeatureReport report;
};

struct FakeLampPlatform {
    std::vector<SentReport> sends;  // in the order the sends began
    int repaints = 0;
    // Devices that shutdown has taken back or closed, and the faults the
    // lamp control must rule out: a report begun on a device once shutdown
    // took it (beyond the one it left under way), and a close while a report
    // on the device was under way (or a report begun on it afterwards).
    std::map<LampDevice, int> takenDevices;  // device -> reports still allowed
    std::set<LampDevice> closedDevices;
    std::map<LampDevice, int> sendsUnderWay;
    int sendsAfterTaken = 0;
    int sendsOnClosedDevices = 0;
};

// The recording so far. Not to be read while another thread is sending.
FakeLampPlatform& RecordedPlatform();

// Moves the reports recorded so far out of the recording; safe while other
// threads send, so a long run can check them as it goes.
std::vector<SentReport> TakeRecordedSends();

// Shutdown's TakeLampDevice has given up on the device: from now on no
// report may begin on it. When it left the device open because a report was
// still under way, that one report was decided before and may still reach
// the device (the sender may not have called it yet), but no other.
void MarkFakeLampDeviceTaken(LampDevice device, bool leftUnderReport);

// Marks a device as closed, as shutdown's CloseHandle does. A report still
// under way to it, or begun on it later, counts in sendsOnClosedDevices.
void CloseFakeLampDevice(LampDevice device);

// Every nth report (0: none) takes this many microseconds.
void SetFakeSendStall(unsigned everyNth, unsigned microseconds);

// While held, every report waits at the device until released; a stuck
// lamp. WaitForHeldSend says whether a report is waiting there.
void HoldFakeSends();
void ReleaseFakeSends();
bool WaitForHeldSend(unsigned timeoutMs);

// Clears the recording, releases held reports and brings the lamp control
// back to its start: empty text, lamps dark, no device.
void ResetLampControl();
