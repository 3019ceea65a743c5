// The output rules (when a line goes out, to --print and to the pipe) and
// the live input's rules: the backlog and the silence of a capture stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vis_test_support.h"

namespace {

struct Taken {
    std::vector<VisLine> lines;
};

void Take(void* context, const VisLine& line)
{
    static_cast<Taken*>(context)->lines.push_back(line);
}

std::vector<VisLine> RunEngine(const Signal& signal, VisOutput output, uint32_t delayMs = 0,
                               VisMode mode = kVisSpectrum)
{
    VisSettings settings = PrintSettings(mode, false, PcmFormat{kPcmS16, signal.rate, signal.channels});
    settings.output = output;
    settings.delayMs = delayMs;
    Taken taken;
    std::vector<VisEngine> engine(1);
    StartVis(&engine[0], settings, Take, &taken);
    const std::string bytes = RawS16(signal);
    FeedVis(&engine[0], bytes.data(), bytes.size());
    FinishVis(&engine[0]);
    return taken.lines;
}

std::string Text(const VisLine& line)
{
    return std::string(line.text, kLampLineBytes);
}

// A tone from 0.5 s to 4.5 s of a 5 s signal.
Signal ToneInSilence()
{
    Signal signal = Silence(44100, 2, 0.5);
    AddSine(&signal, 1000.0, -6.0, 4.0);
    Signal after = Silence(44100, 2, 0.5);
    signal.samples.insert(signal.samples.end(), after.samples.begin(), after.samples.end());
    return signal;
}

TEST(VisOutput, PrintGetsChangesOnlyAndThePipeARepeatEverySecond)
{
    const Signal signal = ToneInSilence();
    const std::vector<VisLine> print = RunEngine(signal, kVisForPrint);
    const std::vector<VisLine> pipe = RunEngine(signal, kVisForPipe);

    // The same changes to both; the pipe's extra lines are repeats of the
    // value before, each a second after the line before it.
    std::vector<VisLine> changes;
    for (size_t i = 0; i < pipe.size(); ++i) {
        EXPECT_EQ(Text(pipe[i]).substr(0, 3), ">5L");
        if (i > 0) {
            EXPECT_GT(pipe[i].audioMs, pipe[i - 1].audioMs) << "two lines in one frame";
        }
        if (pipe[i].reason == kVisLineEnd) {
            EXPECT_EQ(i + 1, pipe.size()) << "the end line comes last";
        } else if (pipe[i].reason == kVisLineRepeat) {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(pipe[i].lamps, pipe[i - 1].lamps);
            EXPECT_EQ(pipe[i].audioMs - pipe[i - 1].audioMs, kVisRepeatMs);
        } else {
            changes.push_back(pipe[i]);
        }
    }
    ASSERT_EQ(changes.size(), print.size());
    for (size_t i = 0; i < print.size(); ++i) {
        EXPECT_EQ(changes[i].audioMs, print[i].audioMs);
        EXPECT_EQ(Text(changes[i]), Text(print[i]));
        EXPECT_NE(print[i].reason, kVisLineRepeat);
    }
    // Four seconds of a steady tone: at least three repeats.
    EXPECT_GE(pipe.size() - changes.size(), 3u);
    // The lamps went out before the audio's end: print has nothing more to
    // say, the pipe says so again where the audio ends.
    EXPECT_EQ(print.back().lamps, 0);
    EXPECT_EQ(print.back().reason, kVisLineChange);
    EXPECT_EQ(pipe.back().reason, kVisLineEnd);
    EXPECT_EQ(pipe.back().audioMs, 5000u);
    EXPECT_EQ(print.front().audioMs, 10u);
}

TEST(VisOutput, TheEndPutsTheLampsOutOnce)
{
    struct {
        const char* what;
        double leadSeconds;   // silence
        double toneSeconds;   // then a tone
        double quietSeconds;  // then silence again
        VisOutput output;
        bool endLine;         // a line of its own at the end
        uint32_t endMs;
    } const cases[] = {
        {"print, lamps already out", 0.0, 1.0, 1.0, kVisForPrint, false, 0},
        {"pipe, lamps already out", 0.0, 1.0, 1.0, kVisForPipe, true, 2000},
        {"print, lit to the end", 0.0, 1.0, 0.0, kVisForPrint, true, 1000},
        {"pipe, lit to the end", 0.0, 1.0, 0.0, kVisForPipe, true, 1000},
        {"print, lit in the last frame only", 0.99, 0.01, 0.0, kVisForPrint, true, 1010},
        {"pipe, a partial frame at the end", 0.0, 1.005, 0.0, kVisForPipe, true, 1000},
    };
    for (const auto& c : cases) {
        Signal signal = Silence(44100, 1, c.leadSeconds);
        AddSine(&signal, 3000.0, -6.0, c.toneSeconds);
        signal.samples.resize(signal.samples.size() + static_cast<size_t>(c.quietSeconds * 44100), 0);
        const std::vector<VisLine> lines = RunEngine(signal, c.output);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().lamps, 0) << c.what;
        EXPECT_EQ(lines.back().reason == kVisLineEnd, c.endLine) << c.what;
        if (c.endLine) {
            EXPECT_EQ(lines.back().audioMs, c.endMs) << c.what;
            EXPECT_GT(lines.back().audioMs, lines[lines.size() - 2].audioMs) << c.what;
        }
    }
    // No audio at all: one line at 0 ms for either output.
    for (VisOutput output : {kVisForPrint, kVisForPipe}) {
        const std::vector<VisLine> lines = RunEngine(Silence(44100, 2, 0), output);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].audioMs, 0u);
        EXPECT_EQ(Text(lines[0]), ">5L0000\n");
    }
}

TEST(VisOutput, DelayShiftsWhenLinesAreShownAndNothingElse)
{
    const Signal signal = ToneInSilence();
    const std::vector<VisLine> plain = RunEngine(signal, kVisForPipe);
    for (uint32_t delay : {1u, 150u, 500u}) {
        const std::vector<VisLine> late = RunEngine(signal, kVisForPipe, delay);
        ASSERT_EQ(late.size(), plain.size());
        for (size_t i = 0; i < late.size(); ++i) {
            EXPECT_EQ(late[i].audioMs, plain[i].audioMs);
            EXPECT_EQ(late[i].showMs, plain[i].audioMs + delay);
            EXPECT_EQ(Text(late[i]), Text(plain[i]));
        }
    }
    char text[kVisPrintLineMax];
    VisLine line = plain.back();
    line.showMs = 1250;
    FormatLampLine(0x00FF, line.text);
    EXPECT_EQ(std::string(text, FormatPrintLine(line, text)), "1250 >5L00FF\n");
    line.showMs = UINT32_MAX;
    EXPECT_EQ(std::string(text, FormatPrintLine(line, text)), "4294967295 >5L00FF\n");
}

TEST(VisOutput, SilenceFedByTheCallerCountsAsAudio)
{
    // A source that sends nothing while nothing plays gets silence put in.
    Signal signal = Silence(48000, 2, 0);
    AddSine(&signal, 2000.0, -6.0, 0.5);
    const std::string bytes = RawS16(signal);
    Signal quiet = Silence(48000, 2, 1.5);
    signal.samples.insert(signal.samples.end(), quiet.samples.begin(), quiet.samples.end());
    const std::vector<VisLine> expected = RunEngine(signal, kVisForPipe);

    Taken taken;
    std::vector<VisEngine> engine(1);
    VisSettings settings = PrintSettings(kVisSpectrum, false, PcmFormat{kPcmS16, 48000, 2});
    settings.output = kVisForPipe;
    StartVis(&engine[0], settings, Take, &taken);
    FeedVis(&engine[0], bytes.data(), bytes.size());
    FeedVisSilence(&engine[0], 1000);
    FeedVisSilence(&engine[0], 71000);
    FinishVis(&engine[0]);
    ASSERT_EQ(taken.lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(taken.lines[i].audioMs, expected[i].audioMs);
        EXPECT_EQ(taken.lines[i].lamps, expected[i].lamps);
    }
}

TEST(VisLiveInput, ThrowsAwayTheOldestWholeFramesBeyond100ms)
{
    const PcmFormat s16 = {kPcmS16, 44100, 2};
    const PcmFormat f32 = {kPcmF32, 48000, 2};
    struct {
        const char* what;
        PcmFormat format;
        uint64_t read;     // bytes
        uint64_t waiting;  // bytes
        uint64_t skipped;  // bytes
    } const cases[] = {
        {"a 10 ms read", s16, 441 * 4, 0, 0},
        {"exactly 100 ms", s16, 4410 * 4, 0, 0},
        {"100 ms and a frame in one read", s16, 4411 * 4, 0, (4411 - 882) * 4},
        {"200 ms and a partial frame", s16, 8820 * 4 + 3, 0, (8820 - 882) * 4},
        {"10 ms read, 95 ms known to wait: all of the read", s16, 441 * 4, 4190 * 4, 441 * 4},
        {"10 ms read, a second known to wait", s16, 441 * 4 + 2, 44100 * 4, 441 * 4},
        {"float capture, 150 ms packet", f32, 7200 * 8, 0, (7200 - 960) * 8},
        {"float mono at 96 kHz", {kPcmF32, 96000, 1}, 96000 * 4, 0, (96000 - 1920) * 4},
    };
    for (const auto& c : cases) {
        VisLiveGuard guard;
        StartLiveGuard(&guard, c.format);
        bool tell = true;
        const uint64_t skipped = LiveBytesToSkip(&guard, c.read, c.waiting, &tell);
        EXPECT_EQ(skipped, c.skipped) << c.what;
        EXPECT_EQ(tell, c.skipped != 0) << c.what;
        EXPECT_EQ(skipped % PcmFrameBytes(c.format), 0u) << c.what;
        EXPECT_LE(skipped, c.read) << c.what;
        // Said once only.
        EXPECT_EQ(LiveBytesToSkip(&guard, c.read, c.waiting, &tell), c.skipped) << c.what;
        EXPECT_FALSE(tell) << c.what;
    }
}

// A stream read in pieces that split frames, with a stall: throwing away
// whole frames keeps the samples after it in step.
TEST(VisLiveInput, ThrowingAwayKeepsTheSamplesInStep)
{
    Signal signal = Silence(44100, 2, 0);
    AddSine(&signal, 3000.0, -6.0, 1.0);
    AddSine(&signal, 80.0, -6.0, 1.0);
    const std::string bytes = RawS16(signal);
    const PcmFormat format = {kPcmS16, 44100, 2};
    VisLiveGuard guard;
    StartLiveGuard(&guard, format);
    std::vector<VisEngine> engine(1);
    std::vector<std::string> lines;
    StartVis(&engine[0], PrintSettings(kVisSpectrum, false, format), [](void* context, const VisLine& line) {
        char text[kVisPrintLineMax];
        static_cast<std::vector<std::string>*>(context)->push_back(std::string(text, FormatPrintLine(line, text)));
    }, &lines);
    size_t at = 0, told = 0;
    uint64_t skippedTotal = 0;
    for (unsigned n = 0; at < bytes.size(); ++n) {
        // 301-byte reads, and after 136 ms one that brings 250 ms at once.
        size_t read = n == 80 ? 44100 : 301;
        read = std::min(read, bytes.size() - at);
        bool tell = false;
        const uint64_t skip = LiveBytesToSkip(&guard, read, 0, &tell);
        told += tell;
        skippedTotal += skip;
        FeedVis(&engine[0], bytes.data() + at + skip, read - skip);
        at += read;
    }
    FinishVis(&engine[0]);
    EXPECT_EQ(told, 1u);
    EXPECT_EQ(skippedTotal, (11025u - 882u) * 4);
    const std::vector<LampLine> parsed = ParseLines(lines);
    ASSERT_GE(parsed.size(), 2u);
    // Samples out of step would be loud noise in every band.
    const uint16_t last = parsed[parsed.size() - 2].lamps;
    EXPECT_TRUE(last & BandLampBit(BandOf(80.0))) << last;
    EXPECT_LE(LitCount(last), 4u) << last;
}

// A ring that filled up and a backlog thrown away are one loss to the
// person told: one message for both, whichever comes first.
TEST(VisLiveInput, ALossIsToldOnceWhateverCausedIt)
{
    const PcmFormat format = {kPcmS16, 44100, 2};
    const uint64_t backlog = 8820 * 4;  // 200 ms
    VisLiveGuard guard;
    bool tell = false;
    StartLiveGuard(&guard, format);
    EXPECT_TRUE(NoteLiveLoss(&guard));
    EXPECT_GT(LiveBytesToSkip(&guard, backlog, 0, &tell), 0u);
    EXPECT_FALSE(tell);
    EXPECT_FALSE(NoteLiveLoss(&guard));

    StartLiveGuard(&guard, format);
    EXPECT_EQ(LiveBytesToSkip(&guard, 441 * 4, 0, &tell), 0u);
    EXPECT_FALSE(tell);
    EXPECT_GT(LiveBytesToSkip(&guard, backlog, 0, &tell), 0u);
    EXPECT_TRUE(tell);
    EXPECT_FALSE(NoteLiveLoss(&guard));
}

// A capture stream polled every 5 ms: packets come at the times given, and
// silence is filled in only while they don't.
TEST(VisLiveInput, SilenceIsFilledInOnlyWhileNoPacketComes)
{
    struct {
        const char* what;
        uint64_t packetsFromMs, packetsToMs;  // a packet every 10 ms in [from, to)
        uint64_t hiccupFromMs, hiccupToMs;    // but none in here
        uint64_t untilMs;                     // polled up to here
        uint64_t filledMs;                    // silence filled in, in ms
    } const cases[] = {
        {"packets throughout", 0, 3000, 0, 0, 3000, 0},
        {"packets with a 90 ms hiccup", 0, 3000, 1500, 1590, 3000, 0},
        {"nothing for the first 2 s, then packets (Wine's loopback)", 2000, 3000, 0, 0, 3000, 2000},
        {"the same with a 90 ms hiccup in the packets", 2000, 3000, 2500, 2590, 3000, 2000},
        {"packets stop at 1 s (nothing plays)", 0, 1000, 0, 0, 3000, 2010},
        {"nothing plays for a second between packets", 0, 3000, 1000, 2000, 3000, 1000},
    };
    for (const auto& c : cases) {
        VisSilenceFiller filler;
        StartSilenceFiller(&filler, 44100, 0);
        uint64_t frames = 0;
        for (uint64_t now = 0; now <= c.untilMs; now += 5) {
            const bool packet = now >= c.packetsFromMs && now < c.packetsToMs && now % 10 == 0 &&
                                !(now >= c.hiccupFromMs && now < c.hiccupToMs);
            if (packet) NoteCapturePacket(&filler, now);
            frames += SilenceFramesDue(&filler, now);
        }
        // The filled time ends with the poll before the first packet after it.
        EXPECT_NEAR(static_cast<double>(frames), c.filledMs * 44.1, 10 * 44.1) << c.what;
    }
    // A machine that slept for a minute gets at most a second of silence.
    VisSilenceFiller filler;
    StartSilenceFiller(&filler, 48000, 1000);
    EXPECT_EQ(SilenceFramesDue(&filler, 1099), 0u);
    EXPECT_EQ(SilenceFramesDue(&filler, 61000), 48000u);
    EXPECT_EQ(SilenceFramesDue(&filler, 61010), 480u);
}

}  // namespace
