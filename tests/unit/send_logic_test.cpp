// tolvaren-send's rules, checked where they can be against tolvaren's own
// framing and lamp commands: what it sends must be what tolvaren takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lamps/lamp_state.h"
#include "pipe/line_framing.h"
#include "tools/tolvaren-send/send_logic.h"
#include "usage_test_support.h"

namespace {

using Lines = std::vector<std::string>;

bool Parse(const Args& args, SendCommand* command, std::string* error)
{
    return ParseArgs(ParseSendArguments, "tolvaren-send", args, command, error);
}

Lines received;

void Receive(const char* line)
{
    received.push_back(line);
}

// The lines tolvaren takes from bytes that arrive all at once: it reads
// them in chunks of 18 and frames each chunk on its own.
Lines Received(const std::string& bytes)
{
    received.clear();
    for (size_t at = 0; at < bytes.size(); at += kReceiverChunkBytes) {
        const size_t count = std::min<size_t>(kReceiverChunkBytes, bytes.size() - at);
        FrameChunkTo(bytes.data() + at, static_cast<unsigned>(count), Receive);
    }
    return received;
}

// The lamp value tolvaren shows for a line it received, or -1 for none.
long LampValueOf(const Lines& lines)
{
    if (lines.size() != 1) return -1;
    LampState state = {};
    if (!ApplyLampLine(&state, lines[0].c_str())) return -1;
    return state.lampsLow | (state.lampsHigh << 8);
}

TEST(SendArguments, ReadsEachCommand)
{
    struct {
        Args args;
        SendAction action;
        std::string bytes;
        unsigned rate;
        uint32_t count;
    } const cases[] = {
        {{"00FF"}, kActionValue, ">5L00FF\n", 10, 0},
        {{"0X12345"}, kActionValue, ">5L12345\n", 10, 0},
        {{"--line", ">hello"}, kActionLine, ">hello\n", 10, 0},
        {{"--line", ""}, kActionLine, "\n", 10, 0},
        {{"--line", "--help"}, kActionLine, "--help\n", 10, 0},
        {{"--line", std::string(255, '>')}, kActionLine, std::string(255, '>') + "\n", 10, 0},
        {{"-"}, kActionStdin, "", 10, 0},
        {{"--demo"}, kActionDemo, "", 10, 0},
        {{"--demo", "50", "--count", "5"}, kActionDemo, "", 50, 5},
        {{"--count", "4294967295", "--demo", "1000"}, kActionDemo, "", 1000, 4294967295u},
        {{"--list"}, kActionList, "", 10, 0},
        {{"00FF", "/?"}, kActionHelp, "", 10, 0},
        {{"-h", "--bogus"}, kActionHelp, "", 10, 0},
    };
    for (const auto& c : cases) {
        const std::string name = ::testing::PrintToString(c.args);
        SendCommand command;
        std::string error;
        ASSERT_TRUE(Parse(c.args, &command, &error)) << name << ": " << error;
        EXPECT_EQ(error, "") << name;
        EXPECT_EQ(command.action, c.action) << name;
        EXPECT_EQ(std::string(command.line, command.length), c.bytes) << name;
        EXPECT_EQ(command.linesPerSecond, c.rate) << name;
        EXPECT_EQ(command.count, c.count) << name;
    }
}

// Each refusal says what is wrong in a message that fits whole.
TEST(SendArguments, RefusesBadCommandLines)
{
    const std::string huge(300, '7');
    const RefusedCase cases[] = {
        {{}, "nothing to do"},
        {{"00FFFF"}, "1 to 5 hexadecimal digits"},
        {{"xyz"}, "\"xyz\" is not a lamp value"},
        {{"0x"}, "not a lamp value"},
        {{""}, "not a lamp value"},
        {{huge}, "(lower row)"},
        {{"-1"}, "unknown option \"-1\""},
        {{"--line"}, "--line needs the text"},
        {{"--line", "a\nb"}, "line feed"},
        {{"--line", std::string(256, '>')}, "longer than 255"},
        {{"--demo", "0"}, "1 to 1000, not \"0\""},
        {{"--demo", "ten"}, "1 to 1000"},
        {{"--demo", "--count"}, "--count needs a number"},
        {{"--demo", "--count", "0"}, "1 to 4294967295"},
        {{"--demo", "--count", "4294967296"}, "1 to 4294967295"},
        {{"--count", "5"}, "--count alone"},
        {{"00FF", "--count", "5"}, "--count goes with --demo only"},
        {{"00FF", "0F00"}, "\"0F00\" is one too many"},
        {{"--demo", "--demo"}, "one too many"},
    };
    ExpectRefused(ParseSendArguments, "tolvaren-send", cases);
}

TEST(LampLines, EverySixteenBitValueReachesTheLamps)
{
    for (unsigned value = 0; value <= 0xFFFF; ++value) {
        char line[kLampLineBytes];
        FormatLampLine(static_cast<uint16_t>(value), line);
        ASSERT_EQ(LampValueOf(Received(std::string(line, sizeof line))), static_cast<long>(value))
            << std::hex << value;
    }
}

int LitLamps(unsigned value)
{
    int lit = 0;
    for (; value != 0; value &= value - 1) ++lit;
    return lit;
}

TEST(DemoPattern, BarGrowsAndShrinksOneLampAtATime)
{
    const uint16_t first[] = {0x0001, 0x0003, 0x0007, 0x000F, 0x001F};
    for (uint32_t step = 0; step < 5; ++step) EXPECT_EQ(DemoLampValue(step), first[step]) << step;
    EXPECT_EQ(DemoLampValue(15), 0xFFFF);

    int fullBars = 0;
    for (uint32_t step = 0; step < 90; ++step) {
        const unsigned value = DemoLampValue(step);
        EXPECT_TRUE(value != 0 && (value & (value + 1)) == 0) << "not a bar at step " << step;
        EXPECT_EQ(LitLamps(value ^ DemoLampValue(step + 1)), 1) << "steps " << step << " and next";
        EXPECT_EQ(DemoLampValue(step + 30), value) << step;
        if (value == 0xFFFF) ++fullBars;
    }
    EXPECT_EQ(fullBars, 3);
}

// The warnings must match what tolvaren does with the line.
TEST(LineChecks, JudgeLinesAsTolvarenTakesThem)
{
    struct {
        std::string line;
        LineVerdict verdict;
    } const cases[] = {
        {">5L00FF", kLineTaken},
        {">", kLineTaken},
        {">5L12345", kLineTaken},
        {">5L00FF\r", kLineTaken},
        {">>5L00FF", kLineTaken},
        {"ab>5L00FF", kLineLeadingBytes},
        {std::string(10, 'x') + ">5L00FF", kLineLeadingBytes},
        {std::string(11, 'x') + ">5L00FF", kLineSplit},
        {">5L123456", kLineTooLong},
        {">hello world", kLineTooLong},
        {"x>" + std::string(20, 'y'), kLineTooLong},
        {"5L00FF", kLineNoMarker},
        {"", kLineNoMarker},
    };
    for (const auto& c : cases) {
        const LineVerdict verdict = JudgeLine(c.line.data(), static_cast<unsigned>(c.line.size()));
        EXPECT_EQ(verdict, c.verdict) << c.line;
        char text[kLineWarningBytes];
        EXPECT_EQ(LineVerdictWarning(verdict, text, sizeof text) == nullptr, verdict == kLineTaken) << c.line;

        const size_t marker = c.line.find('>');
        const bool taken = verdict == kLineTaken || verdict == kLineLeadingBytes;
        EXPECT_EQ(Received(c.line + "\n"), taken ? Lines{c.line.substr(marker)} : Lines{}) << c.line;
    }
}

struct Split {
    Lines lines;
    bool stopAtSecond = false;
};

bool Collect(void* context, const SplitLine& line)
{
    Split* split = static_cast<Split*>(context);
    std::string text = std::to_string(line.number) + ":";
    text += line.bytes ? std::string(line.bytes, line.length) : "too long";
    split->lines.push_back(text);
    return !(split->stopAtSecond && line.number == 2);
}

Lines SplitInPieces(const std::string& input, size_t cut)
{
    Split split;
    LineSplitter splitter;
    StartLines(&splitter);
    for (size_t at = 0; at < input.size(); at += cut) {
        const size_t count = std::min(cut, input.size() - at);
        SplitLines(&splitter, input.data() + at, static_cast<unsigned>(count), Collect, &split);
    }
    FinishLines(&splitter, Collect, &split);
    return split.lines;
}

TEST(InputLines, CutIntoLinesHoweverTheInputArrives)
{
    const std::string longest(255, 'L');
    const std::string tooLong(256, 'T');
    struct {
        std::string input;
        Lines lines;
    } const cases[] = {
        {"", {}},
        {">a\n>b\n", {"1:>a\n", "2:>b\n"}},
        {">a\r\n>b", {"1:>a\n", "2:>b\n"}},
        {"\n\r\n>c\n\n", {"3:>c\n"}},
        {">a\r\r\n", {"1:>a\r\n"}},
        {"a\rb\n\r", {"1:a\rb\n"}},
        {longest + "\n" + longest + "\r\n" + longest,
         {"1:" + longest + "\n", "2:" + longest + "\n", "3:" + longest + "\n"}},
        {tooLong + "\n" + tooLong + "\r\n>b\n" + tooLong,
         {"1:too long", "2:too long", "3:>b\n", "4:too long"}},
        {std::string(2000, 'x') + "\n>ok\n", {"1:too long", "2:>ok\n"}},
    };
    for (const auto& c : cases) {
        for (size_t cut : {c.input.size() + 1, size_t{1}, size_t{2}, size_t{7}, size_t{256}})
            EXPECT_EQ(SplitInPieces(c.input, cut), c.lines)
                << c.input.substr(0, 20) << " in pieces of " << cut;
    }
}

TEST(InputLines, NothingMoreOnceTheSinkStops)
{
    Split split;
    split.stopAtSecond = true;
    LineSplitter splitter;
    StartLines(&splitter);
    const std::string input = ">1\n>2\n>3\n>4";
    EXPECT_FALSE(SplitLines(&splitter, input.data(), static_cast<unsigned>(input.size()), Collect, &split));
    EXPECT_FALSE(SplitLines(&splitter, ">5\n", 3, Collect, &split));
    EXPECT_FALSE(FinishLines(&splitter, Collect, &split));
    EXPECT_EQ(split.lines, (Lines{"1:>1\n", "2:>2\n"}));
}

}  // namespace
