// The lamp's serial number: the flash's id where a boot ROM can read it,
// else the fixed fallback.
#include <gtest/gtest.h>

#include <cstring>

#include "firmware/lamp_serial.h"

namespace {

TEST(LampSerial, OnlyTheBootRomsHeaderLetsItsFunctionsBeCalled)
{
    const uint8_t b0[4] = {'M', 'u', 1, 1}, b2[4] = {'M', 'u', 1, 3};
    const uint8_t none[4] = {0, 0, 0, 0}, erased[4] = {0xFF, 0xFF, 0xFF, 0xFF}, noVersion[4] = {'M', 'u', 1, 0};
    const uint8_t otherMagic[4] = {'M', 'u', 2, 1};
    EXPECT_TRUE(LampBootRomPresent(b0));
    EXPECT_TRUE(LampBootRomPresent(b2));
    EXPECT_FALSE(LampBootRomPresent(none)) << "the emulator's empty ROM";
    EXPECT_FALSE(LampBootRomPresent(erased));
    EXPECT_FALSE(LampBootRomPresent(noVersion));
    EXPECT_FALSE(LampBootRomPresent(otherMagic));
}

TEST(LampSerial, TheIdIsSixteenHexDigitsFirstByteFirst)
{
    const uint8_t id[8] = {0xE6, 0x61, 0x38, 0x52, 0x83, 0x0A, 0x1F, 0x2C};
    char text[kLampSerialDigits + 1];
    std::memset(text, 'x', sizeof text);
    LampSerialFromId(id, text);
    EXPECT_STREQ(text, "E6613852830A1F2C");
    EXPECT_EQ(std::strlen(kLampFallbackSerial), size_t(kLampSerialDigits));
}

} // namespace
