#pragma once

#include <cstdint>

#include "lamps/lamp_identity.h"

// What the lamp makes of the HID requests that carry its lamp value: which
// it takes, and what a lamp report shows on the pins. Lamp n is bit n of
// the lamp value and GPIO n: lampsLow on GPIO0-7, lampsHigh on GPIO8-15.

// The report types of a GET_REPORT or SET_REPORT request's wValue (high byte).
enum : uint8_t {
    kHidReportInput = 1,
    kHidReportOutput = 2,
    kHidReportFeature = 3,
};

enum : uint32_t {
    kLampCount = 16,
    kLampFirstPin = 0,
    kLampPinMask = 0xFFFFu << kLampFirstPin,
};

// A SET_REPORT's setup stage: only feature report 1 of exactly 7 bytes is
// taken; any other is refused there (stalled), before its data comes.
bool LampSetReportAllowed(uint8_t type, uint8_t id, uint16_t length);

// A GET_REPORT's setup stage: only feature report 1 is answered.
bool LampGetReportAllowed(uint8_t type, uint8_t id);

// The lamp value a SET_REPORT's data stage carries: true, with *value set,
// when its bytes are a lamp report (7 bytes, report id 1 first); false for
// anything else, which then changes nothing.
bool LampValueFromReport(const uint8_t* data, uint16_t length, uint16_t* value);

// The 7 bytes a GET_REPORT answers for the lamps showing value.
void LampReportFromValue(uint16_t value, uint8_t report[LAMP_FEATURE_REPORT_LENGTH]);

// The levels of GPIO0-31 that show value: written under kLampPinMask in one
// go, so that no lamp of either row glitches in between.
uint32_t LampPinLevels(uint16_t value);
