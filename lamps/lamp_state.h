#pragma once

#include <cstdint>

#include "lamps/lamp_identity.h"

// What the panel shows: the last line handed in and the two lamp bytes of the
// last lamp value (lampsLow: bits 0-7, upper row; lampsHigh: bits 8-15,
// lower row).
struct LampState {
    char text[9];
    uint8_t lampsLow;
    uint8_t lampsHigh;
};

enum : unsigned {
    kLampLineMax = 8,       // characters of a line, without its NUL
    kLampReportId = LAMP_FEATURE_REPORT_ID,
    kLampReportSize = LAMP_FEATURE_REPORT_LENGTH,
};

// The feature report the lamp device takes: id 1, 0, lampsLow, lampsHigh, 0, 0, 0.
struct LampFeatureReport {
    uint8_t bytes[kLampReportSize];
};
static_assert(sizeof(LampFeatureReport) == 7, "the device takes exactly 7 bytes");

// True when text is a lamp command: '>', then '5' or '3', then 'L'.
bool IsLampCommand(const char* text);

// Stores line (cut to kLampLineMax characters) as the state's text. For a
// lamp command whose value text converts, sets both lamp bytes and returns
// true: a report is due. Any other line leaves the lamp bytes alone.
bool ApplyLampLine(LampState* state, const char* line);

LampFeatureReport MakeLampFeatureReport(const LampState& state);
