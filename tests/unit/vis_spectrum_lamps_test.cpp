// Sounds that hold or pulse, run through --print's path: a held sound lets
// its lamp go once it stops rising, and a band that pulses fast does not
// flicker with every pulse.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "vis_test_support.h"

namespace {

const double kPi = 3.14159265358979323846;
const uint32_t kRate = 44100;
const double kSeconds = 8.0;

// A sine whose level follows dbfs(t), without a break in phase.
template <typename Level>
std::vector<double> Tone(double hz, Level dbfs)
{
    std::vector<double> tone(static_cast<size_t>(kSeconds * kRate));
    for (size_t i = 0; i < tone.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        tone[i] = DbToAmplitude(dbfs(t)) * std::sin(2 * kPi * hz * t);
    }
    return tone;
}

// A melody 14 dB under the held sounds: 200 ms notes, 100 ms apart, going
// up and down three notes between 1 and 2.25 kHz.
const std::vector<double> kMelodyNotes = {1000.0, 1500.0, 2250.0};

std::vector<double> Melody()
{
    const double notes[] = {kMelodyNotes[0], kMelodyNotes[1], kMelodyNotes[2], kMelodyNotes[1]};
    std::vector<double> melody(static_cast<size_t>(kSeconds * kRate));
    for (size_t i = 0; i < melody.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const int note = static_cast<int>(t / 0.3);
        if (t - 0.3 * note < 0.2) melody[i] = DbToAmplitude(-26.0) * std::sin(2 * kPi * notes[note % 4] * t);
    }
    return melody;
}

uint16_t MaskOf(const std::vector<double>& hz)
{
    uint16_t mask = 0;
    for (double f : hz) mask = static_cast<uint16_t>(mask | BandLampBit(BandOf(f)));
    return mask;
}

TEST(VisSpectrum, HeldSoundsUnderAMelodyLightOnlyWhileTheyRise)
{
    struct {
        const char* what;
        std::vector<double> hz;  // the held sound's tones
        double stepDb;           // each 250 ms, the level falls this far and rises again
        double litShareMax;      // of the frames from 3 s on, with the held sound's lamps lit
        size_t flashesMin;       // of the held sound's lamps from 3 s on
    } const cases[] = {
        {"a drone", {50.0}, 0.0, 0.1, 0},
        {"a held chord", {196.0, 247.0, 294.0}, 0.0, 0.1, 0},
        {"a bass line, loud and soft notes", {45.0}, 8.0, 0.75, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Signal signal = Silence(kRate, 1, kSeconds);
        MixAt(&signal, 0, Melody());
        for (double hz : c.hz) {
            const double step = c.stepDb;
            const double top = c.hz.size() > 1 ? -18.0 : -12.0;
            MixAt(&signal, 0, Tone(hz, [=](double t) { return static_cast<int>(t / 0.25) % 2 ? top - step : top; }));
        }
        const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);
        const uint16_t held = MaskOf(c.hz);
        const uint16_t melody = MaskOf(kMelodyNotes);
        size_t heldLit = 0, melodyLit = 0;
        const std::vector<uint16_t> after(frames.begin() + 300, frames.end());
        for (uint16_t lamps : after) {
            if (lamps & held) ++heldLit;
            if (lamps & melody) ++melodyLit;
        }
        EXPECT_LE(heldLit, c.litShareMax * after.size()) << "the held sound's lamps stand lit";
        EXPECT_GE(Flashes(after, held).size(), c.flashesMin) << "the held sound's lamps do not follow its notes";
        EXPECT_GT(melodyLit, after.size() / 10) << "the melody hardly lights";
    }
}

TEST(VisSpectrum, ABandThatPulsesFastDoesNotFlickerWithEveryPulse)
{
    // 10 pulses a second, 10 dB deep, as a busy band's; its lamp shows
    // about every other pulse.
    Signal signal = Silence(kRate, 1, kSeconds);
    MixAt(&signal, 0, Tone(500.0, [](double t) { return t - 0.1 * static_cast<int>(t / 0.1) < 0.06 ? -10.0 : -20.0; }));
    const std::vector<uint16_t> frames = FramesOf(RunSignal(signal), signal);
    const std::vector<uint16_t> after(frames.begin() + 100, frames.end() - 10);
    const size_t flashes = Flashes(after, BandLampBit(BandOf(500.0))).size();
    const double seconds = after.size() / 100.0;
    EXPECT_LE(flashes / seconds, 6.0) << flashes << " flashes in " << seconds << " s";
    EXPECT_GE(flashes / seconds, 3.0) << flashes << " flashes in " << seconds << " s";
}

}  // namespace
