#pragma once

// Turns audio into one lamp value per 10 ms frame: a 16-band spectrum or a
// two-row level meter. Fixed-size state, no allocation; the same samples
// always give the same values.

#include <cstdint>

#include "tools/tolvaren-vis/pcm_reader.h"

enum VisMode {
    kVisSpectrum,  // 16 bands, lowest at the upper-left lamp
    kVisVu,        // a peak meter per channel: upper row left, lower row right
};

enum : uint32_t {
    kVisBands = 16,
    kVisFrameMs = 10,
    kVisSegments = 8,  // meter segments a row
    kVisMaxLit = 12,   // spectrum lamps lit at once, at most
};

// Band centres, log-spaced from 40 Hz to 16 kHz: a ratio of 400^(1/15),
// about 0.58 octave from band to band.
constexpr double kVisLowestCentreHz = 40.0;
constexpr double kVisHighestCentreHz = 16000.0;
// The meter's segments are 3 dB apart.
constexpr double kVisSegmentStepDb = 3.0;

// One band-pass stage (RBJ band-pass, 0 dB at its centre) in transposed
// direct form II. Doubles: the lowest band's poles sit within 0.1 % of the
// unit circle at 96 kHz.
struct VisBiquad {
    double b0, a1, a2;  // b1 is 0 and b2 is -b0 for a band-pass
    double z1, z2;
};

struct VisBand {
    VisBiquad stage[2];
    bool active;            // its centre lies well below the Nyquist frequency
    float envelope;         // peak detector: instant attack, held, then falling
    uint32_t holdLeft;      // samples the envelope is still held
    uint32_t holdSamples;
    float framePeak;        // the envelope's highest value in this frame
    float floorDb;          // the band's own recent level: follows a fall quickly, a rise slowly
    float peakDb;           // the band's own recent loud: follows a rise at once, then falls
    bool lit;
    uint32_t litFrames;     // frames lit so far, for the minimum on-time
    uint32_t darkFrames;    // frames dark since it went out, counted as far as its refractory time
};

// The whole signal's peak, held and falling like a band's.
struct VisWhole {
    float envelope;
    uint32_t holdLeft;
    uint32_t holdSamples;
    float framePeak;
};

struct VisMeter {
    float level;     // quasi-peak reading, linear
    float framePeak;
    uint32_t segments;  // lit segments, 0 to 8
};

// Thresholds as linear factors, worked out once at the start.
struct VisThresholds {
    float gateOn, gateOff;                      // absolute
    float onBelowLoudest, offBelowLoudest;      // times the loudest band's level
    float onBelowWhole, offBelowWhole;          // times the whole signal's level
    float segmentOn[kVisSegments], segmentOff[kVisSegments];
};

struct VisAnalysis {
    VisMode mode;
    PcmFormat format;
    uint64_t sample;          // frames of audio analysed
    uint64_t frameEnd;        // the sample at which the current 10 ms frame ends
    uint64_t frameIndex;      // frames completed (64 bits: a capture may run for years)
    float envelopeFall;       // spectrum: per-sample factor of the peak detectors' fall
    float floorFallDb;        // spectrum: how far a band's floor may fall in a frame
    float floorRiseShare;     // spectrum: the share of the gap to the level its floor rises in a frame
    float peakFallDb;         // spectrum: how far a band's peak falls in a frame
    uint32_t aloneFrames;     // spectrum: frames in a row in which the loudest band stood alone
    float meterAttack;        // meter: share of the gap closed per sample on a rise
    float meterFall;          // meter: per-sample factor of its fall
    VisThresholds thresholds;
    VisBand band[kVisBands];
    VisWhole whole;
    VisMeter meter[kPcmChannelsMax];
};

// Is called at the end of each 10 ms frame with its lamp value; frameIndex
// 0 is the frame that ends at 10 ms of audio (it wraps after 497 days).
typedef void (*VisFrameSink)(void* context, uint16_t lamps, uint32_t frameIndex);

void StartAnalysis(VisAnalysis* analysis, VisMode mode, const PcmFormat& format);

// samples: frames of format.channels samples each, in [-1, 1].
void AnalyseSamples(VisAnalysis* analysis, const float* samples, unsigned frames, VisFrameSink sink,
                    void* context);

// The lamp bit of a band (0 = lowest): bands 0-7 from bit 7 down to bit 0,
// bands 8-15 from bit 15 down to bit 8, so that both rows read left to right.
inline uint16_t BandLampBit(uint32_t band)
{
    return static_cast<uint16_t>(1u << (band < 8 ? 7 - band : 23 - band));
}

// The centre frequency of a band, in Hz.
double BandCentreHz(uint32_t band);

// A level in dB as a linear factor.
float DbToLinear(double db);
