#pragma once
// How the bench sums up a set of timings: nearest-rank percentiles.
#include <vector>

// The smallest sample that at least percent % of the samples do not
// exceed; 0 when there are none. For an odd count, the 50th is the median.
double Percentile(std::vector<double> samples, double percent);

struct Percentiles {
    double p50Ms = 0;
    double p99Ms = 0;
};

Percentiles P50AndP99(std::vector<double> samples);
