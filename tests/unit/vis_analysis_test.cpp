// What the lamps show for music-like signals, run through --print's path:
// each case makes its own signal and reads the printed lines back as the
// lamps of every 10 ms frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vis_test_support.h"

namespace {

const double kPi = 3.14159265358979323846;

std::string Hex(uint16_t lamps)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", lamps);
    return text;
}

// The frames from..to (in ms) as text, for a failure message.
std::string Show(const std::vector<uint16_t>& frames, size_t fromMs, size_t toMs)
{
    std::string text;
    for (size_t k = fromMs / 10; k < frames.size() && k < toMs / 10; ++k)
        text += std::to_string(10 * (k + 1)) + ":" + Hex(frames[k]) + " ";
    return text;
}

bool Adjacent(uint16_t lamps)
{
    const int low = LowestBand(lamps);
    const int high = HighestBand(lamps);
    return low >= 0 && LitCount(lamps) == static_cast<unsigned>(high - low + 1);
}

uint16_t BandMask(int from, int to)
{
    uint16_t mask = 0;
    for (int band = from; band <= to; ++band) mask = static_cast<uint16_t>(mask | BandLampBit(band));
    return mask;
}

TEST(VisSpectrum, SilenceAndQuietNoiseLeaveTheLampsOut)
{
    struct {
        const char* what;
        uint32_t rate;
        uint32_t channels;
        int noise;  // 0 none, 1 white, 2 pink
    } const cases[] = {
        {"digital silence, 44.1 kHz stereo", 44100, 2, 0},
        {"digital silence, 96 kHz mono", 96000, 1, 0},
        {"white noise at -70 dBFS RMS, 48 kHz stereo", 48000, 2, 1},
        {"pink noise at -70 dBFS RMS, 44.1 kHz mono", 44100, 1, 2},
    };
    for (const auto& c : cases) {
        Signal signal = Silence(c.rate, c.channels, 0);
        Noise noise;
        // Uniform noise's RMS is its peak less 4.8 dB.
        if (c.noise == 1) AddNoise(&signal, &noise, -70.0 + 4.77, 5.0);
        if (c.noise == 2) AddPinkNoise(&signal, &noise, -70.0, 5.0);
        if (c.noise == 0) signal = Silence(c.rate, c.channels, 5.0);
        const PrintRun run = RunSignal(signal);
        ASSERT_EQ(run.status, kPcmOk) << c.what;
        for (const LampLine& line : ParseLines(run.lines)) EXPECT_EQ(line.lamps, 0) << c.what << " at " << line.ms;
        EXPECT_EQ(run.lines.size(), 1u) << c.what << ": " << run.lines.back();
    }
}

TEST(VisSpectrum, SteadyTonesLightTheirBandAndStayStill)
{
    const double tones[] = {40,   50,   63,   80,   100,  125,  160,  200,  250,  315,  400,
                            500,  630,  800,  1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000,
                            6300, 8000, 10000, 12000, 45,  70,   333,  1111, 7000};
    for (uint32_t rate : {44100u, 48000u}) {
        for (double hz : tones) {
            // Long enough for a band whose range has gone flat to sink in it.
            Signal signal = Silence(rate, 1, 0);
            AddSine(&signal, hz, -6.0, 4.0);
            const PrintRun run = RunSignal(signal);
            const std::vector<LampLine> lines = ParseLines(run.lines);
            const std::string name = std::to_string(static_cast<int>(hz)) + " Hz at " + std::to_string(rate);
            // Only the line that puts the lamps out at the end may follow
            // the first 200 ms.
            const uint32_t endMs = static_cast<uint32_t>(signal.Frames() * 1000 / rate);
            for (const LampLine& line : lines)
                if (line.ms > 200 && line.ms < endMs)
                    ADD_FAILURE() << name << ": the lamps changed to " << Hex(line.lamps) << " at " << line.ms;
            const std::vector<uint16_t> frames = FramesOf(run, signal);
            const uint16_t lamps = frames[100];
            EXPECT_TRUE(Adjacent(lamps)) << name << ": " << Hex(lamps);
            EXPECT_TRUE(lamps & BandLampBit(BandOf(hz))) << name << ": " << Hex(lamps) << ", band " << BandOf(hz);
            EXPECT_LE(LitCount(lamps), 4u) << name << ": " << Hex(lamps);
        }
    }
}

TEST(VisSpectrum, SweepMovesUpThroughEveryBandInOrder)
{
  for (uint32_t rate : {44100u, 48000u, 96000u}) {
    SCOPED_TRACE(rate);
    const Signal signal = Sweep(rate, 20.0, 20000.0, 16.0, -6.0);
    const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);
    std::vector<size_t> firstLit(kVisBands, SIZE_MAX);
    int lowest = -1, highest = -1;
    for (size_t k = 0; k < frames.size(); ++k) {
        for (uint32_t band = 0; band < kVisBands; ++band)
            if ((frames[k] & BandLampBit(band)) && firstLit[band] == SIZE_MAX) firstLit[band] = k;
        if (k < 30 || k >= frames.size() - 30) continue;
        ASSERT_NE(frames[k], 0) << "dark at " << 10 * (k + 1) << " ms";
        EXPECT_TRUE(Adjacent(frames[k])) << Show(frames, 10 * k - 50, 10 * k + 50);
        EXPECT_GE(LowestBand(frames[k]), lowest) << Show(frames, 10 * k - 50, 10 * k + 50);
        EXPECT_GE(HighestBand(frames[k]), highest) << Show(frames, 10 * k - 50, 10 * k + 50);
        lowest = LowestBand(frames[k]);
        highest = HighestBand(frames[k]);
    }
    for (uint32_t band = 0; band < kVisBands; ++band) {
        ASSERT_NE(firstLit[band], SIZE_MAX) << "band " << band << " never lit";
        if (band > 0) {
            EXPECT_GT(firstLit[band], firstLit[band - 1]) << "band " << band;
        }
    }
  }
}

// Onsets every period seconds from start, in samples.
std::vector<size_t> Onsets(const Signal& signal, double start, double period, unsigned count)
{
    std::vector<size_t> onsets;
    for (unsigned i = 0; i < count; ++i)
        onsets.push_back(static_cast<size_t>((start + period * i) * signal.rate));
    return onsets;
}

double OnsetMs(const Signal& signal, size_t at)
{
    return 1000.0 * at / signal.rate;
}

// The ms of the line that lit mask for the flash beginning at or after onset.
double LitMs(const std::vector<uint16_t>& frames, uint16_t mask, const Signal& signal, size_t onset)
{
    for (size_t k = FrameOfSample(signal, onset); k < frames.size(); ++k)
        if (frames[k] & mask) return 10.0 * (k + 1);
    return 1e9;
}

TEST(VisSpectrum, EachClickIsOneFlash)
{
    Signal signal = Silence(44100, 1, 10.6);
    Noise noise;
    const std::vector<size_t> clicks = Onsets(signal, 0.123, 0.5, 20);
    for (size_t at : clicks) {
        std::vector<double> click(signal.rate / 200);
        for (double& x : click) x = 0.5 * noise.Next();
        MixAt(&signal, at, click);
    }
    const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);
    const std::vector<Flash> flashes = Flashes(frames, 0xFFFF);
    ASSERT_EQ(flashes.size(), 20u) << Show(frames, 0, 2000);
    for (size_t i = 0; i < clicks.size(); ++i) {
        const double latency = 10.0 * (flashes[i].firstFrame + 1) - OnsetMs(signal, clicks[i]);
        EXPECT_GE(latency, 0.0) << "click " << i;
        EXPECT_LE(latency, 20.0) << "click " << i;
        if (i + 1 < clicks.size()) {
            EXPECT_LT(10.0 * (flashes[i].lastFrame + 1), OnsetMs(signal, clicks[i + 1])) << "click " << i;
        }
    }
}

TEST(VisSpectrum, ShortBurstsAreOneFlashEach)
{
    for (uint32_t rate : {44100u, 48000u, 22050u}) {
        Signal signal = Silence(rate, 1, 0.1);
        for (int i = 0; i < 20; ++i) {
            AddSine(&signal, 1000.0, -6.0, 0.030);
            signal.samples.resize(signal.samples.size() + static_cast<size_t>(0.097 * rate), 0);
        }
        const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);
        EXPECT_EQ(Flashes(frames, 0xFFFF).size(), 20u) << rate << " Hz: " << Show(frames, 0, 1000);
    }
}

// A sine whose level steps from one to another without a break in phase.
Signal LevelStep(double hz, double fromDb, double toDb, double stepSeconds, double seconds)
{
    Signal signal = Silence(44100, 1, 0);
    for (size_t i = 0; i < static_cast<size_t>(seconds * signal.rate); ++i) {
        const double db = i < stepSeconds * signal.rate ? fromDb : toDb;
        signal.samples.push_back(ToSample(DbToAmplitude(db) * std::sin(2 * kPi * hz * i / signal.rate)));
    }
    return signal;
}

TEST(VisSpectrum, LampsComeBackAfterAStepDown)
{
    for (double hz : {100.0, 1000.0, 5000.0}) {
        const Signal signal = LevelStep(hz, -6.0, -30.0, 3.0, 9.0);
        const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);
        for (size_t k = 600; k < frames.size() - 1; ++k)
            ASSERT_TRUE(frames[k] & BandLampBit(BandOf(hz)))
                << hz << " Hz: dark " << 10 * (k + 1) - 3000 << " ms after the step: " << Show(frames, 3000, 6500);
    }
    // Pink noise likewise.
    Signal signal = Silence(44100, 1, 0);
    Noise noise;
    AddPinkNoise(&signal, &noise, -12.0, 3.0);
    AddPinkNoise(&signal, &noise, -36.0, 6.0);
    const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);
    for (size_t k = 600; k < frames.size() - 1; ++k)
        ASSERT_NE(frames[k], 0) << "pink noise: dark " << 10 * (k + 1) - 3000 << " ms after the step";
}

// A kick: a sine falling from 150 to 50 Hz, dying away in about 300 ms.
std::vector<double> Kick(uint32_t rate)
{
    std::vector<double> kick(static_cast<size_t>(0.3 * rate));
    double phase = 0.0;
    for (size_t i = 0; i < kick.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        phase += 2 * kPi * (50.0 + 100.0 * std::exp(-t / 0.03)) / rate;
        kick[i] = 0.7 * std::exp(-t / 0.08) * std::sin(phase);
    }
    return kick;
}

// A closed hi-hat: high-passed noise, 40 ms.
std::vector<double> Hat(uint32_t rate, Noise* noise)
{
    std::vector<double> hat(static_cast<size_t>(0.04 * rate));
    double previous = 0.0, high = 0.0;
    for (size_t i = 0; i < hat.size(); ++i) {
        const double white = noise->Next();
        // Two first differences: +12 dB an octave, most of it above 5 kHz.
        const double once = white - previous;
        previous = white;
        const double twice = once - high;
        high = once;
        hat[i] = 0.12 * std::exp(-static_cast<double>(i) / rate / 0.012) * twice;
    }
    return hat;
}

TEST(VisSpectrum, KicksLightTheBassAndHatsTheTreble)
{
    Signal signal = Silence(44100, 1, 8.5);
    Noise noise;
    const std::vector<size_t> kicks = Onsets(signal, 0.2, 0.5, 16);
    const std::vector<size_t> hats = Onsets(signal, 0.45, 0.5, 16);
    for (size_t at : kicks) MixAt(&signal, at, Kick(signal.rate));
    for (size_t at : hats) MixAt(&signal, at, Hat(signal.rate, &noise));
    const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);

    const uint16_t bass = BandMask(0, 4);     // up to 200 Hz
    const uint16_t treble = BandMask(11, 15); // from 3.2 kHz
    for (const auto& hits : {std::make_pair(&kicks, bass), std::make_pair(&hats, treble)}) {
        for (size_t at : *hits.first) {
            const size_t before = FrameOfSample(signal, at) - 1;
            const double onset = OnsetMs(signal, at);
            EXPECT_EQ(frames[before] & hits.second, 0)
                << (hits.second == bass ? "bass" : "treble") << " still lit before " << onset
                << " ms: " << Show(frames, static_cast<size_t>(onset) - 50, static_cast<size_t>(onset) + 50);
            EXPECT_LE(LitMs(frames, hits.second, signal, at) - onset, 20.0)
                << (hits.second == bass ? "bass" : "treble") << " late at " << onset
                << " ms: " << Show(frames, static_cast<size_t>(onset) - 20, static_cast<size_t>(onset) + 60);
        }
    }
}

// Pink noise has the same power in every band: each lamp lights at some
// time, and none far more often than another.
TEST(VisSpectrum, PinkNoiseLightsEveryBandAboutAsOften)
{
    for (uint32_t rate : {44100u, 48000u}) {
        Signal signal = Silence(rate, 2, 0);
        Noise noise;
        AddPinkNoise(&signal, &noise, -20.0, 10.0);
        const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);
        size_t lit[kVisBands] = {};
        for (size_t k = 0; k < frames.size(); ++k)
            for (uint32_t band = 0; band < kVisBands; ++band)
                if (frames[k] & BandLampBit(band)) ++lit[band];
        const size_t most = *std::max_element(lit, lit + kVisBands);
        const size_t least = *std::min_element(lit, lit + kVisBands);
        std::string counts;
        for (size_t count : lit) counts += " " + std::to_string(count);
        EXPECT_GT(least, 0u) << rate << " Hz: frames lit per band:" << counts;
        EXPECT_LE(most, 3 * least) << rate << " Hz: frames lit per band:" << counts;
    }
}

// Criterion 9's tone on one side, silence on the other (or mono).
Signal MeterTone(double dbfs, int side)
{
    Signal signal = Silence(48000, side == 2 ? 1 : 2, 0);
    const size_t count = signal.rate;
    for (size_t i = 0; i < count; ++i) {
        const int16_t x = ToSample(DbToAmplitude(dbfs) * std::sin(2 * kPi * 997.0 * i / signal.rate));
        if (side == 2) {
            signal.samples.push_back(x);
        } else {
            signal.samples.push_back(side == 0 ? x : 0);
            signal.samples.push_back(side == 1 ? x : 0);
        }
    }
    return signal;
}

TEST(VisMeter, EachThreeDecibelsLightOneSegmentFewer)
{
    for (int side : {0, 1, 2}) {
        for (int step = 0; step <= 9; ++step) {
            const double dbfs = -6.0 - 3.0 * step;
            const Signal signal = MeterTone(dbfs, side);
            const std::vector<uint16_t> frames = FramesOf(RunSignal(signal, kVisVu), signal);
            const unsigned segments = step < 8 ? 8 - step : 0;
            const uint16_t row = static_cast<uint16_t>((0xFF00u >> segments) & 0xFF);
            const uint16_t want = side == 0 ? row : side == 1 ? static_cast<uint16_t>(row << 8)
                                                              : static_cast<uint16_t>(row | row << 8);
            for (size_t k = 10; k < frames.size() - 1; ++k)
                ASSERT_EQ(Hex(frames[k]), Hex(want))
                    << dbfs << " dBFS on side " << side << " at " << 10 * (k + 1) << " ms";
        }
    }
}

TEST(VisMeter, RisesInAboutFiveMillisecondsAndFallsTwentyDecibelsIn1700)
{
    // A 5 ms burst reads about 2 dB under the steady tone: 7 segments of a
    // -6 dBFS tone's 8; a 30 ms one all 8.
    for (const auto& burst : {std::make_pair(0.005, 0x00FEu), std::make_pair(0.030, 0x00FFu)}) {
        Signal signal = MeterTone(-120, 0);
        signal.samples.clear();
        for (size_t i = 0; i < static_cast<size_t>(2.5 * signal.rate); ++i) {
            const bool on = i >= signal.rate / 10 && i < signal.rate / 10 + burst.first * signal.rate;
            const int16_t x = on ? ToSample(0.5 * std::sin(2 * kPi * 1000.0 * i / signal.rate)) : 0;
            signal.samples.push_back(x);
            signal.samples.push_back(0);
        }
        const std::vector<uint16_t> frames = FramesOf(RunSignal(signal, kVisVu), signal);
        uint16_t most = 0;
        size_t topAt = 0, oneAt = 0;
        for (size_t k = 0; k < frames.size(); ++k) {
            if (frames[k] > most) most = frames[k], topAt = k;
            if (most != 0 && oneAt == 0 && LitCount(frames[k]) <= 1) oneAt = k;
        }
        EXPECT_EQ(Hex(most), Hex(static_cast<uint16_t>(burst.second))) << burst.first * 1000 << " ms burst";
        // From the top down to the lowest segment: 18 to 21 dB of fall.
        if (burst.second == 0x00FF) {
            const double fallMs = 10.0 * (oneAt - topAt);
            EXPECT_GT(fallMs, 1500.0);
            EXPECT_LT(fallMs, 1850.0);
        }
    }
}

// The same audio in every encoding the reader takes gives the same lines,
// however it is cut into pieces.
TEST(VisInput, EveryEncodingGivesTheSameLines)
{
    Signal signal = Silence(48000, 2, 0);
    Noise noise;
    AddPinkNoise(&signal, &noise, -18.0, 1.0);
    AddSine(&signal, 440.0, -9.0, 1.0);
    AddNoise(&signal, &noise, -30.0, 0.5);
    for (VisMode mode : {kVisSpectrum, kVisVu}) {
        const PcmFormat s16 = {kPcmS16, 48000, 2}, f32 = {kPcmF32, 48000, 2};
        const PrintRun expected = RunPrint(RawS16(signal), PrintSettings(mode, false, s16));
        ASSERT_GT(expected.lines.size(), 5u);
        struct {
            const char* what;
            std::string bytes;
            bool wav;
            PcmFormat raw;
            size_t piece;
        } const cases[] = {
            {"s16le in single bytes", RawS16(signal), false, s16, 1},
            {"f32le", RawF32(signal), false, f32, 4096},
            {"f32le in 7-byte pieces", RawF32(signal), false, f32, 7},
            {"WAV 16-bit", Wav(signal, 16), true, s16, 4096},
            {"WAV 24-bit in 5-byte pieces", Wav(signal, 24), true, s16, 5},
            {"WAV float", Wav(signal, 32), true, s16, 65536},
            {"WAV extensible 16-bit", Wav(signal, 16, true), true, s16, 1000},
            {"WAV extensible float", Wav(signal, 32, true), true, s16, 3},
        };
        for (const auto& c : cases) {
            const PrintRun run = RunPrint(c.bytes, PrintSettings(mode, c.wav, c.raw), c.piece);
            EXPECT_EQ(run.status, kPcmOk) << c.what << ": " << run.message;
            EXPECT_EQ(run.lines, expected.lines) << c.what << ", mode " << mode;
        }
    }
}

}  // namespace
