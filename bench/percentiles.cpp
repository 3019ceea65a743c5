#include "percentiles.h"

#include <algorithm>
#include <cmath>

namespace {

double NearestRank(const std::vector<double>& sorted, double percent)
{
    if (sorted.empty()) return 0;
    size_t rank = static_cast<size_t>(std::ceil(percent / 100.0 * static_cast<double>(sorted.size())));
    if (rank < 1) rank = 1;
    return sorted[rank - 1];
}

}  // namespace

double Percentile(std::vector<double> samples, double percent)
{
    std::sort(samples.begin(), samples.end());
    return NearestRank(samples, percent);
}

Percentiles P50AndP99(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    Percentiles percentiles;
    percentiles.p50Ms = NearestRank(samples, 50);
    percentiles.p99Ms = NearestRank(samples, 99);
    return percentiles;
}
