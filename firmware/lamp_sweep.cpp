#include "firmware/lamp_sweep.h"

SweepStep SweepStepAt(uint32_t elapsedUs)
{
    if (elapsedUs >= kSweepEndUs) return SweepStep{false, 0, kSweepEndUs};
    if (elapsedUs < kSweepDarkUs) return SweepStep{true, 0, kSweepDarkUs};
    const uint32_t step = (elapsedUs - kSweepDarkUs) / kSweepStepUs;
    // Steps 0-7 are the upper row's bits 7..0, steps 8-15 the lower row's 15..8.
    const uint32_t bit = step < 8 ? 7 - step : 23 - step;
    return SweepStep{true, static_cast<uint16_t>(1u << bit), kSweepDarkUs + (step + 1) * kSweepStepUs};
}
