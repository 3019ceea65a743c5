#include "lamps/lamp_state.h"

#include "lamps/hex_scan.h"

bool IsLampCommand(const char* text)
{
    return text[0] == '>' && (text[1] == '5' || text[1] == '3') && text[2] == 'L';
}

bool ApplyLampLine(LampState* state, const char* line)
{
    unsigned length = 0;
    while (length < kLampLineMax && line[length] != '\0') {
        state->text[length] = line[length];
        ++length;
    }
    state->text[length] = '\0';

    if (!IsLampCommand(state->text)) return false;

    uint32_t value = 0;
    // A value text that converts nothing gives no lamp value at all, so the
    // lamps keep what they show rather than taking an arbitrary one.
    if (ScanHexX(state->text + 3, &value) != 1) return false;

    state->lampsLow = static_cast<uint8_t>(value & 0xFFu);
    state->lampsHigh = static_cast<uint8_t>((value >> 8) & 0xFFu);
    return true;
}

LampFeatureReport MakeLampFeatureReport(const LampState& state)
{
    LampFeatureReport report = {{static_cast<uint8_t>(kLampReportId), 0, state.lampsLow,
                                 state.lampsHigh, 0, 0, 0}};
    return report;
}
