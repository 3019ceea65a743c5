#include "tools/tolvaren-vis/vis_analysis.h"

#include <cmath>
#include <cstring>

namespace {

const double kPi = 3.14159265358979323846;

// Q of each of the two stages. With 0.58 octave between centres, Q 2.5 puts
// the neighbouring band 14 dB down and the one after it 26 dB down, so that
// a pure tone lights its band and at most its two neighbours, and
// neighbours still cross at -6 dB, so that no tone falls between two bands.
const double kStageQ = 2.5;

// A band whose centre is above this share of the sample rate is left dark:
// the bilinear filter squeezes it against the Nyquist frequency.
const double kHighestCentreShare = 0.45;

// The peak detector holds a peak for one period of the band's centre, and
// for at least half a period of the lowest band, so that a low tone leaking
// into a higher band shows no ripple between its peaks; then it falls
// 300 dB a second, so that a lamp goes out about 50 ms after a sound stops.
const double kMinHoldSeconds = 0.0130;
const double kEnvelopeFallDbPerSecond = 300.0;

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
// The range is taken as at least 4 dB, so that a steady sound (a tone, a
// held chord), whose floor creeps up to its peak, stays lit rather than
// flickering with its last fraction of a decibel of ripple; and as at most
// 24 dB, so that after a silence a band lights within 6 dB of its peak.
const double kRangeMinDb = 4.0;
const double kRangeMaxDb = 24.0;
// The loudest band, when every band but its neighbours is at least 12 dB
// below it, holds nearly all the sound (a tone, or a sweep leaving the top
// band towards the Nyquist frequency, where the filter fades it): once lit
// it stays lit while within 12 dB of its peak, however its range moves.
const double kDominantAboveDb = 12.0;
const double kDominantHoldDb = 12.0;
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
const double kWholeHoldSeconds = 0.025;
// Nothing lights below -55 dBFS in its band (noise, dither, hum of a quiet
// line); a lit band goes out below -58 dBFS.
const double kGateOnDbfs = -55.0;
const double kGateOffDbfs = -58.0;
// A flash stays at least 40 ms, so that a click is seen.
const uint32_t kMinOnFrames = 4;

// The meter: IEC 60268-10 type I (quasi-peak). Its integration time of 5 ms
// (a 5 ms tone burst reads 2 dB below the steady tone) comes from a
// rectifier charging with this time constant; it falls 20 dB in 1.7 s.
const double kMeterAttackSeconds = 0.0017;
const double kMeterFallDbPerSecond = 20.0 / 1.7;
// A -6 dBFS tone fills the row. Each threshold sits halfway between two
// segment steps, so that a tone at -6, -9, -12 ... dBFS lights exactly 8,
// 7, 6 ... segments; a lit one goes out 0.5 dB lower.
const double kTopSegmentDbfs = -7.5;
const double kSegmentHysteresisDb = 0.5;

// Filter state below this is rounded to zero once a frame, so that a long
// silence never leaves the filters working on denormal numbers.
const double kDenormalFloor = 1e-25;

float DbToLinear(double db)
{
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

void SetBandPass(VisBiquad* stage, double centreHz, double rate)
{
    const double w0 = 2.0 * kPi * centreHz / rate;
    const double alpha = std::sin(w0) / (2.0 * kStageQ);
    const double a0 = 1.0 + alpha;
    stage->b0 = alpha / a0;
    stage->a1 = -2.0 * std::cos(w0) / a0;
    stage->a2 = (1.0 - alpha) / a0;
    stage->z1 = 0.0;
    stage->z2 = 0.0;
}

void FlushDenormals(VisBiquad* stage)
{
    if (std::fabs(stage->z1) < kDenormalFloor) stage->z1 = 0.0;
    if (std::fabs(stage->z2) < kDenormalFloor) stage->z2 = 0.0;
}

// The peak detector of every band and of the whole signal: it follows a
// rise at once, holds a peak for holdSamples, then falls by fall a sample;
// peak is the envelope's highest in the frame.
struct PeakHold {
    float envelope;
    float peak;
    uint32_t holdLeft;
};

inline void HoldPeak(PeakHold* hold, float level, uint32_t holdSamples, float fall)
{
    if (level >= hold->envelope) {
        hold->envelope = level;
        hold->holdLeft = holdSamples;
        if (level > hold->peak) hold->peak = level;
    } else if (hold->holdLeft > 0) {
        --hold->holdLeft;
    } else {
        hold->envelope *= fall;
    }
}

// Runs one band over count mono samples.
void RunBand(VisBand* band, const float* mono, unsigned count, float fall)
{
    VisBiquad a = band->stage[0];
    VisBiquad b = band->stage[1];
    PeakHold hold = {band->envelope, band->framePeak, band->holdLeft};
    const uint32_t holdSamples = band->holdSamples;

    for (unsigned i = 0; i < count; ++i) {
        const double x = mono[i];
        const double u = a.b0 * x + a.z1;
        a.z1 = a.z2 - a.a1 * u;
        a.z2 = -a.b0 * x - a.a2 * u;
        const double y = b.b0 * u + b.z1;
        b.z1 = b.z2 - b.a1 * y;
        b.z2 = -b.b0 * u - b.a2 * y;
        HoldPeak(&hold, static_cast<float>(std::fabs(y)), holdSamples, fall);
    }
    band->stage[0] = a;
    band->stage[1] = b;
    band->envelope = hold.envelope;
    band->framePeak = hold.peak;
    band->holdLeft = hold.holdLeft;
}

// The whole signal's peak detector, held like the lowest band's.
void RunWhole(VisWhole* whole, const float* mono, unsigned count, float fall)
{
    PeakHold hold = {whole->envelope, whole->framePeak, whole->holdLeft};
    const uint32_t holdSamples = whole->holdSamples;
    for (unsigned i = 0; i < count; ++i) HoldPeak(&hold, std::fabs(mono[i]), holdSamples, fall);
    whole->envelope = hold.envelope < 1e-20f ? 0.0f : hold.envelope;
    whole->framePeak = hold.peak;
    whole->holdLeft = hold.holdLeft;
}

// Levels in dB go no lower than this: silence.
const double kSilentDb = -120.0;

double ToDb(float level)
{
    return level > 1e-6f ? 20.0 * std::log10(level) : kSilentDb;
}

// Moves a band's floor and peak on by one frame of level db, and gives
// where db stands in the band's range: 0 at its bottom, 1 at its peak.
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
    const double bottom = floor < peak - kRangeMinDb ? floor : peak - kRangeMinDb;
    return (db - bottom) / (peak - bottom);
}

// What a spectrum frame's decisions look at: each band's level, the
// loudest band and the whole signal.
struct SpectrumFrame {
    double db[kVisBands];  // each band's peak in the frame; silence for a dark band
    int loudest;           // the loudest active band
    float loudestLevel;
    float whole;           // the whole signal's peak in the frame
    bool dominant;         // the loudest band holds nearly all the sound
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
    frame->dominant = true;
    for (int i = 0; i < static_cast<int>(kVisBands); ++i)
        if ((i < frame->loudest - 1 || i > frame->loudest + 1) &&
            frame->db[i] > frame->db[frame->loudest] - kDominantAboveDb)
            frame->dominant = false;
    return true;
}

// Whether band i lights this frame, before the cap: a lit band stays lit
// above the lower thresholds (or as the dominant band near its peak, or
// within its minimum time); a dark one lights above the higher ones.
bool WantsLight(const VisBand& band, uint32_t i, double place, const VisThresholds& t, const SpectrumFrame& frame)
{
    const float level = band.framePeak;
    if (!band.lit)
        return level >= t.gateOn && level >= frame.loudestLevel * t.onBelowLoudest &&
               level >= frame.whole * t.onBelowWhole && place >= kOnAtShareOfRange;
    if (level >= t.gateOff && level >= frame.loudestLevel * t.offBelowLoudest &&
        level >= frame.whole * t.offBelowWhole && place >= kOffBelowShareOfRange)
        return true;
    if (frame.dominant && static_cast<int>(i) == frame.loudest && level >= t.gateOff &&
        frame.db[i] >= band.peakDb - kDominantHoldDb)
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

// Lights the bands that won, gives their lamps, and starts the next frame.
uint16_t LightBands(VisAnalysis* analysis, const bool* wants)
{
    uint16_t lamps = 0;
    for (uint32_t i = 0; i < kVisBands; ++i) {
        VisBand* band = &analysis->band[i];
        if (!band->active) continue;
        band->litFrames = wants[i] ? band->litFrames + 1 : 0;
        band->lit = wants[i];
        if (band->lit) lamps = static_cast<uint16_t>(lamps | BandLampBit(i));
        // The next frame's peak starts from where the envelope is now.
        band->framePeak = band->envelope;
        FlushDenormals(&band->stage[0]);
        FlushDenormals(&band->stage[1]);
    }
    return lamps;
}

uint16_t EndSpectrumFrame(VisAnalysis* analysis)
{
    SpectrumFrame frame;
    frame.whole = analysis->whole.framePeak;
    analysis->whole.framePeak = analysis->whole.envelope;
    if (!MeasureFrame(*analysis, &frame)) return 0;

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

void RunMeter(VisMeter* meter, const float* samples, unsigned count, unsigned stride, float attack, float fall)
{
    float level = meter->level;
    float peak = meter->framePeak;
    for (unsigned i = 0; i < count; ++i) {
        const float x = std::fabs(samples[static_cast<size_t>(i) * stride]);
        if (x > level)
            level += (x - level) * attack;
        else
            level *= fall;
        if (level > peak) peak = level;
    }
    meter->level = level < 1e-20f ? 0.0f : level;
    meter->framePeak = peak;
}

uint32_t MeterSegments(VisMeter* meter, const VisThresholds& t)
{
    uint32_t segments = 0;
    for (uint32_t k = 0; k < kVisSegments; ++k) {
        const float threshold = k < meter->segments ? t.segmentOff[k] : t.segmentOn[k];
        if (meter->framePeak >= threshold) segments = k + 1;
    }
    meter->segments = segments;
    meter->framePeak = meter->level;
    return segments;
}

uint16_t EndMeterFrame(VisAnalysis* analysis)
{
    // A row lights from the left: the upper row's leftmost lamp is bit 7,
    // the lower row's is bit 15.
    const uint32_t left = MeterSegments(&analysis->meter[0], analysis->thresholds);
    const uint32_t right = analysis->format.channels > 1 ? MeterSegments(&analysis->meter[1], analysis->thresholds) : left;
    const uint32_t upper = (0xFF00u >> left) & 0xFFu;
    const uint32_t lower = (0xFF00u >> right) & 0xFFu;
    return static_cast<uint16_t>(upper | (lower << 8));
}

uint64_t FrameEnd(uint32_t rate, uint64_t frameIndex)
{
    return (frameIndex + 1) * rate * kVisFrameMs / 1000;
}

}  // namespace

double BandCentreHz(uint32_t band)
{
    return kVisLowestCentreHz * std::pow(kVisHighestCentreHz / kVisLowestCentreHz, band / double(kVisBands - 1));
}

void StartAnalysis(VisAnalysis* analysis, VisMode mode, const PcmFormat& format)
{
    *analysis = VisAnalysis();
    analysis->mode = mode;
    analysis->format = format;
    if (analysis->format.channels < 1) analysis->format.channels = 1;
    if (analysis->format.channels > kPcmChannelsMax) analysis->format.channels = kPcmChannelsMax;
    if (analysis->format.rate < 1000) analysis->format.rate = 1000;
    const double rate = analysis->format.rate;
    analysis->frameEnd = FrameEnd(analysis->format.rate, 0);

    analysis->envelopeFall = DbToLinear(-kEnvelopeFallDbPerSecond / rate);
    const double frameSeconds = kVisFrameMs / 1000.0;
    analysis->floorFallDb = static_cast<float>(kFloorFallDbPerSecond * frameSeconds);
    analysis->floorRiseShare = static_cast<float>(1.0 - std::exp(-frameSeconds / kFloorRiseSeconds));
    analysis->peakFallDb = static_cast<float>(kPeakFallDbPerSecond * frameSeconds);
    analysis->meterAttack = static_cast<float>(1.0 - std::exp(-1.0 / (kMeterAttackSeconds * rate)));
    analysis->meterFall = DbToLinear(-kMeterFallDbPerSecond / rate);

    VisThresholds* t = &analysis->thresholds;
    t->gateOn = DbToLinear(kGateOnDbfs);
    t->gateOff = DbToLinear(kGateOffDbfs);
    t->onBelowLoudest = DbToLinear(-kOnBelowLoudestDb);
    t->offBelowLoudest = DbToLinear(-kOffBelowLoudestDb);
    t->onBelowWhole = DbToLinear(-kOnBelowWholeDb);
    t->offBelowWhole = DbToLinear(-kOffBelowWholeDb);
    for (uint32_t k = 0; k < kVisSegments; ++k) {
        const double db = kTopSegmentDbfs - kVisSegmentStepDb * (kVisSegments - 1 - k);
        t->segmentOn[k] = DbToLinear(db);
        t->segmentOff[k] = DbToLinear(db - kSegmentHysteresisDb);
    }

    analysis->whole.holdSamples = static_cast<uint32_t>(kWholeHoldSeconds * rate);
    for (uint32_t i = 0; i < kVisBands; ++i) {
        VisBand* band = &analysis->band[i];
        const double centre = BandCentreHz(i);
        band->active = centre < kHighestCentreShare * rate;
        if (!band->active) continue;
        SetBandPass(&band->stage[0], centre, rate);
        SetBandPass(&band->stage[1], centre, rate);
        const double hold = 1.0 / centre > kMinHoldSeconds ? 1.0 / centre : kMinHoldSeconds;
        band->holdSamples = static_cast<uint32_t>(hold * rate);
        band->floorDb = static_cast<float>(kSilentDb);
        band->peakDb = static_cast<float>(kSilentDb);
    }
}

void AnalyseSamples(VisAnalysis* analysis, const float* samples, unsigned frames, VisFrameSink sink,
                    void* context)
{
    const unsigned channels = analysis->format.channels;
    float mono[kPcmBatchFrames];
    while (frames > 0) {
        // Up to the frame's end, and no more than the mono buffer holds.
        uint64_t run = analysis->frameEnd - analysis->sample;
        if (run > frames) run = frames;
        if (run > kPcmBatchFrames) run = kPcmBatchFrames;
        const unsigned count = static_cast<unsigned>(run);

        if (analysis->mode == kVisSpectrum) {
            const float* in = samples;
            if (channels == 2) {
                for (size_t i = 0; i < count; ++i) mono[i] = 0.5f * (samples[2 * i] + samples[2 * i + 1]);
                in = mono;
            }
            for (uint32_t b = 0; b < kVisBands; ++b)
                if (analysis->band[b].active) RunBand(&analysis->band[b], in, count, analysis->envelopeFall);
            RunWhole(&analysis->whole, in, count, analysis->envelopeFall);
        } else {
            for (unsigned c = 0; c < channels; ++c)
                RunMeter(&analysis->meter[c], samples + c, count, channels, analysis->meterAttack,
                         analysis->meterFall);
        }

        samples += static_cast<size_t>(count) * channels;
        frames -= count;
        analysis->sample += count;
        if (analysis->sample == analysis->frameEnd) {
            const uint16_t lamps =
                analysis->mode == kVisSpectrum ? EndSpectrumFrame(analysis) : EndMeterFrame(analysis);
            const uint32_t index = static_cast<uint32_t>(analysis->frameIndex++);
            analysis->frameEnd = FrameEnd(analysis->format.rate, analysis->frameIndex);
            sink(context, lamps, index);
        }
    }
}
