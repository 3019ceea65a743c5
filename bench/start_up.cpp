// The time from CreateProcess to a program's visible window, found as a
// user's tools would find it: by enumerating the top-level windows.
#include "measurements.h"

namespace {

bool MeasureStartUp(const BenchProgram& program, std::vector<double>* ms)
{
    const long long before = Counter();
    std::unique_ptr<RunningProgram> running = Launch(program);
    if (!running || WaitForWindow(program, *running, 1) == NULL) return false;
    ms->push_back(CountsToMs(Counter() - before));
    StopProgram(program, &running);
    return true;
}

}  // namespace

// In turn, so that drift in the machine's speed falls on both alike.
bool MeasureStartUps(const BenchProgram& program, const BenchProgram& reference, std::vector<double>* programMs,
                     std::vector<double>* referenceMs)
{
    Progress(Format("start-up of %s and %s, %d each, in turn", program.name, reference.name, kStarts));
    for (int i = 0; i < kStarts; ++i)
        if (!MeasureStartUp(program, programMs) || !MeasureStartUp(reference, referenceMs)) return false;
    return true;
}
