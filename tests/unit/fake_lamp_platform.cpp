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

std::vector<SentReport> TakeRecordedSends()
{
    std::vector<SentReport> sends;
    std::lock_guard<std::mutex> guard(recordLock);
    sends.swap(recorded.sends);
    return sends;
}

void CloseFakeLampDevice(LampDevice device)
{
    std::lock_guard<std::mutex> guard(recordLock);
    recorded.closedDevices.insert(device);
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
    if (recorded.closedDevices.count(device) != 0) ++recorded.sendsOnClosedDevices;
}

void LampRequestRepaint()
{
    std::lock_guard<std::mutex> guard(recordLock);
    ++recorded.repaints;
}
