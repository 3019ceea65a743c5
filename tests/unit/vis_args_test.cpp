// tolvaren-vis's command line: what each command sets, and what each
// refusal says.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/tolvaren-vis/vis_args.h"
#include "usage_test_support.h"

namespace {

bool Parse(const Args& args, VisCommand* command, std::string* error)
{
    return ParseArgs(ParseVisArguments, "tolvaren-vis", args, command, error);
}

TEST(VisArguments, ReadsEachCommand)
{
    struct {
        Args args;
        VisAction action;
        VisMode mode;
        bool print;
        uint32_t delay;
        PcmFormat raw;
        const char* path;
        const char* device;
    } const cases[] = {
        {{"song.wav"}, kVisActionFile, kVisSpectrum, false, 0, {kPcmS16, 44100, 2}, "song.wav", nullptr},
        {{"--print", "--mode", "vu", "x"}, kVisActionFile, kVisVu, true, 0, {kPcmS16, 44100, 2}, "x", nullptr},
        {{"./-odd.wav", "--delay", "500"}, kVisActionFile, kVisSpectrum, false, 500, {kPcmS16, 44100, 2},
         "./-odd.wav", nullptr},
        {{"-"}, kVisActionStdin, kVisSpectrum, false, 0, {kPcmS16, 44100, 2}, nullptr, nullptr},
        {{"-", "--format", "f32le", "--rate", "96000", "--channels", "1", "--delay", "0"}, kVisActionStdin,
         kVisSpectrum, false, 0, {kPcmF32, 96000, 1}, nullptr, nullptr},
        {{"--rate", "22050", "--mode", "spectrum", "-", "--print"}, kVisActionStdin, kVisSpectrum, true, 0,
         {kPcmS16, 22050, 2}, nullptr, nullptr},
        {{"--capture"}, kVisActionCapture, kVisSpectrum, false, 0, {kPcmS16, 44100, 2}, nullptr, nullptr},
        {{"--capture", "--device", "Monitor of Null", "--mode", "vu", "--delay", "120"}, kVisActionCapture, kVisVu,
         false, 120, {kPcmS16, 44100, 2}, nullptr, "Monitor of Null"},
        {{"--list-devices"}, kVisActionListDevices, kVisSpectrum, false, 0, {kPcmS16, 44100, 2}, nullptr,
         nullptr},
        {{"--bogus", "/?"}, kVisActionHelp, kVisSpectrum, false, 0, {kPcmS16, 44100, 2}, nullptr, nullptr},
        {{"-h"}, kVisActionHelp, kVisSpectrum, false, 0, {kPcmS16, 44100, 2}, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const std::string name = ::testing::PrintToString(c.args);
        VisCommand command;
        std::string error;
        ASSERT_TRUE(Parse(c.args, &command, &error)) << name << ": " << error;
        EXPECT_EQ(error, "") << name;
        EXPECT_EQ(command.action, c.action) << name;
        if (c.action == kVisActionHelp) continue;
        EXPECT_EQ(command.mode, c.mode) << name;
        EXPECT_EQ(command.print, c.print) << name;
        EXPECT_EQ(command.delayMs, c.delay) << name;
        EXPECT_EQ(command.raw.encoding, c.raw.encoding) << name;
        EXPECT_EQ(command.raw.rate, c.raw.rate) << name;
        EXPECT_EQ(command.raw.channels, c.raw.channels) << name;
        EXPECT_EQ(command.path == nullptr ? "" : command.path, std::string(c.path == nullptr ? "" : c.path)) << name;
        EXPECT_EQ(command.device == nullptr ? "" : command.device, std::string(c.device == nullptr ? "" : c.device))
            << name;
        const VisSettings settings = VisSettingsFor(command);
        EXPECT_EQ(settings.mode, c.mode) << name;
        EXPECT_EQ(settings.output, c.print ? kVisForPrint : kVisForPipe) << name;
        EXPECT_EQ(settings.delayMs, c.delay) << name;
        EXPECT_EQ(settings.wav, c.action == kVisActionFile) << name;
        EXPECT_EQ(settings.raw.rate, c.raw.rate) << name;
    }
}

// Each refusal says what is wrong and what to give, in a message that fits
// whole.
TEST(VisArguments, RefusesBadCommandLines)
{
    const std::string huge(300, 'x');
    const RefusedCase cases[] = {
        {{}, "nothing to do: give a WAV file"},
        {{"--print"}, "give what to show"},
        {{"--mode"}, "--mode needs spectrum or vu"},
        {{"x.wav", "--mode", "bars"}, "--mode takes spectrum or vu, not \"bars\""},
        {{"x.wav", "--mode", "vu", "--mode", "vu"}, "--mode is given twice"},
        {{"x.wav", "--print", "--print"}, "--print is given twice"},
        {{"x.wav", "--delay", "501"}, "0 to 500, not \"501\""},
        {{"x.wav", "--delay", "-5"}, "0 to 500"},
        {{"x.wav", "--delay", "1e2"}, "0 to 500"},
        {{"x.wav", "--delay"}, "--delay needs milliseconds"},
        {{"-", "--format", "s24le"}, "s16le (16-bit integer) or f32le (32-bit float), not \"s24le\""},
        {{"-", "--rate", "8000"}, "22050 to 96000, not \"8000\""},
        {{"-", "--rate", "192000"}, "22050 to 96000"},
        {{"-", "--rate", "99999999999999999999"}, "22050 to 96000"},
        {{"-", "--channels", "6"}, "1 (mono) or 2 (stereo), not \"6\""},
        {{"-", "--channels", "0"}, "1 (mono) or 2"},
        {{"x.wav", "--rate", "48000"}, "go with - only"},
        {{"--capture", "--format", "f32le"}, "go with - only"},
        {{"x.wav", "--device", "Monitor"}, "--device goes with --capture only"},
        {{"--capture", "--device", ""}, "--device needs part of an endpoint's name"},
        {{"--capture", "--device"}, "--device needs"},
        {{"--list-devices", "--print"}, "--list-devices only lists"},
        {{"a.wav", "b.wav"}, "\"b.wav\" is one too many"},
        {{"-", "--capture"}, "one input"},
        {{"--capture", "--list-devices"}, "one too many"},
        {{"--loud"}, "unknown option \"--loud\""},
        {{"-x.wav"}, "as ./NAME"},
        {{""}, "the file name is empty"},
    };
    ExpectRefused(ParseVisArguments, "tolvaren-vis", cases);
    // A long value is quoted in part and the message still fits; a long
    // file name is a file name, and opening it says the rest.
    VisCommand command;
    std::string error;
    EXPECT_TRUE(Parse({huge}, &command, &error));
    EXPECT_FALSE(Parse({"x.wav", "--mode", huge}, &command, &error));
    EXPECT_NE(error.find("not \"" + huge.substr(0, 40) + "\""), std::string::npos) << error;
}

}  // namespace
