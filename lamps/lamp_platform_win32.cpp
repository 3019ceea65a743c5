// The lamp state's lock, the device send and the repaint request on Windows.
#include "lamps/lamp_control.h"

#include "app/app_state.h"

extern "C" {
#include <hidsdi.h>
}

namespace {
// A critical section rather than an SRW lock: the program must still load on
// Windows 9x far enough to say that it needs NT.
CRITICAL_SECTION lampLock;
}

void InitLampLock()
{
    InitializeCriticalSection(&lampLock);
}

void LampLockAcquire()
{
    EnterCriticalSection(&lampLock);
}

void LampLockRelease()
{
    LeaveCriticalSection(&lampLock);
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
