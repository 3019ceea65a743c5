// The lamp state's locks, the send-done signal, the device send and the
// repaint request on Windows.
#include "lamps/lamp_control.h"

#include "app/app_state_win32.h"

extern "C" {
#include <hidsdi.h>
}

namespace {
// Critical sections and an event rather than SRW locks or
// TryEnterCriticalSection: the program must still load on Windows 9x far
// enough to say that it needs NT. Uncontended, a critical section stays in
// user mode, so a line costs no extra trip into the system.
CRITICAL_SECTION lampLock;
CRITICAL_SECTION sendLock;
HANDLE sendDone = NULL;
}  // namespace

void InitLampLock()
{
    InitializeCriticalSection(&lampLock);
    InitializeCriticalSection(&sendLock);
    sendDone = CreateEventA(NULL, FALSE, FALSE, NULL);
}

void LampLockAcquire()
{
    EnterCriticalSection(&lampLock);
}

void LampLockRelease()
{
    LeaveCriticalSection(&lampLock);
}

void LampSendLockAcquire()
{
    EnterCriticalSection(&sendLock);
}

void LampSendLockRelease()
{
    LeaveCriticalSection(&sendLock);
}

void LampResetSendDone()
{
    if (sendDone != NULL) ResetEvent(sendDone);
}

void LampSignalSendDone()
{
    if (sendDone != NULL) SetEvent(sendDone);
}

bool LampWaitForSendDone(unsigned waitMs)
{
    // Without the event shutdown can't learn when the send ends, so it
    // takes the send as stuck and leaves the handle open.
    return sendDone != NULL && WaitForSingleObject(sendDone, waitMs) == WAIT_OBJECT_0;
}

void LampDeviceSend(LampDevice device, const LampFeatureReport& report)
{
    // The device's answer changes nothing: a refused report is not retried,
    // and the next line sends on the same handle.
    LampFeatureReport buffer = report;
    HidD_SetFeature(static_cast<HANDLE>(device), buffer.bytes, sizeof buffer.bytes);
}

void LampRequestRepaint()
{
    if (mainWindow != NULL) InvalidateRect(mainWindow, NULL, TRUE);
}
