#include "lamps/lamp_control.h"

namespace {

LampState lampState = {{0}, 0, 0};
LampDevice deviceHandle = nullptr;
// The device a report is on its way to, outside the state lock.
LampDevice deviceInUse = nullptr;
// Shutdown waits for the report to deviceInUse to end.
bool shutdownWaiting = false;

// Holds one of the two locks for a scope.
template <void (*Acquire)(), void (*Release)()>
class LockGuard {
public:
    LockGuard() { Acquire(); }
    ~LockGuard() { Release(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;
};
typedef LockGuard<LampLockAcquire, LampLockRelease> LampLockGuard;
typedef LockGuard<LampSendLockAcquire, LampSendLockRelease> SendLockGuard;

// Takes the line into the state; returns the device to send the report to,
// or nullptr when no report is due.
LampDevice ApplyLine(const char* line, LampFeatureReport* report)
{
    LampLockGuard guard;
    if (!ApplyLampLine(&lampState, line) || deviceHandle == nullptr) return nullptr;
    *report = MakeLampFeatureReport(lampState);
    deviceInUse = deviceHandle;
    return deviceInUse;
}

void EndSend()
{
    LampLockGuard guard;
    deviceInUse = nullptr;
    if (shutdownWaiting) LampSignalSendDone();
}

}  // namespace

void ProcessLampLine(const char* line)
{
    {
        SendLockGuard sending;
        LampFeatureReport report;
        LampDevice device = ApplyLine(line, &report);
        if (device != nullptr) {
            LampDeviceSend(device, report);
            EndSend();
        }
    }
    LampRequestRepaint();
}

void ResetLampBytes()
{
    LampLockGuard guard;
    lampState.lampsLow = 0;
    lampState.lampsHigh = 0;
}

LampState TakeLampSnapshot()
{
    LampLockGuard guard;
    return lampState;
}

void SetLampDevice(LampDevice device)
{
    LampLockGuard guard;
    deviceHandle = device;
}

LampDevice TakeLampDevice(unsigned waitMs)
{
    LampDevice device = nullptr;
    {
        LampLockGuard guard;
        device = deviceHandle;
        deviceHandle = nullptr;
        if (device == nullptr || deviceInUse != device) return device;
        // A report is on its way: no later line will send on the device, so
        // only this one is waited for.
        shutdownWaiting = true;
        LampResetSendDone();
    }
    LampWaitForSendDone(waitMs);
    LampLockGuard guard;
    shutdownWaiting = false;
    return deviceInUse == device ? nullptr : device;
}
