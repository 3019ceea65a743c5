#include <gtest/gtest.h>

#include "app/panel_layout.h"

namespace {

TEST(PanelLayout, LampsTileTwoRowsOfEight)
{
    const LampBox upperLeft = LampBoxAt(0, 0);
    EXPECT_EQ(upperLeft.left, 0);
    EXPECT_EQ(upperLeft.top, 20);
    EXPECT_EQ(upperLeft.right, 32);
    EXPECT_EQ(upperLeft.bottom, 52);

    const LampBox lowerRight = LampBoxAt(1, 7);
    EXPECT_EQ(lowerRight.left, 224);
    EXPECT_EQ(lowerRight.top, 52);
    EXPECT_EQ(lowerRight.right, 256);
    EXPECT_EQ(lowerRight.bottom, 84);

    for (int column = 1; column < kLampColumns; ++column)
        EXPECT_EQ(LampBoxAt(0, column).left, LampBoxAt(0, column - 1).right);
    EXPECT_EQ(LampBoxAt(1, 3).top, LampBoxAt(0, 3).bottom);
}

TEST(PanelLayout, LeftmostLampIsTheMostSignificantBit)
{
    EXPECT_TRUE(LampLit(0x80, 0));
    EXPECT_FALSE(LampLit(0x80, 7));
    EXPECT_TRUE(LampLit(0x01, 7));
    EXPECT_FALSE(LampLit(0x01, 0));
    for (int column = 0; column < kLampColumns; ++column) {
        EXPECT_TRUE(LampLit(0xFF, column));
        EXPECT_FALSE(LampLit(0x00, column));
        EXPECT_EQ(LampLit(0xA5, column), ((0xA5 << column) & 0x80) != 0);
    }
}

TEST(PanelLayout, WindowSitsByTheOldCentringFormula)
{
    struct {
        int full;
        int left;
        int top;
    } const cases[] = {
        {1024, 389, 455}, {1025, 389, 456}, {246, 0, 66}, {100, -73, -6}, {0, -123, -56},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MainWindowLeft(c.full), c.left) << c.full;
        EXPECT_EQ(MainWindowTop(c.full), c.top) << c.full;
    }
}

}  // namespace
