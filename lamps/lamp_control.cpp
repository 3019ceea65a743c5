#include "lamps/lamp_control.h"

namespace {

LampState lampState = {{0}, 0, 0};
LampDevice deviceHandle = nullptr;

class LampLockGuard {
public:
    LampLockGuard() { LampLockAcquire(); }
    ~LampLockGuard() { LampLockRelease(); }
    LampLockGuard(const LampLockGuard&) = delete;
    LampLockGuard& operator=(const LampLockGuard&) = delete;
};

}  // namespace

void ProcessLampLine(const char* line)
{
    {
        LampLockGuard guard;
        if (ApplyLampLine(&lampState, line) && deviceHandle != nullptr)
            LampDeviceSend(deviceHandle, MakeLampFeatureReport(lampState));
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

LampDevice TakeLampDevice()
{
    LampLockGuard guard;
    LampDevice device = deviceHandle;
    deviceHandle = nullptr;
    return device;
}
