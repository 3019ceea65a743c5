#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_lamp_platform.h"
#include "pipe/line_framing.h"

namespace {

std::vector<std::string> handedLines;

void RecordLine(const char* line)
{
    handedLines.push_back(line);
}

// The lines one chunk hands over.
std::vector<std::string> Frame(const std::string& chunk)
{
    handedLines.clear();
    FrameChunkTo(chunk.data(), static_cast<unsigned>(chunk.size()), RecordLine);
    return handedLines;
}

using Lines = std::vector<std::string>;

struct FrameCase {
    const char* name;
    std::string chunk;
    Lines lines;
};

const FrameCase kFrameCases[] = {
    {"plain line", ">5L00FF\n", {">5L00FF"}},
    {"carriage return kept", ">5L00FF\r\n", {">5L00FF\r"}},
    {"leading junk skipped", "ab>5L00FF\n", {">5L00FF"}},
    {"only the first of two lines", ">5L0001\n>5L0002\n", {">5L0001"}},
    {"ten characters: too long", ">5L1234567\n", {}},
    {"eight characters: the longest", ">5L12345\n", {">5L12345"}},
    {"nine characters: too long", ">5L123456\n", {}},
    {"too long drops the rest of the chunk", ">5L123456>1\n", {}},
    {"a second '>' is part of the line", ">>5L00FF\n", {">>5L00FF"}},
    {"bare '>'", ">\n", {">"}},
    {"line feed before any '>'", "\n\n>1\n", {">1"}},
    {"unfinished line dropped", ">5L00FF", {}},
    {"empty chunk", "", {}},
    {"no '>' at all", "5L00FF\n", {}},
    {"junk up to the chunk size", "0123456789>5L00FF\n", {">5L00FF"}},
};

TEST(FrameChunk, HandsOverAtMostTheFirstLineOpened)
{
    for (const FrameCase& c : kFrameCases) EXPECT_EQ(Frame(c.chunk), c.lines) << c.name;
}

TEST(FrameChunk, NulInsideALineCountsButEndsTheText)
{
    const std::string chunk(">5\0L00FF\n", 9);
    EXPECT_EQ(Frame(chunk), Lines{">5"});
    const std::string tooLong(">5L00\0FFFF\n", 11);
    EXPECT_EQ(Frame(tooLong), Lines{});
}

TEST(FrameChunk, NothingCarriesOverBetweenChunks)
{
    EXPECT_EQ(Frame(">5L00"), Lines{});
    EXPECT_EQ(Frame("FF\n"), Lines{});
    EXPECT_EQ(Frame(">"), Lines{});
    EXPECT_EQ(Frame("\n"), Lines{});
    EXPECT_EQ(Frame("1\n"), Lines{});
}

TEST(FrameChunk, FramedLinesReachTheLampState)
{
    ResetLampControl();
    const std::string chunk = "xx>3L0F\r\n>5LFFFF\n";
    FrameChunk(chunk.data(), static_cast<unsigned>(chunk.size()));
    const LampState state = TakeLampSnapshot();
    EXPECT_STREQ(state.text, ">3L0F\r");
    EXPECT_EQ(state.lampsLow, 0x0F);
    EXPECT_EQ(state.lampsHigh, 0x00);
    ResetLampControl();
}

}  // namespace
