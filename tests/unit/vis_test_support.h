#pragma once
// Signals the visualiser's tests make themselves, their encodings (raw
// s16le and f32le, WAV), and the way --print runs them: the engine fed in
// pieces, its lines read back as a lamp value for every 10 ms frame.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tolvaren-vis/vis_engine.h"

// 16-bit samples, interleaved: every encoding below holds exactly these
// values, so that they must all give the same lines.
struct Signal {
    uint32_t rate = 44100;
    uint32_t channels = 1;
    std::vector<int16_t> samples;

    size_t Frames() const { return samples.size() / channels; }
};

// Deterministic noise in [-1, 1].
struct Noise {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    double Next();
};

double DbToAmplitude(double db);
int16_t ToSample(double value);  // rounded and clipped to 16 bits

Signal Silence(uint32_t rate, uint32_t channels, double seconds);
// Appends: sine at dbfs peak, for seconds, with optional raised-cosine fades.
void AddSine(Signal* signal, double hz, double dbfs, double seconds, double fadeSeconds = 0.0);
// Appends white noise at a peak level.
void AddNoise(Signal* signal, Noise* noise, double dbfs, double seconds);
// Appends pink noise at an RMS level.
void AddPinkNoise(Signal* signal, Noise* noise, double dbfsRms, double seconds);
// Mixes a sound into a mono signal at a sample offset.
void MixAt(Signal* signal, size_t at, const std::vector<double>& sound);
// A logarithmic sweep (mono, peak dbfs), faded in and out.
Signal Sweep(uint32_t rate, double fromHz, double toHz, double seconds, double dbfs);

std::string RawS16(const Signal& signal);
std::string RawF32(const Signal& signal);
// A WAV file: bits 16 or 24 (integer) or 32 (float), optionally in the
// extensible form.
std::string Wav(const Signal& signal, unsigned bits, bool extensible = false);
// A file's bytes, such as a WAV made by another program; "" when it can't
// be read.
std::string ReadFileBytes(const std::string& path);

struct PrintRun {
    std::vector<std::string> lines;  // exactly as --print writes them, line feeds included
    PcmStatus status = kPcmOk;
    std::string message;
};

VisSettings PrintSettings(VisMode mode, bool wav, const PcmFormat& raw = PcmFormat{kPcmS16, 44100, 2});
// Feeds bytes in pieces of piece bytes, then finishes.
PrintRun RunPrint(const std::string& bytes, const VisSettings& settings, size_t piece = 4096);
// A signal through --print as a 16-bit WAV.
PrintRun RunSignal(const Signal& signal, VisMode mode = kVisSpectrum);

struct LampLine {
    uint32_t ms;
    uint16_t lamps;
};
// Reads "<ms> >5LXXXX\n" lines; fails the test on anything else.
std::vector<LampLine> ParseLines(const std::vector<std::string>& lines);
// The lamps during each 10 ms frame: frame k is what shows from the line at
// 10 (k + 1) ms on. frames covers the signal.
std::vector<uint16_t> LampsPerFrame(const std::vector<LampLine>& lines, size_t frames);
std::vector<uint16_t> FramesOf(const PrintRun& run, const Signal& signal);

// The lowest band (0 = lowest) whose lamp is lit, or -1; likewise highest.
int LowestBand(uint16_t lamps);
int HighestBand(uint16_t lamps);
unsigned LitCount(uint16_t lamps);
// The band whose centre is nearest to hz on a log scale.
int BandOf(double hz);

// Where a sound starts, in 10 ms frames: the frame during which sample at
// lies; and flashes: runs of frames with any of mask lit.
size_t FrameOfSample(const Signal& signal, size_t at);
// The first sample of frame k (frames are 10 ms to the sample, rounded down).
size_t FrameStart(const Signal& signal, size_t k);
struct Flash {
    size_t firstFrame;
    size_t lastFrame;
};
std::vector<Flash> Flashes(const std::vector<uint16_t>& frames, uint16_t mask);
