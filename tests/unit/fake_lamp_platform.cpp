#include "fake_lamp_platform.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::mutex lampLock;
std::mutex sendLock;

// The send-done event.
std::mutex eventLock;
std::condition_variable eventChanged;
bool eventSet = false;

std::mutex recordLock;
std::condition_variable gateChanged;
FakeLampPlatform recorded;
bool sendsHeld = false;
int sendsAtGate = 0;
unsigned stallEvery = 0;
unsigned stallMicroseconds = 0;
unsigned long sendCount = 0;

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

void MarkFakeLampDeviceTaken(LampDevice device, bool leftUnderReport)
{
    std::lock_guard<std::mutex> guard(recordLock);
    // A report that already began counts as the one left under way.
    const bool begun = recorded.sendsUnderWay[device] > 0;
    recorded.takenDevices[device] = leftUnderReport && !begun ? 1 : 0;
}

void CloseFakeLampDevice(LampDevice device)
{
    std::lock_guard<std::mutex> guard(recordLock);
    recorded.closedDevices.insert(device);
    if (recorded.sendsUnderWay[device] > 0) ++recorded.sendsOnClosedDevices;
}

void SetFakeSendStall(unsigned everyNth, unsigned microseconds)
{
    std::lock_guard<std::mutex> guard(recordLock);
    stallEvery = everyNth;
    stallMicroseconds = microseconds;
}

void HoldFakeSends()
{
    std::lock_guard<std::mutex> guard(recordLock);
    sendsHeld = true;
}

void ReleaseFakeSends()
{
    {
        std::lock_guard<std::mutex> guard(recordLock);
        sendsHeld = false;
    }
    gateChanged.notify_all();
}

bool WaitForHeldSend(unsigned timeoutMs)
{
    std::unique_lock<std::mutex> guard(recordLock);
    return gateChanged.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [] { return sendsAtGate > 0; });
}

void ResetLampControl()
{
    ReleaseFakeSends();
    SetLampDevice(nullptr);
    ProcessLampLine("");
    ResetLampBytes();
    std::lock_guard<std::mutex> guard(recordLock);
    recorded = FakeLampPlatform();
    stallEvery = 0;
    sendCount = 0;
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

void LampSendLockAcquire()
{
    sendLock.lock();
}

void LampSendLockRelease()
{
    sendLock.unlock();
}

void LampResetSendDone()
{
    std::lock_guard<std::mutex> guard(eventLock);
    eventSet = false;
}

void LampSignalSendDone()
{
    {
        std::lock_guard<std::mutex> guard(eventLock);
        eventSet = true;
    }
    eventChanged.notify_all();
}

bool LampWaitForSendDone(unsigned waitMs)
{
    std::unique_lock<std::mutex> guard(eventLock);
    const bool signalled =
        eventChanged.wait_for(guard, std::chrono::milliseconds(waitMs), [] { return eventSet; });
    eventSet = false;  // an auto-reset event
    return signalled;
}

void LampDeviceSend(LampDevice device, const LampFeatureReport& report)
{
    unsigned stall = 0;
    {
        std::unique_lock<std::mutex> guard(recordLock);
        recorded.sends.push_back(SentReport{device, report});
        const auto taken = recorded.takenDevices.find(device);
        if (taken != recorded.takenDevices.end() && taken->second-- <= 0) ++recorded.sendsAfterTaken;
        if (recorded.closedDevices.count(device) != 0) ++recorded.sendsOnClosedDevices;
        ++recorded.sendsUnderWay[device];
        ++sendCount;
        if (stallEvery != 0 && sendCount % stallEvery == 0) stall = stallMicroseconds;
        if (sendsHeld) {
            ++sendsAtGate;
            gateChanged.notify_all();
            gateChanged.wait(guard, [] { return !sendsHeld; });
            --sendsAtGate;
        }
    }
    if (stall != 0) std::this_thread::sleep_for(std::chrono::microseconds(stall));
    std::lock_guard<std::mutex> guard(recordLock);
    --recorded.sendsUnderWay[device];
}

void LampRequestRepaint()
{
    std::lock_guard<std::mutex> guard(recordLock);
    ++recorded.repaints;
}
