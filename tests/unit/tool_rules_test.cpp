// The tools' shared rules for how they were started and where their
// companions lie.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tools/common/tool_rules.h"

namespace {

TEST(ToolRules, ADoubleClickIsToldFromAPromptAndATerminal)
{
    struct {
        int argc;
        unsigned processes;
        bool window;
        bool doubleClick;
        const char* what;
    } const cases[] = {
        {1, 1, true, true, "Explorer: a console and a window of its own"},
        {0, 1, true, true, "started without even its own name"},
        {1, 2, true, false, "a command prompt holds the console too"},
        {1, 3, true, false, "a batch file run from a prompt"},
        {2, 1, true, false, "a shortcut that gives arguments"},
        {1, 1, false, false, "Wine in a Unix terminal: a console without a window"},
        {1, 0, true, false, "no console, or its processes can't be listed"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsDoubleClickStart(c.argc, c.processes, c.window), c.doubleClick) << c.what;
}

TEST(ToolRules, ACompanionIsLookedForInTheProgramsOwnFolder)
{
    struct {
        const char* path;
        unsigned size;
        const char* beside;  // nullptr: none
    } const cases[] = {
        {"C:\\Tools\\Tolvaren\\tolvaren-vis.exe", 64, "C:\\Tools\\Tolvaren\\tolvaren.exe"},
        {"Z:\\work\\build/tests\\tolvaren-vis.exe", 64, "Z:\\work\\build/tests\\tolvaren.exe"},
        {"Z:\\work/build/tolvaren-vis.exe", 64, "Z:\\work/build/tolvaren.exe"},
        {"\\\\server\\share\\tolvaren-vis.exe", 64, "\\\\server\\share\\tolvaren.exe"},
        {"C:\\tolvaren-vis.exe", 16, "C:\\tolvaren.exe"},  // just fits with its NUL
        {"C:\\tolvaren-vis.exe", 15, nullptr},
        {"tolvaren-vis.exe", 64, nullptr},
        {"", 64, nullptr},
    };
    for (const auto& c : cases) {
        char out[64];
        std::memset(out, 'X', sizeof out);
        const bool found = PathBeside(c.path, "tolvaren.exe", out, c.size);
        EXPECT_EQ(found, c.beside != nullptr) << c.path << " in " << c.size;
        if (c.beside != nullptr) {
            EXPECT_STREQ(found ? out : "", c.beside) << c.path;
        } else {
            EXPECT_EQ(out[0], 'X') << c.path << ": untouched";
        }
    }
}

}  // namespace
