#include "tools/tolvaren-vis/vis_spectrum_lamps.h"

#include <cmath>

namespace {

// A band lights on what rises out of its own recent level, so that the
// lamps move with mastered music, which keeps most bands near their peaks
// all the time. Each band keeps a range: a floor that follows a fall
// quickly (60 dB a second) and rises slowly (closing 63 % of the gap in a
// second), and a peak that follows a rise at once and falls 10 dB a second.
// A band lights once it stands in the top quarter of its range and goes out
// below 55 % of it.
const double kFloorFallDbPerSecond = 60.0;
const double kFloorRiseSeconds = 1.0;
const double kPeakFallDbPerSecond = 10.0;
const double kOnAtShareOfRange = 0.75;
const double kOffBelowShareOfRange = 0.55;
// The range reaches at least 3 dB above the floor: a steady sound (a drone,
// a held chord, a bass note that lingers), whose floor creeps up to its
// level, comes to sit at the bottom of its range and goes dark within a
// second or two, and lights again only when it rises more than 2 dB out of
// that level. A range of at most 24 dB: after a silence a band lights
// within 6 dB of its peak.
const double kRangeMinDb = 3.0;
const double kRangeMaxDb = 24.0;
// Never more than kVisMaxLit lamps at once: a loud broadband sound lights
// the bands that rose the most, not a solid block.

// Never lit more than 20 dB below the loudest band, and lit only once
// within 17 dB of it: otherwise every band that hears a loud tone's faint
// skirts would light.
const double kOffBelowLoudestDb = 20.0;
const double kOnBelowLoudestDb = 17.0;
// Nor more than 23 dB below the whole signal (all bands together, held
// like a band): a sound below the lowest band, such as a 20 Hz rumble,
// lights none of the bands that only hear its skirts, while each band of
// pink noise, 12 to 16 dB below the whole, stays clear of it.
const double kOnBelowWholeDb = 23.0;
const double kOffBelowWholeDb = 26.0;
// The loudest band stands alone when every band but its neighbours is more
// than 20 dB below it, so that no other lamp may light: a lone tone, or a
// sweep leaving the top band towards the Nyquist frequency, where the filter
// fades it. Once it has stood alone for 200 ms its lamp is all that shows
// the sound, so it lights and stays lit while within 12 dB of its peak,
// however its range moves. A band that only dominates (a bass line or a
// drone 12 dB above a melody, alone only in the melody's rests) lights on
// what rises out of its range, as every other band does.
const double kAloneAboveDb = kOffBelowLoudestDb;
const uint32_t kAloneFrames = 20;
const double kAloneHoldDb = 12.0;
// A lone steady tone keeps every lamp it lit: the loudest band and the two
// on either side of it that hear its skirts. It is steady once the loudest
// band's range has gone flat (its peak less than the least range above its
// floor), and lone while every band further off is more than 20 dB below
// it; its lit lamps then stay lit while within 12 dB of their peaks. A tone
// that pulses has a range that moves; a drone or a held chord under other
// music, or rich in harmonics, has bands further off within 20 dB.
const int kToneReach = 2;
// Nothing lights below -55 dBFS in its band (noise, dither, hum of a quiet
// line); a lit band goes out below -58 dBFS.
const double kGateOnDbfs = -55.0;
const double kGateOffDbfs = -58.0;
// A flash stays at least 40 ms, so that a click is seen.
const uint32_t kMinOnFrames = 4;
// A band that went out less than 150 ms ago lights again only on a sound
// that rises 15 dB or more out of its floor: a new note out of near silence
// is a flash of its own, but the next pulse of a busy band, a few decibels
// above its dips, waits, so that the lamp does not flicker with it. In a
// fast run of notes a band then shows every other note or so.
const uint32_t kRefractoryFrames = 15;
const double kRefractoryRiseDb = 15.0;

// Levels in dB go no lower than this: silence.
const double kSilentDb = -120.0;

double ToDb(float level)
{
    return level > 1e-6f ? 20.0 * std::log10(level) : kSilentDb;
}

// Moves a band's floor and peak on by one frame of level db, and gives
// where db stands in the band's range: 0 at its floor, 1 at its top.
double PlaceInRange(VisBand* band, double db, const VisAnalysis& analysis)
{
    double floor = band->floorDb;
    if (db < floor) {
        floor = floor - analysis.floorFallDb > db ? floor - analysis.floorFallDb : db;
    } else {
        floor += (db - floor) * analysis.floorRiseShare;
    }
    double peak = band->peakDb - analysis.peakFallDb;
    if (db > peak) peak = db;
    // A floor far below the peak (after a silence) is lifted to the range's
    // largest, so that it does not take seconds to rise from there.
    if (floor < peak - kRangeMaxDb) floor = peak - kRangeMaxDb;
    band->floorDb = static_cast<float>(floor);
    band->peakDb = static_cast<float>(peak);
    const double top = peak > floor + kRangeMinDb ? peak : floor + kRangeMinDb;
    return (db - floor) / (top - floor);
}

// What a spectrum frame's decisions look at: each band's level, the
// loudest band and the whole signal.
struct SpectrumFrame {
    double db[kVisBands];  // each band's peak in the frame; silence for a dark band
    int loudest;           // the loudest active band
    float loudestLevel;
    float whole;           // the whole signal's peak in the frame
    bool alone;            // for 200 ms, no band but the loudest's neighbours might light
    bool loneSteadyTone;   // the loudest band's range is flat, and no band beyond its tone's reach is near it
};

// False when no band is active, which never happens: the lowest band lies
// below every rate's Nyquist frequency.
bool MeasureFrame(const VisAnalysis& analysis, SpectrumFrame* frame)
{
    frame->loudest = -1;
    for (uint32_t i = 0; i < kVisBands; ++i) {
        const VisBand& band = analysis.band[i];
        frame->db[i] = band.active ? ToDb(band.framePeak) : kSilentDb;
        if (band.active && (frame->loudest < 0 || band.framePeak > analysis.band[frame->loudest].framePeak))
            frame->loudest = static_cast<int>(i);
    }
    if (frame->loudest < 0) return false;
    frame->loudestLevel = analysis.band[frame->loudest].framePeak;
    return true;
}

// Whether every band more than reach bands from the loudest is more than
// kAloneAboveDb below it.
bool NoneNearBeyond(const SpectrumFrame& frame, int reach)
{
    for (int i = 0; i < static_cast<int>(kVisBands); ++i)
        if ((i < frame.loudest - reach || i > frame.loudest + reach) &&
            frame.db[i] > frame.db[frame.loudest] - kAloneAboveDb)
            return false;
    return true;
}

// Whether the loudest band has stood alone (but for its neighbours) for
// kAloneFrames, this frame included; counts the frames it has.
bool StandsAlone(VisAnalysis* analysis, const SpectrumFrame& frame)
{
    if (!NoneNearBeyond(frame, 1))
        analysis->aloneFrames = 0;
    else if (analysis->aloneFrames < kAloneFrames)
        ++analysis->aloneFrames;
    return analysis->aloneFrames >= kAloneFrames;
}

// Whether the frame is a lone steady tone's: the loudest band's range flat,
// every band beyond the tone's reach far below it.
bool IsLoneSteadyTone(const VisAnalysis& analysis, const SpectrumFrame& frame)
{
    const VisBand& loudest = analysis.band[frame.loudest];
    return loudest.peakDb - loudest.floorDb < kRangeMinDb && NoneNearBeyond(frame, kToneReach);
}

// Whether band i lights this frame, before the cap: a lit band stays lit
// above the lower thresholds (or within its minimum time); a dark one lights
// above the higher ones, and soon after it went out only on a large rise;
// the band that stands alone lights near its peak, and a lone steady tone
// keeps its lamps.
bool WantsLight(const VisBand& band, uint32_t i, double place, const VisThresholds& t, const SpectrumFrame& frame)
{
    const float level = band.framePeak;
    if (!band.lit && band.darkFrames < kRefractoryFrames && frame.db[i] - band.floorDb < kRefractoryRiseDb)
        return false;
    if (frame.alone && static_cast<int>(i) == frame.loudest && level >= (band.lit ? t.gateOff : t.gateOn) &&
        frame.db[i] >= band.peakDb - kAloneHoldDb)
        return true;
    const int fromLoudest = static_cast<int>(i) - frame.loudest;
    if (frame.loneSteadyTone && band.lit && fromLoudest >= -kToneReach && fromLoudest <= kToneReach &&
        level >= t.gateOff && frame.db[i] >= band.peakDb - kAloneHoldDb)
        return true;
    if (!band.lit)
        return level >= t.gateOn && level >= frame.loudestLevel * t.onBelowLoudest &&
               level >= frame.whole * t.onBelowWhole && place >= kOnAtShareOfRange;
    if (level >= t.gateOff && level >= frame.loudestLevel * t.offBelowLoudest &&
        level >= frame.whole * t.offBelowWhole && place >= kOffBelowShareOfRange)
        return true;
    return band.litFrames < kMinOnFrames;
}

// Never more than kVisMaxLit: the bands of the lowest rank go dark first.
void CapLitBands(bool* wants, const double* rank, uint32_t wanting)
{
    for (; wanting > kVisMaxLit; --wanting) {
        uint32_t lowest = kVisBands;
        for (uint32_t i = 0; i < kVisBands; ++i)
            if (wants[i] && (lowest == kVisBands || rank[i] < rank[lowest])) lowest = i;
        if (lowest == kVisBands) break;
        wants[lowest] = false;
    }
}

// Lights the bands that won and gives their lamps.
uint16_t LightBands(VisAnalysis* analysis, const bool* wants)
{
    uint16_t lamps = 0;
    for (uint32_t i = 0; i < kVisBands; ++i) {
        VisBand* band = &analysis->band[i];
        if (!band->active) continue;
        band->litFrames = wants[i] ? band->litFrames + 1 : 0;
        if (wants[i])
            band->darkFrames = 0;
        else if (band->darkFrames < kRefractoryFrames)
            ++band->darkFrames;
        band->lit = wants[i];
        if (band->lit) lamps = static_cast<uint16_t>(lamps | BandLampBit(i));
    }
    return lamps;
}

}  // namespace

uint16_t EndSpectrumFrame(VisAnalysis* analysis)
{
    SpectrumFrame frame;
    frame.whole = analysis->whole.framePeak;
    if (!MeasureFrame(*analysis, &frame)) return 0;
    frame.alone = StandsAlone(analysis, frame);
    frame.loneSteadyTone = IsLoneSteadyTone(*analysis, frame);

    bool wants[kVisBands] = {};
    double rank[kVisBands] = {};
    uint32_t wanting = 0;
    for (uint32_t i = 0; i < kVisBands; ++i) {
        VisBand* band = &analysis->band[i];
        if (!band->active) continue;
        const double place = PlaceInRange(band, frame.db[i], *analysis);
        wants[i] = WantsLight(*band, i, place, analysis->thresholds, frame);
        // The cap keeps a flash still within its minimum time before any
        // other; then the bands that rose the most in their own range, and
        // of two that rose alike, the louder (a step in rank for each 24 dB).
        rank[i] = place + (frame.db[i] - frame.db[frame.loudest]) / kRangeMaxDb;
        if (band->lit && band->litFrames < kMinOnFrames) rank[i] += 4.0;
        if (wants[i]) ++wanting;
    }
    CapLitBands(wants, rank, wanting);
    return LightBands(analysis, wants);
}

void StartSpectrumLamps(VisAnalysis* analysis)
{
    const double frameSeconds = kVisFrameMs / 1000.0;
    analysis->floorFallDb = static_cast<float>(kFloorFallDbPerSecond * frameSeconds);
    analysis->floorRiseShare = static_cast<float>(1.0 - std::exp(-frameSeconds / kFloorRiseSeconds));
    analysis->peakFallDb = static_cast<float>(kPeakFallDbPerSecond * frameSeconds);
    VisThresholds* t = &analysis->thresholds;
    t->gateOn = DbToLinear(kGateOnDbfs);
    t->gateOff = DbToLinear(kGateOffDbfs);
    t->onBelowLoudest = DbToLinear(-kOnBelowLoudestDb);
    t->offBelowLoudest = DbToLinear(-kOffBelowLoudestDb);
    t->onBelowWhole = DbToLinear(-kOnBelowWholeDb);
    t->offBelowWhole = DbToLinear(-kOffBelowWholeDb);
    for (uint32_t i = 0; i < kVisBands; ++i) {
        analysis->band[i].floorDb = static_cast<float>(kSilentDb);
        analysis->band[i].peakDb = static_cast<float>(kSilentDb);
        analysis->band[i].darkFrames = kRefractoryFrames;
    }
}
