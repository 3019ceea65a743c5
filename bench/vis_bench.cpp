// tolvaren-vis's figures on the host: the CPU time its analysis takes per
// second of audio, and the latency from a tone burst's first sample to the
// lamp line that shows it, band by band. Prints a table; asserts nothing.
//   build/native/vis_bench
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/tolvaren-vis/vis_engine.h"

namespace {

const double kPi = 3.14159265358979323846;

double CpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

void Put16(std::string* out, double value)
{
    double scaled = std::round(value * 32768.0);
    if (scaled > 32767) scaled = 32767;
    if (scaled < -32768) scaled = -32768;
    const uint16_t sample = static_cast<uint16_t>(static_cast<int16_t>(scaled));
    out->push_back(static_cast<char>(sample & 0xFF));
    out->push_back(static_cast<char>(sample >> 8));
}

// Something like music, so that every band has work: pink-ish noise under
// a bass line and a melody, in stereo.
std::string MusicLike(uint32_t rate, double seconds)
{
    std::string bytes;
    uint64_t state = 12345;
    double low = 0.0;
    const size_t count = static_cast<size_t>(seconds * rate);
    for (size_t i = 0; i < count; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double white = static_cast<double>(state >> 11) / static_cast<double>(1ull << 52) - 1.0;
        low = 0.97 * low + 0.03 * white;
        const double t = static_cast<double>(i) / rate;
        const double bass = 0.3 * std::sin(2 * kPi * (55.0 + 20.0 * std::floor(std::fmod(t, 2.0))) * t);
        const double tune = 0.15 * std::sin(2 * kPi * (440.0 * std::pow(2.0, std::floor(std::fmod(t * 4, 12)) / 12)) * t);
        Put16(&bytes, bass + tune + 0.1 * white + 0.5 * low);
        Put16(&bytes, bass - tune + 0.1 * white + 0.5 * low);
    }
    return bytes;
}

void Count(void* context, const VisLine&)
{
    ++*static_cast<unsigned long*>(context);
}

VisEngine engine;

double CpuPerAudioSecond(VisMode mode, uint32_t rate, const std::string& bytes, double seconds,
                         unsigned long* lines)
{
    VisSettings settings = {};
    settings.mode = mode;
    settings.output = kVisForPipe;
    settings.raw = PcmFormat{kPcmS16, rate, 2};
    *lines = 0;
    const double start = CpuSeconds();
    StartVis(&engine, settings, Count, lines);
    // Pieces as a pipe delivers them.
    for (size_t at = 0; at < bytes.size(); at += 4096)
        FeedVis(&engine, bytes.data() + at, bytes.size() - at < 4096 ? bytes.size() - at : 4096);
    FinishVis(&engine);
    return (CpuSeconds() - start) / seconds;
}

struct FirstLit {
    uint16_t mask;
    uint32_t afterMs;  // look only from here on
    uint32_t litMs;    // the first line at or after afterMs with mask lit
};

void FindLit(void* context, const VisLine& line)
{
    FirstLit* first = static_cast<FirstLit*>(context);
    if (first->litMs == 0 && line.audioMs >= first->afterMs && (line.lamps & first->mask) != 0)
        first->litMs = line.audioMs;
}

// The latency of one burst at hz whose first sample comes offsetMs into a
// 10 ms frame, after a second of silence.
double BurstLatencyMs(VisMode mode, uint32_t rate, double hz, double offsetMs, uint16_t mask)
{
    std::string bytes;
    const size_t onset = static_cast<size_t>((1.0 + offsetMs / 1000.0) * rate);
    const size_t count = onset + rate / 4;
    for (size_t i = 0; i < count; ++i) {
        const double x = i < onset ? 0.0 : 0.5 * std::sin(2 * kPi * hz * (i - onset) / rate);
        Put16(&bytes, x);
        Put16(&bytes, x);
    }
    VisSettings settings = {};
    settings.mode = mode;
    settings.output = kVisForPrint;
    settings.raw = PcmFormat{kPcmS16, rate, 2};
    FirstLit first = {mask, 1000, 0};
    StartVis(&engine, settings, FindLit, &first);
    FeedVis(&engine, bytes.data(), bytes.size());
    FinishVis(&engine);
    if (first.litMs == 0) return -1.0;
    return first.litMs - 1000.0 * onset / rate;
}

uint16_t BandBit(uint32_t band)
{
    return BandLampBit(band);
}

}  // namespace

int main()
{
    std::printf("tolvaren-vis benchmark (host build; the analysis is the same code in the Windows build)\n\n");

    std::printf("CPU time per second of stereo audio (goal at 48 kHz: at most 1 %% of one core)\n");
    std::printf("  %-9s %-8s %12s %10s %10s\n", "mode", "rate", "CPU ms/s", "% of core", "lines/s");
    const double seconds = 30.0;
    for (uint32_t rate : {44100u, 48000u, 96000u}) {
        const std::string bytes = MusicLike(rate, seconds);
        for (VisMode mode : {kVisSpectrum, kVisVu}) {
            unsigned long lines = 0;
            // The best of three runs: the machine is shared.
            double best = 1e9;
            for (int run = 0; run < 3; ++run) {
                const double cpu = CpuPerAudioSecond(mode, rate, bytes, seconds, &lines);
                if (cpu < best) best = cpu;
            }
            std::printf("  %-9s %-8u %12.2f %9.2f%% %10.1f\n", mode == kVisSpectrum ? "spectrum" : "vu", rate,
                        best * 1000.0, best * 100.0, lines / seconds);
        }
    }

    std::printf("\nLatency from a burst's first sample to the line that lights its lamp, 48 kHz\n");
    std::printf("(-6 dBFS tone bursts at the band's centre after a second of silence; ten onsets\n");
    std::printf("spread over a 10 ms frame; the line's time is the end of its frame)\n");
    std::printf("  %-5s %9s %8s %8s %8s %8s\n", "band", "centre Hz", "min ms", "mean ms", "max ms", "goal ms");
    for (uint32_t band = 0; band < kVisBands; ++band) {
        const double hz = BandCentreHz(band);
        double lowest = 1e9, highest = -1e9, sum = 0.0;
        bool missed = false;
        for (int k = 0; k < 10; ++k) {
            const double latency = BurstLatencyMs(kVisSpectrum, 48000, hz, k, BandBit(band));
            if (latency < 0) missed = true;
            lowest = latency < lowest ? latency : lowest;
            highest = latency > highest ? latency : highest;
            sum += latency;
        }
        const char* goal = hz > 200.0 ? "20" : "40";
        if (missed)
            std::printf("  %-5u %9.0f %35s\n", band + 1, hz, "never lit");
        else
            std::printf("  %-5u %9.0f %8.1f %8.1f %8.1f %8s\n", band + 1, hz, lowest, sum / 10, highest, goal);
    }
    {
        double lowest = 1e9, highest = -1e9, sum = 0.0;
        for (int k = 0; k < 10; ++k) {
            const double latency = BurstLatencyMs(kVisVu, 48000, 1000.0, k, 0x0080);
            lowest = latency < lowest ? latency : lowest;
            highest = latency > highest ? latency : highest;
            sum += latency;
        }
        std::printf("  %-15s %8.1f %8.1f %8.1f %8s\n", "vu, 1 kHz", lowest, sum / 10, highest, "20");
    }
    return 0;
}
