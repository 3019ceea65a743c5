#pragma once

#include <cstdint>

// What the lamps show as the bus comes and goes: the host's last lamp
// value, the power-up sweep until the host's first report, and dark while
// the host suspends the bus (a bus-powered device may draw at most 2.5 mA
// then). A bus reset or an unplug forgets the value; the sweep goes on
// through a bus reset, since a host's enumeration starts with one.
struct LampPower {
    uint16_t value;  // the host's last lamp value; 0 before its first report
    bool sweeping;   // the power-up sweep still runs
    bool suspended;  // the host has suspended the bus
};

// At power-up: dark, the sweep about to run, no value yet.
LampPower LampPowerUp();
// A lamp report: its value, and the sweep ends at once.
void LampPowerReport(LampPower* power, uint16_t value);
// The sweep has run its course.
void LampPowerSweepDone(LampPower* power);
// Suspend ends the sweep too: its lit lamp alone draws more than allowed.
void LampPowerSuspend(LampPower* power);
void LampPowerResume(LampPower* power);
// A bus reset or an unplug.
void LampPowerReset(LampPower* power);

// The lamp value the pins show, given the one the sweep shows now.
uint16_t LampPowerShown(const LampPower& power, uint16_t sweepLamps);
