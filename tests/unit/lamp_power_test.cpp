// What the lamps show as the bus comes and goes: the sweep until the first
// report, dark while suspended, the last value again on resume, dark after
// a bus reset.
#include <gtest/gtest.h>

#include "firmware/lamp_power.h"

namespace {

const uint16_t kSweepLamp = 0x0080;

TEST(LampPower, TheSweepRunsUntilTheFirstReportThroughTheEnumerationsReset)
{
    LampPower power = LampPowerUp();
    EXPECT_EQ(LampPowerShown(power, 0), 0);
    EXPECT_EQ(LampPowerShown(power, kSweepLamp), kSweepLamp);
    LampPowerReset(&power);
    EXPECT_EQ(LampPowerShown(power, kSweepLamp), kSweepLamp) << "a host's enumeration starts with a bus reset";
    LampPowerReport(&power, 0x5AA5);
    EXPECT_EQ(LampPowerShown(power, kSweepLamp), 0x5AA5);

    LampPower swept = LampPowerUp();
    LampPowerSweepDone(&swept);
    EXPECT_EQ(LampPowerShown(swept, kSweepLamp), 0) << "dark after the sweep until the first report";
}

TEST(LampPower, SuspendDarkensResumeShowsTheLastValueResetForgetsIt)
{
    LampPower power = LampPowerUp();
    LampPowerReport(&power, 0x8001);
    LampPowerSuspend(&power);
    EXPECT_EQ(LampPowerShown(power, kSweepLamp), 0);
    LampPowerResume(&power);
    EXPECT_EQ(LampPowerShown(power, 0), 0x8001);

    LampPowerSuspend(&power);
    LampPowerReset(&power);
    EXPECT_EQ(LampPowerShown(power, 0), 0) << "a reset while suspended (a host waking the bus) stays dark";
    LampPowerResume(&power);
    EXPECT_EQ(LampPowerShown(power, 0), 0);
}

TEST(LampPower, ASuspendDuringTheSweepEndsIt)
{
    LampPower power = LampPowerUp();
    LampPowerSuspend(&power);
    EXPECT_EQ(LampPowerShown(power, kSweepLamp), 0);
    LampPowerResume(&power);
    EXPECT_EQ(LampPowerShown(power, kSweepLamp), 0);
}

} // namespace
