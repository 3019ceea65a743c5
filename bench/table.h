#pragma once
// The bench's figures as a table with the goals they are held to, and the
// notes below it, on standard output: what scripts/bench.sh reads. Its
// title names the Wine (", Wine 8.0,"); each row is "| ... |" of five
// cells: the figure, tolvaren's value, the reference's, the goal, the
// verdict; the notes are the lines after.
#include <string>
#include <vector>

#include "measurements.h"

struct BenchFigures {
    // tolvaren, the bare server, the bare server reading on a second
    // thread: with the simulated lamp, and on Wine's HID stack.
    std::vector<Latency> latencies;
    std::vector<Latency> realLatencies;
    Paced programPaced, barePaced;
    IdleCpu programIdle, minimalIdle;
    std::vector<double> programStarts, minimalStarts;
    PaintTimes paints, slowPaints;
    double shutdownMs = 0, stuckShutdownMs = 0;
    std::string size32, size64;
};

void PrintTable(const BenchFigures& figures);
