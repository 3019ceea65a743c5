// Speech from espeak-ng through --print's path: the lamps go dark in its
// pauses. The speech is made at test time; the pauses are found in the
// signal itself. Native only: espeak-ng is a Linux program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "vis_test_support.h"

namespace {

const char kText[] =
    "The lamps follow the music. They go dark in every pause, and light again when the voice comes back.";

// A 10 ms frame whose loudest sample is below -50 dBFS counts as pause.
const int kQuiet = 104;
const size_t kPauseFramesMin = 15;  // 150 ms
// How long the lamps may take to go out once the voice stops.
const size_t kReleaseFrames = 8;

// The 16-bit mono samples of espeak-ng's WAV: its data chunk follows a
// 44-byte header.
Signal SpeechSignal(const std::string& wav)
{
    Signal signal;
    signal.rate = static_cast<uint32_t>(static_cast<uint8_t>(wav[24]) | static_cast<uint8_t>(wav[25]) << 8);
    for (size_t at = 44; at + 1 < wav.size(); at += 2)
        signal.samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(wav[at]) |
                                                      static_cast<uint8_t>(wav[at + 1]) << 8));
    return signal;
}

TEST(VisSpectrum, SpeechGoesDarkInItsPauses)
{
    if (std::system("command -v espeak-ng >/dev/null 2>&1") != 0)
        FAIL() << "espeak-ng is missing: install it with apt-get install espeak-ng (scripts/install-deps.sh does)";
    const std::string path = ::testing::TempDir() + "vis_speech.wav";
    // -g 12: 120 ms more between words, so that there are pauses short and long.
    const std::string command = "espeak-ng -g 12 -w '" + path + "' \"" + kText + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string wav = ReadFileBytes(path);
    std::remove(path.c_str());
    ASSERT_GT(wav.size(), 44u + 22050u) << "espeak-ng wrote no speech";

    const Signal signal = SpeechSignal(wav);
    const PrintRun run = RunPrint(wav, PrintSettings(kVisSpectrum, true));
    ASSERT_EQ(run.status, kPcmOk) << run.message;
    const std::vector<uint16_t> frames = FramesOf(run, signal);

    std::vector<bool> quiet(frames.size());
    for (size_t k = 0; k < frames.size(); ++k) {
        int loudest = 0;
        for (size_t i = FrameStart(signal, k); i < FrameStart(signal, k + 1) && i < signal.samples.size(); ++i)
            loudest = std::max(loudest, std::abs(static_cast<int>(signal.samples[i])));
        quiet[k] = loudest < kQuiet;
    }

    size_t pauses = 0, litFrames = 0;
    for (size_t k = 0; k < frames.size();) {
        if (frames[k] != 0) ++litFrames;
        if (!quiet[k]) {
            ++k;
            continue;
        }
        size_t end = k;
        while (end < frames.size() && quiet[end]) ++end;
        if (end - k >= kPauseFramesMin && k > 0) {
            ++pauses;
            for (size_t j = k + kReleaseFrames; j < end; ++j)
                EXPECT_EQ(frames[j], 0) << "lit at " << 10 * (j + 1) << " ms, in the pause from " << 10 * k
                                        << " to " << 10 * end << " ms";
        }
        k = end;
    }
    EXPECT_GE(pauses, 3u) << "espeak-ng's speech has too few pauses for the test";
    EXPECT_GT(litFrames, frames.size() / 3) << "the speech itself hardly lit the lamps";
}

}  // namespace
