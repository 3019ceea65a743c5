#pragma once

#include <cstdint>

// Between the lamp's USB side (usb_lamp_rp2040.cpp) and its pins and power
// state (lamp_main_rp2040.cpp). Everything here runs in tud_task(), on the
// main loop, never in an interrupt.

// A lamp report's value reached the device.
void LampOnReport(uint16_t value);
// The host suspended the bus, resumed it, or reset it (or it went away).
void LampOnSuspend();
void LampOnResume();
void LampOnBusReset();
// The lamp value the pins show now.
uint16_t LampShownNow();
// The USB serial number, read at boot.
const char* LampSerialNumber();
