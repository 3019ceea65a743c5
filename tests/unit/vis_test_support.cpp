#include "vis_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

const double kPi = 3.14159265358979323846;

void Put16(std::string* out, uint32_t value)
{
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string* out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

float AsFloat(int16_t sample)
{
    return static_cast<float>(sample) / 32768.0f;
}

void Sink(void* context, const VisLine& line)
{
    char text[kVisPrintLineMax];
    const unsigned length = FormatPrintLine(line, text);
    static_cast<std::vector<std::string>*>(context)->push_back(std::string(text, length));
}

}  // namespace

double Noise::Next()
{
    // xorshift64*: the same numbers on every build.
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    const uint64_t value = state * 2685821657736338717ull;
    return static_cast<double>(value >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

double DbToAmplitude(double db)
{
    return std::pow(10.0, db / 20.0);
}

int16_t ToSample(double value)
{
    const double scaled = std::round(value * 32768.0);
    if (scaled > 32767.0) return 32767;
    if (scaled < -32768.0) return -32768;
    return static_cast<int16_t>(scaled);
}

Signal Silence(uint32_t rate, uint32_t channels, double seconds)
{
    Signal signal;
    signal.rate = rate;
    signal.channels = channels;
    signal.samples.assign(static_cast<size_t>(seconds * rate) * channels, 0);
    return signal;
}

void AddSine(Signal* signal, double hz, double dbfs, double seconds, double fadeSeconds)
{
    const double amplitude = DbToAmplitude(dbfs);
    const size_t count = static_cast<size_t>(seconds * signal->rate);
    const size_t fade = static_cast<size_t>(fadeSeconds * signal->rate);
    for (size_t i = 0; i < count; ++i) {
        double gain = 1.0;
        if (i < fade) gain = 0.5 - 0.5 * std::cos(kPi * i / fade);
        if (count - i <= fade) gain = 0.5 - 0.5 * std::cos(kPi * (count - i) / fade);
        const int16_t sample = ToSample(amplitude * gain * std::sin(2.0 * kPi * hz * i / signal->rate));
        for (uint32_t c = 0; c < signal->channels; ++c) signal->samples.push_back(sample);
    }
}

void AddNoise(Signal* signal, Noise* noise, double dbfs, double seconds)
{
    const double amplitude = DbToAmplitude(dbfs);
    const size_t count = static_cast<size_t>(seconds * signal->rate) * signal->channels;
    for (size_t i = 0; i < count; ++i) signal->samples.push_back(ToSample(amplitude * noise->Next()));
}

void AddPinkNoise(Signal* signal, Noise* noise, double dbfsRms, double seconds)
{
    // Paul Kellet's filter of white noise: within 0.05 dB of -3 dB an
    // octave from 9 Hz up, at 44.1 kHz.
    const size_t count = static_cast<size_t>(seconds * signal->rate);
    std::vector<double> pink(count);
    double b[7] = {};
    double power = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double white = noise->Next();
        b[0] = 0.99886 * b[0] + white * 0.0555179;
        b[1] = 0.99332 * b[1] + white * 0.0750759;
        b[2] = 0.96900 * b[2] + white * 0.1538520;
        b[3] = 0.86650 * b[3] + white * 0.3104856;
        b[4] = 0.55000 * b[4] + white * 0.5329522;
        b[5] = -0.7616 * b[5] - white * 0.0168980;
        pink[i] = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + white * 0.5362;
        b[6] = white * 0.115926;
        power += pink[i] * pink[i];
    }
    const double gain = DbToAmplitude(dbfsRms) / std::sqrt(power / count);
    for (size_t i = 0; i < count; ++i)
        for (uint32_t c = 0; c < signal->channels; ++c) signal->samples.push_back(ToSample(gain * pink[i]));
}

void MixAt(Signal* signal, size_t at, const std::vector<double>& sound)
{
    if (signal->samples.size() < at + sound.size()) signal->samples.resize(at + sound.size(), 0);
    for (size_t i = 0; i < sound.size(); ++i)
        signal->samples[at + i] = ToSample(AsFloat(signal->samples[at + i]) + sound[i]);
}

Signal Sweep(uint32_t rate, double fromHz, double toHz, double seconds, double dbfs)
{
    Signal signal;
    signal.rate = rate;
    const size_t count = static_cast<size_t>(seconds * rate);
    // Faded in over a period of its first frequency and out over 20 ms,
    // so that it starts and ends without a click.
    const size_t fadeIn = static_cast<size_t>(rate / fromHz);
    const size_t fade = rate / 50;
    const double k = std::log(toHz / fromHz);
    const double amplitude = DbToAmplitude(dbfs);
    for (size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        // The phase of a sweep whose frequency grows as fromHz * e^(k t / T).
        const double phase = 2.0 * kPi * fromHz * seconds / k * (std::exp(k * t / seconds) - 1.0);
        double gain = 1.0;
        if (i < fadeIn) gain = 0.5 - 0.5 * std::cos(kPi * i / fadeIn);
        if (count - i <= fade) gain = 0.5 - 0.5 * std::cos(kPi * (count - i) / fade);
        signal.samples.push_back(ToSample(amplitude * gain * std::sin(phase)));
    }
    return signal;
}

std::string RawS16(const Signal& signal)
{
    std::string out;
    for (int16_t sample : signal.samples) Put16(&out, static_cast<uint16_t>(sample));
    return out;
}

std::string RawF32(const Signal& signal)
{
    std::string out;
    for (int16_t sample : signal.samples) {
        const float value = AsFloat(sample);
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        Put32(&out, bits);
    }
    return out;
}

std::string Wav(const Signal& signal, unsigned bits, bool extensible)
{
    std::string data;
    if (bits == 16) data = RawS16(signal);
    if (bits == 32) data = RawF32(signal);
    if (bits == 24)
        for (int16_t sample : signal.samples) {
            const uint32_t value = static_cast<uint32_t>(static_cast<int32_t>(sample) * 256);
            data.push_back(static_cast<char>(value & 0xFF));
            Put16(&data, (value >> 8) & 0xFFFF);
        }
    const uint16_t tag = bits == 32 ? 3 : 1;
    const uint32_t block = signal.channels * bits / 8;

    std::string fmt;
    Put16(&fmt, extensible ? 0xFFFE : tag);
    Put16(&fmt, signal.channels);
    Put32(&fmt, signal.rate);
    Put32(&fmt, signal.rate * block);
    Put16(&fmt, block);
    Put16(&fmt, bits);
    if (extensible) {
        Put16(&fmt, 22);
        Put16(&fmt, bits);
        Put32(&fmt, signal.channels == 2 ? 3 : 4);
        Put16(&fmt, tag);
        fmt += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }

    std::string out = "RIFF";
    Put32(&out, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + data.size()));
    out += "WAVEfmt ";
    Put32(&out, static_cast<uint32_t>(fmt.size()));
    out += fmt;
    out += "data";
    Put32(&out, static_cast<uint32_t>(data.size()));
    return out + data;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

VisSettings PrintSettings(VisMode mode, bool wav, const PcmFormat& raw)
{
    VisSettings settings = {};
    settings.mode = mode;
    settings.output = kVisForPrint;
    settings.wav = wav;
    settings.raw = raw;
    return settings;
}

PrintRun RunPrint(const std::string& bytes, const VisSettings& settings, size_t piece)
{
    PrintRun run;
    // On the heap, as a caller may put it anywhere: the engine holds no
    // pointer into itself.
    std::vector<VisEngine> engine(1);
    StartVis(&engine[0], settings, Sink, &run.lines);
    for (size_t at = 0; at < bytes.size() && run.status == kPcmOk; at += piece)
        run.status = FeedVis(&engine[0], bytes.data() + at, std::min(piece, bytes.size() - at));
    if (run.status == kPcmOk) run.status = FinishVis(&engine[0]);
    run.message = VisMessage(&engine[0]);
    return run;
}

PrintRun RunSignal(const Signal& signal, VisMode mode)
{
    return RunPrint(Wav(signal, 16), PrintSettings(mode, true));
}

std::vector<LampLine> ParseLines(const std::vector<std::string>& lines)
{
    std::vector<LampLine> parsed;
    for (const std::string& line : lines) {
        unsigned long ms = 0;
        char hex[5] = {};
        char end = 0;
        const bool ok = std::sscanf(line.c_str(), "%lu >5L%4[0-9A-F]%c", &ms, hex, &end) == 3 && end == '\n' &&
                        std::strlen(hex) == 4 && line == std::to_string(ms) + " >5L" + hex + "\n";
        EXPECT_TRUE(ok) << "not a --print line: \"" << line << "\"";
        if (!ok) continue;
        if (!parsed.empty()) {
            EXPECT_GT(ms, parsed.back().ms) << "two lines in one frame, or out of order: " << line;
        }
        parsed.push_back({static_cast<uint32_t>(ms), static_cast<uint16_t>(std::strtoul(hex, nullptr, 16))});
    }
    return parsed;
}

std::vector<uint16_t> LampsPerFrame(const std::vector<LampLine>& lines, size_t frames)
{
    std::vector<uint16_t> result(frames, 0);
    size_t next = 0;
    uint16_t lamps = 0;
    for (size_t k = 0; k < frames; ++k) {
        while (next < lines.size() && lines[next].ms <= 10 * (k + 1)) lamps = lines[next++].lamps;
        result[k] = lamps;
    }
    return result;
}

std::vector<uint16_t> FramesOf(const PrintRun& run, const Signal& signal)
{
    return LampsPerFrame(ParseLines(run.lines), signal.Frames() * 100 / signal.rate);
}

int LowestBand(uint16_t lamps)
{
    for (uint32_t band = 0; band < kVisBands; ++band)
        if (lamps & BandLampBit(band)) return static_cast<int>(band);
    return -1;
}

int HighestBand(uint16_t lamps)
{
    for (int band = kVisBands - 1; band >= 0; --band)
        if (lamps & BandLampBit(static_cast<uint32_t>(band))) return band;
    return -1;
}

unsigned LitCount(uint16_t lamps)
{
    unsigned count = 0;
    for (; lamps != 0; lamps &= static_cast<uint16_t>(lamps - 1)) ++count;
    return count;
}

int BandOf(double hz)
{
    int best = 0;
    for (uint32_t band = 1; band < kVisBands; ++band)
        if (std::fabs(std::log(hz / BandCentreHz(band))) < std::fabs(std::log(hz / BandCentreHz(best))))
            best = static_cast<int>(band);
    return best;
}

size_t FrameOfSample(const Signal& signal, size_t at)
{
    size_t k = at * 100 / signal.rate;
    while (FrameStart(signal, k + 1) <= at) ++k;
    return k;
}

size_t FrameStart(const Signal& signal, size_t k)
{
    return k * signal.rate / 100;
}

std::vector<Flash> Flashes(const std::vector<uint16_t>& frames, uint16_t mask)
{
    std::vector<Flash> flashes;
    for (size_t k = 0; k < frames.size(); ++k) {
        if ((frames[k] & mask) == 0) continue;
        if (!flashes.empty() && flashes.back().lastFrame + 1 == k)
            flashes.back().lastFrame = k;
        else
            flashes.push_back({k, k});
    }
    return flashes;
}
