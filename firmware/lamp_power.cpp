#include "firmware/lamp_power.h"

LampPower LampPowerUp()
{
    return LampPower{0, true, false};
}

void LampPowerReport(LampPower* power, uint16_t value)
{
    power->value = value;
    power->sweeping = false;
}

void LampPowerSweepDone(LampPower* power)
{
    power->sweeping = false;
}

void LampPowerSuspend(LampPower* power)
{
    power->suspended = true;
    power->sweeping = false;
}

void LampPowerResume(LampPower* power)
{
    power->suspended = false;
}

void LampPowerReset(LampPower* power)
{
    power->value = 0;
    power->suspended = false;
}

uint16_t LampPowerShown(const LampPower& power, uint16_t sweepLamps)
{
    if (power.suspended) return 0;
    return power.sweeping ? sweepLamps : power.value;
}
