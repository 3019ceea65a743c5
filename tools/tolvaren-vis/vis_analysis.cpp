#include "tools/tolvaren-vis/vis_analysis.h"

#include "tools/tolvaren-vis/vis_spectrum_lamps.h"

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

// The whole signal's peak is held 25 ms, about as long as the lowest band's.
const double kWholeHoldSeconds = 0.025;

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

// The spectrum's next frame: each band's peak and the whole signal's start
// from where their envelopes are now.
uint16_t EndSpectrumFrameAndGoOn(VisAnalysis* analysis)
{
    const uint16_t lamps = EndSpectrumFrame(analysis);
    analysis->whole.framePeak = analysis->whole.envelope;
    for (uint32_t i = 0; i < kVisBands; ++i) {
        VisBand* band = &analysis->band[i];
        if (!band->active) continue;
        band->framePeak = band->envelope;
        FlushDenormals(&band->stage[0]);
        FlushDenormals(&band->stage[1]);
    }
    return lamps;
}

uint64_t FrameEnd(uint32_t rate, uint64_t frameIndex)
{
    return (frameIndex + 1) * rate * kVisFrameMs / 1000;
}

}  // namespace

float DbToLinear(double db)
{
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

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
    analysis->meterAttack = static_cast<float>(1.0 - std::exp(-1.0 / (kMeterAttackSeconds * rate)));
    analysis->meterFall = DbToLinear(-kMeterFallDbPerSecond / rate);

    VisThresholds* t = &analysis->thresholds;
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
    }
    StartSpectrumLamps(analysis);
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
                analysis->mode == kVisSpectrum ? EndSpectrumFrameAndGoOn(analysis) : EndMeterFrame(analysis);
            const uint32_t index = static_cast<uint32_t>(analysis->frameIndex++);
            analysis->frameEnd = FrameEnd(analysis->format.rate, analysis->frameIndex);
            sink(context, lamps, index);
        }
    }
}
