#pragma once

#include <cstdint>

#include "firmware/lamp_report.h"

// The sweep after power-up: all lamps dark a moment, then each lamp lit on
// its own, once, in the panel's reading order (the upper row from left to
// right, bits 7 to 0, then the lower row, bits 15 to 8), all within a
// second, so that a builder sees every lamp wired and where it sits.
enum : uint32_t {
    kSweepDarkUs = 100000,
    kSweepStepUs = 50000,
    kSweepEndUs = kSweepDarkUs + kLampCount * kSweepStepUs,
};

struct SweepStep {
    bool running;    // false from kSweepEndUs on: the sweep is over
    uint16_t lamps;  // the lamp value it shows
    uint32_t nextUs; // when it shows the next one (since power-up)
};

// The sweep at elapsedUs microseconds since power-up.
SweepStep SweepStepAt(uint32_t elapsedUs);
