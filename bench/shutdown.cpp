// The time from WM_CLOSE to the end of tolvaren's process, with its lamp's
// report stuck or none under way.
#include "measurements.h"

#include <algorithm>

namespace {

// Writes a lamp line and waits until its report is under way: with a
// delay, stalled at the lamp; without, taken. The writer stays connected,
// as a plug-in does.
bool ReportUnderWay(const SimDeviceBench& lamp, DWORD delayMs, PipeWriter* writer)
{
    if (writer->Open() != 0 || !writer->Write(LampLine(0x00FF))) return Fail("can't write to tolvaren's pipe");
    const std::string stall = Format("stall %lu", delayMs);
    const bool underWay = WaitUntil([&] {
        const std::vector<std::string> events = lamp.Events();
        if (delayMs > 0) return std::find(events.begin(), events.end(), stall) != events.end();
        return !lamp.Reports().empty();
    }, 5000);
    return underWay || Fail("the lamp line's report never reached the simulated lamp");
}

}  // namespace

bool MeasureShutdown(DWORD delayMs, double* ms)
{
    Progress(Format("shutdown of tolvaren, %s", delayMs > 0 ? "its lamp's report stuck" : "its lamp idle"));
    SimDeviceBench lamp;
    std::unique_ptr<RunningProgram> running = StartBesideLamp(delayMs, &lamp);
    if (!running) return false;
    HWND window = running->MainWindow();
    PipeWriter writer;
    if (!ReportUnderWay(lamp, delayMs, &writer)) return false;

    const long long before = Counter();
    PostMessageA(window, WM_CLOSE, 0, 0);
    const DWORD code = running->WaitForExit(30000);
    *ms = CountsToMs(Counter() - before);
    if (code == STILL_ACTIVE) return Fail("tolvaren did not end within 30 s of WM_CLOSE");
    return true;
}
