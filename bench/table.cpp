#include "table.h"

#include <cstdio>

#include "lamps/lamp_control.h"
#include "program_driver.h"

namespace {

const double kLatencyGoal = 1.05;
const double kPacedGoalPercent = 99.0;
// The start-ups' median is their p50 when it is one of them.
static_assert(kStarts % 2 == 1, "an odd number of start-ups, for their median to be one of them");

// Latencies are tenths of a millisecond; start-ups jitter by tens of
// milliseconds and CPU times come in clock ticks of ten.
std::string Ms(double ms, int decimals = 3)
{
    return Format("%.*f ms", decimals, ms);
}

std::string Verdict(bool met)
{
    return met ? "met" : "missed";
}

void Row(const std::string& figure, const std::string& tolvaren, const std::string& reference,
         const std::string& goal, const std::string& verdict)
{
    std::printf("| %s | %s | %s | %s | %s |\n", figure.c_str(), tolvaren.c_str(), reference.c_str(),
                goal.c_str(), verdict.c_str());
}

void PrintTitle()
{
    SYSTEMTIME today;
    GetLocalTime(&today);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const std::string wine = WineVersionText().empty() ? "not Wine" : "Wine " + WineVersionText();
    std::printf("Tolvaren benchmark, %04u-%02u-%02u, %s, %lu processors\n\n", today.wYear, today.wMonth,
                today.wDay, wine.c_str(), system.dwNumberOfProcessors);
    Row("figure", "tolvaren.exe (64-bit)", "reference", "goal", "");
    Row("---", "---", "---", "---", "---");
}

double AtPercentile(const Percentiles& ms, int percentile)
{
    return percentile == 50 ? ms.p50Ms : ms.p99Ms;
}

// What a stack's rows say: the figure of the first, around its
// percentile; the bare server's note; the figure of the second.
struct LatencyLabels {
    std::string figure;
    std::string figureEnd;
    const char* bareNote;
    const char* threadFigure;
};

// p50, then p99: tolvaren's beside the bare server's, then beside the bare
// server's reading on a second thread.
void PrintLatencyRows(const std::vector<Latency>& latencies, const LatencyLabels& labels)
{
    for (int percentile : {50, 99}) {
        const double programMs = AtPercentile(latencies[0].ms, percentile);
        const double bareMs = AtPercentile(latencies[1].ms, percentile);
        const double threadMs = AtPercentile(latencies[2].ms, percentile);
        Row(labels.figure + Format("p%d", percentile) + labels.figureEnd, Ms(programMs), Ms(bareMs) + labels.bareNote,
            Format("<= %.2fx bare", kLatencyGoal),
            Format("%.3fx, %s", programMs / bareMs, Verdict(programMs / bareMs <= kLatencyGoal).c_str()));
        Row(labels.threadFigure, Ms(programMs), Ms(threadMs) + " (bare server, second thread)", "-",
            Format("%.3fx", programMs / threadMs));
    }
}

std::string PacedText(const Paced& paced)
{
    return Format("%.1f %% (%d of %d, written in %.2f s)", 100.0 * paced.reported / paced.written,
                  paced.reported, paced.written, paced.writeSeconds);
}

void PrintPacedAndIdleRows(const BenchFigures& f)
{
    const double pacedPercent = 100.0 * f.programPaced.reported / f.programPaced.written;
    Row(Format("lines reported, %d a second", kPacedLinesPerSecond), PacedText(f.programPaced),
        PacedText(f.barePaced) + " (bare server)", Format(">= %.0f %%", kPacedGoalPercent),
        Verdict(pacedPercent >= kPacedGoalPercent));
    // A method that saw no time in the start-up either can't see any.
    const bool cpuSeen = f.programIdle.threadsBeforeMs > 0;
    Row(Format("CPU time over %lu idle s", kIdleMs / 1000), cpuSeen ? Ms(f.programIdle.threadsMs, 0) : "unknown",
        Ms(f.minimalIdle.threadsMs, 0) + " (minimal window)", "0",
        cpuSeen ? Verdict(f.programIdle.threadsMs == 0) : "can't tell");
}

void PrintPaintRow(int percentile, const BenchFigures& f)
{
    const double slowMs = AtPercentile(f.slowPaints.ms, percentile);
    const double quickMs = AtPercentile(f.paints.ms, percentile);
    Row(Format("paint while lines stream to a %lu ms lamp, p%d (%d paints)", kSlowLampMs, percentile, kPaints),
        Ms(slowMs), Ms(quickMs) + " (lamp answering at once)", "<= the same", Verdict(slowMs <= quickMs * 1.05));
}

void PrintProgramRows(const BenchFigures& f)
{
    Row(Format("start-up to window shown, median of %d", kStarts), Ms(Percentile(f.programStarts, 50), 1),
        Ms(Percentile(f.minimalStarts, 50), 1) + " (minimal window)", "-", "");
    PrintPaintRow(50, f);
    PrintPaintRow(99, f);
    Row("shutdown, WM_CLOSE to the process's end, a report stuck", Ms(f.stuckShutdownMs, 1),
        Ms(f.shutdownMs, 1) + " (no report under way)", Format("about %u ms", kLampShutdownWaitMs), "");
    Row("size, 32-bit build", f.size32, "-", "-", "");
    Row("size, 64-bit build", f.size64, "-", "-", "");
}

void PrintStartUps(const char* name, const std::vector<double>& starts)
{
    std::printf("%s", name);
    for (double ms : starts) std::printf(" %.1f", ms);
}

void PrintNotes(const BenchFigures& f)
{
    std::printf("\nLatency: from just before WriteFile to the simulated device's HidD_SetFeature; "
                "%d rounds of %d lines, the servers in turn, each round after %d unmeasured lines. "
                "tolvaren reads its pipe on a second thread, beside its window's; the bare server "
                "reading on a second thread shows what that arrangement costs under this Wine.\n",
                kLatencyRounds, kLatencyLinesPerRound, kWarmUpLines);
    std::printf("Paints: WM_PAINT sent to the window after invalidating it, timed to its answer, while a "
                "writer sent a lamp line every millisecond or so (%d and %d lines taken during the "
                "paints); 5 %% is allowed for noise.\n",
                f.paints.linesDuring, f.slowPaints.linesDuring);
    PrintStartUps("Start-ups (ms), tolvaren.exe:", f.programStarts);
    PrintStartUps("; minimal window:", f.minimalStarts);
    std::printf("\nCPU time: the sum of the program's thread times (GetThreadTimes, in the system's "
                "clock ticks), which came to %.0f ms from its start to the idle time. GetProcessTimes "
                "gave %.3f ms over the idle time%s.\n",
                f.programIdle.threadsBeforeMs, f.programIdle.processTimesMs,
                f.programIdle.processTimesAreTheCallers
                    ? ", but under this Wine it answers for another process with the caller's own times"
                    : "");
}

}  // namespace

void PrintTable(const BenchFigures& figures)
{
    PrintTitle();
    PrintLatencyRows(figures.latencies,
                     {"latency WriteFile to report, ", Format(" (%d lines)", kLatencyLines), " (bare server)",
                      "the same, beside a bare server reading on a second thread"});
    PrintLatencyRows(figures.realLatencies, {"the same on Wine's HID stack (a virtual lamp), ", "",
                                             " (bare server, same stack)",
                                             "the same, beside the bare server reading on a second thread"});
    PrintPacedAndIdleRows(figures);
    PrintProgramRows(figures);
    PrintNotes(figures);
    std::fflush(stdout);
}
