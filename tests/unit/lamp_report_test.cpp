// The firmware's rules for the lamp's reports: which SET_REPORT and
// GET_REPORT requests it takes, and what a lamp report shows on the pins.
#include <gtest/gtest.h>

#include <cstring>

#include "firmware/lamp_report.h"
#include "lamps/lamp_state.h"

namespace {

TEST(LampReport, OnlyFeatureReportOneOfSevenBytesIsTaken)
{
    struct {
        uint8_t type, id;
        uint16_t length;
        bool taken;
    } const cases[] = {
        {kHidReportFeature, 1, 7, true},
        {kHidReportFeature, 2, 7, false},  {kHidReportFeature, 0, 7, false},
        {kHidReportFeature, 1, 3, false},  {kHidReportFeature, 1, 8, false},
        {kHidReportFeature, 1, 0, false},  {kHidReportOutput, 1, 7, false},
        {kHidReportInput, 1, 7, false},    {0, 1, 7, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LampSetReportAllowed(c.type, c.id, c.length), c.taken)
            << "type " << int(c.type) << ", id " << int(c.id) << ", " << c.length << " bytes";
        EXPECT_EQ(LampGetReportAllowed(c.type, c.id), c.type == kHidReportFeature && c.id == 1);
    }
}

TEST(LampReport, TheProgramsReportShowsBothBytesOnTheirRows)
{
    LampState state = {">5L5AA5", 0xA5, 0x5A};
    const LampFeatureReport sent = MakeLampFeatureReport(state);
    uint16_t value = 0;
    ASSERT_TRUE(LampValueFromReport(sent.bytes, sizeof sent.bytes, &value));
    EXPECT_EQ(value, 0x5AA5);
    // lampsLow on GPIO0-7, lampsHigh on GPIO8-15, nothing beyond.
    EXPECT_EQ(LampPinLevels(value), 0x5AA5u);
    EXPECT_EQ(LampPinLevels(0xFFFF) & ~kLampPinMask, 0u);
    EXPECT_EQ(kLampPinMask, 0xFFFFu);

    uint8_t answer[LAMP_FEATURE_REPORT_LENGTH];
    LampReportFromValue(value, answer);
    EXPECT_EQ(0, std::memcmp(answer, sent.bytes, sizeof answer)) << "GET_REPORT answers what the program sends";
}

TEST(LampReport, DataThatIsNoLampReportChangesNothing)
{
    const uint8_t wrongId[7] = {2, 0, 0xFF, 0xFF, 0, 0, 0};
    const uint8_t good[8] = {1, 0, 0x34, 0x12, 0, 0, 0, 0};
    uint16_t value = 0xBEEF;
    EXPECT_FALSE(LampValueFromReport(wrongId, 7, &value));
    EXPECT_FALSE(LampValueFromReport(good, 8, &value));
    EXPECT_FALSE(LampValueFromReport(good, 6, &value));
    EXPECT_EQ(value, 0xBEEF);
    EXPECT_TRUE(LampValueFromReport(good, 7, &value));
    EXPECT_EQ(value, 0x1234);
}

} // namespace
