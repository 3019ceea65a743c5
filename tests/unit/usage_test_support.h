#pragma once
// The tools' command-line parsers, run as their programs run them: on the
// arguments as strings, with the message buffer filled with 'X' first, so
// that a parser that says nothing, or leaves an old message behind, shows
// as such.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/common/tool_rules.h"  // kUsageErrorMax

using Args = std::vector<std::string>;

template <typename Command>
using UsageParser = bool (*)(int argc, const char* const* argv, Command* command, char* error);

// program: the program's name first, as main's argv has it; nullptr for a
// parser that takes only what follows it.
template <typename Command>
bool ParseArgs(UsageParser<Command> parse, const char* program, const Args& args, Command* command,
               std::string* error)
{
    std::vector<const char*> argv;
    if (program != nullptr) argv.push_back(program);
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    char text[kUsageErrorMax];
    std::memset(text, 'X', sizeof text);
    text[sizeof text - 1] = '\0';
    const bool ok = parse(static_cast<int>(argv.size()), argv.data(), command, text);
    *error = text;
    return ok;
}

struct RefusedCase {
    Args args;
    const char* says;  // a part of the message
};

// Each case is refused, with a message that says its part and fits its
// buffer whole.
template <typename Command, size_t N>
void ExpectRefused(UsageParser<Command> parse, const char* program, const RefusedCase (&cases)[N])
{
    for (const RefusedCase& c : cases) {
        const std::string name = ::testing::PrintToString(c.args).substr(0, 80);
        Command command;
        std::string error;
        EXPECT_FALSE(ParseArgs(parse, program, c.args, &command, &error)) << name;
        EXPECT_NE(error.find(c.says), std::string::npos) << name << ": " << error;
        EXPECT_LT(error.size() + 1, kUsageErrorMax) << name << " was cut short: " << error;
    }
}
