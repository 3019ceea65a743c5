// tolvaren-vis --help, formatted from the constants it states.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/tolvaren-vis/vis_help.h"

namespace {

TEST(VisHelp, FitsItsBufferWhole)
{
    static char help[kVisHelpMax];
    ASSERT_TRUE(FormatVisHelp(help, sizeof help));
    EXPECT_EQ(help[std::strlen(help) - 1], '\n');
    char cut[100];
    EXPECT_FALSE(FormatVisHelp(cut, sizeof cut));
}

}  // namespace
