#pragma once
// The bench's measurements, a file each, and the figures they give. Each
// says on standard error what it measures, and when it fails, why.
#include <windows.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "percentiles.h"
#include "report_tail.h"

// ---- latency.cpp: from a lamp line's write to the lamp's report -----------
// Lines before the measured ones of each round, so that first-use costs
// (page faults, the first paint) stay out of the percentiles.
const int kWarmUpLines = 10;
// Enough rounds that p99 rests on a dozen lines of each server.
const int kLatencyRounds = 40;
const int kLatencyLinesPerRound = 30;
const int kLatencyLines = kLatencyRounds * kLatencyLinesPerRound;

struct Latency {
    std::vector<double> samplesMs;
    Percentiles ms;
};

// The servers of the pipe in turn, on the lamp whose log tail follows: one
// latency each, in the order given.
bool MeasureLatencies(const std::vector<const BenchProgram*>& servers, ReportTail* tail,
                      std::vector<Latency>* latencies);
// The same on Wine's own HID stack with a virtual lamp: tolvaren, the bare
// server, the bare server reading on a second thread.
bool MeasureRealStackLatencies(std::vector<Latency>* latencies);

// ---- paced_lines.cpp: the lines a server reports when they come fast ------
const int kPacedLines = 3000;
const int kPacedLinesPerSecond = 1000;

struct Paced {
    int written = 0;
    int reported = 0;
    double writeSeconds = 0;
};

bool MeasurePaced(const BenchProgram& server, ReportTail* tail, Paced* paced);

// ---- idle_cpu.cpp: the CPU time a program takes doing nothing -------------
const DWORD kIdleMs = 10000;

struct IdleCpu {
    double threadsMs = 0;        // summed thread times over the idle time
    double threadsBeforeMs = 0;  // the same from the start to the idle time
    double processTimesMs = 0;   // what GetProcessTimes says over the same time
    bool processTimesAreTheCallers = false;
};

bool MeasureIdleCpu(const BenchProgram& program, IdleCpu* idle);

// ---- start_up.cpp: from CreateProcess to the shown window -----------------
const int kStarts = 5;

// Each program kStarts times, the two in turn.
bool MeasureStartUps(const BenchProgram& program, const BenchProgram& reference, std::vector<double>* programMs,
                     std::vector<double>* referenceMs);

// ---- paints.cpp: tolvaren's paints while lines stream to its lamp ---------
const DWORD kSlowLampMs = 10;
const int kPaints = 200;

struct PaintTimes {
    Percentiles ms;
    int linesDuring = 0;  // lamp lines the program took while the paints ran
};

// With a lamp of its own whose every report takes delayMs (0: one that
// answers at once).
bool MeasurePaints(DWORD delayMs, PaintTimes* times);

// ---- shutdown.cpp: from WM_CLOSE to the end of tolvaren's process ---------
// A lamp that stops answering.
const DWORD kStuckLampMs = 20000;

// With a lamp of its own whose report is stuck for delayMs (0: none under way).
bool MeasureShutdown(DWORD delayMs, double* ms);

// ---- sizes.cpp --------------------------------------------------------------
// The size of the executable at path (Unix or Windows), "not given" for NULL.
std::string SizeText(const char* path);
