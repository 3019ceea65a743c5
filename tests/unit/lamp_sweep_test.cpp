// The power-up sweep's steps: dark, then each lamp once in the panel's
// reading order, done within a second.
#include <gtest/gtest.h>

#include "firmware/lamp_sweep.h"

namespace {

TEST(LampSweep, DarkThenEachLampOnceInPanelOrderWithinASecond)
{
    EXPECT_LT(kSweepEndUs, 1000000u);
    const SweepStep start = SweepStepAt(0);
    EXPECT_TRUE(start.running);
    EXPECT_EQ(start.lamps, 0);
    EXPECT_EQ(start.nextUs, kSweepDarkUs);

    const unsigned order[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
    uint32_t seen = 0;
    for (unsigned step = 0; step < 16; ++step) {
        const uint32_t begins = kSweepDarkUs + step * kSweepStepUs;
        for (uint32_t at : {begins, begins + kSweepStepUs - 1}) {
            const SweepStep s = SweepStepAt(at);
            EXPECT_TRUE(s.running) << at;
            EXPECT_EQ(s.lamps, 1u << order[step]) << "step " << step << " at " << at << " us";
            EXPECT_EQ(s.nextUs, begins + kSweepStepUs);
        }
        seen |= 1u << order[step];
    }
    EXPECT_EQ(seen, 0xFFFFu);

    for (uint32_t at : {uint32_t(kSweepEndUs), uint32_t(kSweepEndUs + 1), UINT32_MAX}) {
        EXPECT_FALSE(SweepStepAt(at).running) << at;
        EXPECT_EQ(SweepStepAt(at).lamps, 0);
    }
}

} // namespace
