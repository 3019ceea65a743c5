#include "firmware/lamp_report.h"

// The report as the program sends it: id 1, 0, lampsLow, lampsHigh, 0, 0, 0.
enum : unsigned {
    kIdByte = 0,
    kLowByte = 2,
    kHighByte = 3,
};

bool LampSetReportAllowed(uint8_t type, uint8_t id, uint16_t length)
{
    return type == kHidReportFeature && id == LAMP_FEATURE_REPORT_ID && length == LAMP_FEATURE_REPORT_LENGTH;
}

bool LampGetReportAllowed(uint8_t type, uint8_t id)
{
    return type == kHidReportFeature && id == LAMP_FEATURE_REPORT_ID;
}

bool LampValueFromReport(const uint8_t* data, uint16_t length, uint16_t* value)
{
    if (length != LAMP_FEATURE_REPORT_LENGTH || data[kIdByte] != LAMP_FEATURE_REPORT_ID) return false;
    *value = static_cast<uint16_t>(data[kLowByte] | (data[kHighByte] << 8));
    return true;
}

void LampReportFromValue(uint16_t value, uint8_t report[LAMP_FEATURE_REPORT_LENGTH])
{
    for (unsigned i = 0; i < LAMP_FEATURE_REPORT_LENGTH; ++i) report[i] = 0;
    report[kIdByte] = LAMP_FEATURE_REPORT_ID;
    report[kLowByte] = static_cast<uint8_t>(value & 0xFF);
    report[kHighByte] = static_cast<uint8_t>(value >> 8);
}

uint32_t LampPinLevels(uint16_t value)
{
    return static_cast<uint32_t>(value) << kLampFirstPin;
}
