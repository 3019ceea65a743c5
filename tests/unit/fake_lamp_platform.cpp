#include "fake_lamp_platform.h"

#include <mutex>

namespace {
std::mutex lampLock;
std::mutex recordLock;
FakeLampPlatform recorded;
}  // namespace

FakeLampPlatform& RecordedPlatform()
{
    return recorded;
}

void ResetLampControl()
{
    SetLampDevice(nullptr);
    ProcessLampLine("");
    ResetLampBytes();
    std::lock_guard<std::mutex> guard(recordLock);
    recorded = FakeLampPlatform();
}

void InitLampLock() {}

void LampLockAcquire()
{
    lampLock.lock();
}

void LampLockRelease()
{
    lampLock.unlock();
}

void LampDeviceSend(LampDevice device, const LampFeatureReport& report)
{
    std::lock_guard<std::mutex> guard(recordLock);
    recorded.sends.push_back(SentReport{device, report});
}

void LampRequestRepaint()
{
    std::lock_guard<std::mutex> guard(recordLock);
    ++recorded.repaints;
}
