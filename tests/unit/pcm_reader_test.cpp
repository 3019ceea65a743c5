// The WAV and raw PCM reader on good, odd and broken input: what it takes,
// what it refuses and says why, and that no input puts a wrong value on the
// lamps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "vis_test_support.h"

namespace {

std::string U16(uint32_t value)
{
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

std::string U32(uint32_t value)
{
    return U16(value & 0xFFFF) + U16(value >> 16);
}

// A chunk with its pad byte; size, when given, is what its header claims.
std::string Chunk(const std::string& id, const std::string& body, bool pad = true,
                  uint32_t size = UINT32_MAX - 1)
{
    const uint32_t stated = size == UINT32_MAX - 1 ? static_cast<uint32_t>(body.size()) : size;
    std::string chunk = id + U32(stated) + body;
    if (pad && body.size() % 2 == 1) chunk.push_back('\0');
    return chunk;
}

std::string Riff(const std::string& chunks, uint32_t size = 0)
{
    return "RIFF" + U32(size == 0 ? static_cast<uint32_t>(chunks.size() + 4) : size) + "WAVE" + chunks;
}

std::string FmtBody(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits, uint32_t block = 0)
{
    if (block == 0) block = channels * bits / 8;
    return U16(tag) + U16(channels) + U32(rate) + U32(rate * block) + U16(block) + U16(bits);
}

const std::string kGuidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);

std::string ExtensibleBody(uint32_t subTag, uint32_t channels, uint32_t rate, uint32_t bits,
                           const std::string& tail = kGuidTail)
{
    return FmtBody(0xFFFE, channels, rate, bits) + U16(22) + U16(bits) + U32(3) + U16(subTag) + tail;
}

std::string Fmt(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits)
{
    return Chunk("fmt ", FmtBody(tag, channels, rate, bits));
}

// Four stereo 16-bit frames: 1000, -1000, 2000, -2000 ... on both sides.
const std::string kFourFrames = U16(1000) + U16(1000) + U16(0x10000 - 1000) + U16(0x10000 - 1000) + U16(2000) +
                                U16(2000) + U16(0x10000 - 2000) + U16(0x10000 - 2000);

struct Read {
    PcmStatus status = kPcmOk;
    std::string message;
    std::vector<float> samples;
    PcmFormat format = {};
    bool endedEarly = false;
};

void Collect(void* context, const float* samples, unsigned frames)
{
    Read* read = static_cast<Read*>(context);
    read->samples.insert(read->samples.end(), samples, samples + frames * read->format.channels);
}

void KeepFormat(void* context, const PcmFormat& format)
{
    static_cast<Read*>(context)->format = format;
}

Read ReadWav(const std::string& bytes, size_t piece = 3)
{
    Read read;
    PcmReader reader;
    StartWavReader(&reader, Collect, KeepFormat, &read);
    for (size_t at = 0; at < bytes.size() && read.status == kPcmOk; at += piece)
        read.status = FeedPcm(&reader, bytes.data() + at, std::min(piece, bytes.size() - at));
    if (read.status == kPcmOk) read.status = FinishPcm(&reader);
    read.message = reader.message;
    read.endedEarly = reader.endedEarly;
    return read;
}

TEST(VisReader, RefusesWhatItCannotReadAndSaysWhy)
{
    const std::string data = Chunk("data", kFourFrames);
    struct {
        const char* what;
        std::string bytes;
        const char* says;
    } const cases[] = {
        {"empty input", "", "it is empty"},
        {"four bytes", "RIFF", "4 bytes long, too short for a WAV header"},
        {"text", "hello, this is not audio at all", "not a WAV file"},
        {"an AIFF file", std::string("FORM\x00\x00\x00\x10" "AIFFCOMM", 16), "not a WAV file"},
        {"big-endian", "RIFX" + U32(40) + "WAVE" + Fmt(1, 2, 44100, 16) + data, "big-endian WAV (RIFX)"},
        {"RF64", "RF64" + U32(UINT32_MAX) + "WAVE", "RF64"},
        {"8-bit PCM", Riff(Fmt(1, 1, 44100, 8) + data), "8-bit integer PCM"},
        {"32-bit integer PCM", Riff(Fmt(1, 2, 44100, 32) + data), "32-bit integer PCM"},
        {"64-bit float", Riff(Fmt(3, 2, 44100, 64) + data), "64-bit float PCM"},
        {"A-law", Riff(Fmt(6, 1, 8000, 8) + data), "A-law"},
        {"mu-law", Riff(Fmt(7, 1, 44100, 8) + data), "mu-law"},
        {"MS ADPCM", Riff(Fmt(2, 2, 44100, 4) + data), "MS ADPCM"},
        {"MPEG", Riff(Fmt(0x50, 2, 44100, 0) + data), "MPEG audio"},
        {"MP3", Riff(Fmt(0x55, 2, 44100, 0) + data), "MP3"},
        {"an unknown tag", Riff(Fmt(0x1234, 2, 44100, 16) + data), "format tag 0x1234"},
        {"5 channels", Riff(Fmt(1, 5, 44100, 16) + data), "5 channels; give 1 or 2"},
        {"no channels", Riff(Fmt(1, 0, 44100, 16) + data), "0 channels"},
        {"8000 Hz", Riff(Fmt(1, 1, 8000, 16) + data), "8000 Hz; give 22050 to 96000 Hz"},
        {"192 kHz", Riff(Fmt(3, 2, 192000, 32) + data), "192000 Hz"},
        {"a lying block size", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 3)) + data), "inconsistent"},
        {"a short fmt", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16).substr(0, 14)) + data),
         "fmt chunk is 14 bytes"},
        {"an extensible fmt cut short", Riff(Chunk("fmt ", FmtBody(0xFFFE, 2, 44100, 16) + U16(0)) + data),
         "extensible fmt chunk is 18 bytes"},
        {"an unknown sub-format", Riff(Chunk("fmt ", ExtensibleBody(1, 2, 44100, 16, std::string(14, 'x'))) + data),
         "sub-format it does not know"},
        {"extensible A-law", Riff(Chunk("fmt ", ExtensibleBody(6, 1, 44100, 8)) + data), "A-law"},
        {"data before fmt", Riff(data + Fmt(1, 2, 44100, 16)), "comes before its format"},
        {"no fmt at all", Riff(data), "comes before its format"},
        {"no data chunk", Riff(Fmt(1, 2, 44100, 16) + Chunk("LIST", "INFOtext")), "no data chunk"},
        {"cut inside the fmt", Riff(Fmt(1, 2, 44100, 16)).substr(0, 30), "before its format"},
        {"cut inside a chunk head", Riff(Fmt(1, 2, 44100, 16)) + "da", "no data chunk"},
        {"a chunk claiming 4 GB", Riff(Fmt(1, 2, 44100, 16) + Chunk("LIST", "x", true, UINT32_MAX) + data),
         "no data chunk"},
        {"an odd chunk without its pad byte", Riff(Fmt(1, 2, 44100, 16) + Chunk("LIST", "odd", false) + data),
         "no data chunk"},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t(1), size_t(7), size_t(4096)}) {
            const Read read = ReadWav(c.bytes, piece);
            EXPECT_EQ(read.status, kPcmUnsupported) << c.what << " in pieces of " << piece;
            EXPECT_NE(read.message.find(c.says), std::string::npos) << c.what << ": \"" << read.message << "\"";
            EXPECT_LT(read.message.size() + 1, kPcmMessageMax) << c.what << " was cut short";
            EXPECT_TRUE(read.samples.empty()) << c.what;
        }
        // Refused input gets no lamp line at all: nothing was sent.
        const PrintRun run = RunPrint(c.bytes, PrintSettings(kVisSpectrum, true));
        EXPECT_EQ(run.status, kPcmUnsupported) << c.what;
        EXPECT_TRUE(run.lines.empty()) << c.what;
    }
}

TEST(VisReader, TakesWhatWritersReallyWrite)
{
    const std::vector<float> four = {1000 / 32768.f, 1000 / 32768.f, -1000 / 32768.f, -1000 / 32768.f,
                                     2000 / 32768.f, 2000 / 32768.f, -2000 / 32768.f, -2000 / 32768.f};
    const std::vector<float> three(four.begin(), four.begin() + 6);
    const std::string fmt = Fmt(1, 2, 44100, 16);
    const std::string list = Chunk("LIST", "INFOISFT\x05\x00\x00\x00odd!!");
    struct {
        const char* what;
        std::string bytes;
        std::vector<float> samples;
        bool endedEarly;
    } const cases[] = {
        {"plain", Riff(fmt + Chunk("data", kFourFrames)), four, false},
        {"an 18-byte fmt", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16) + U16(0)) + Chunk("data", kFourFrames)),
         four, false},
        {"odd chunks with pad bytes around fmt", Riff(list + fmt + list + Chunk("data", kFourFrames)), four, false},
        {"a data size beyond the file", Riff(fmt + Chunk("data", kFourFrames, true, 1000)), four, true},
        {"a data size of 0, as streams write", Riff(fmt + Chunk("data", kFourFrames, true, 0)), four, false},
        {"espeak-ng's stream sizes", Riff(fmt + Chunk("data", kFourFrames, true, 0x7FFFF000), 0x7FFFF024), four,
         true},
        {"a lying RIFF size", Riff(fmt + Chunk("data", kFourFrames), 12), four, false},
        {"a partial frame at the end", Riff(fmt + Chunk("data", kFourFrames.substr(0, 15))), three, false},
        {"a chunk after the data", Riff(fmt + Chunk("data", kFourFrames) + list), four, false},
        {"a second fmt", Riff(fmt + Fmt(1, 1, 8000, 8) + Chunk("data", kFourFrames)), four, false},
        {"an empty data chunk followed by nothing", Riff(fmt + Chunk("data", "")), {}, false},
        {"extensible", Riff(Chunk("fmt ", ExtensibleBody(1, 2, 44100, 16)) + Chunk("data", kFourFrames)), four,
         false},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t(1), size_t(5), size_t(4096)}) {
            const Read read = ReadWav(c.bytes, piece);
            ASSERT_EQ(read.status, kPcmOk) << c.what << ": " << read.message;
            EXPECT_EQ(read.samples, c.samples) << c.what << " in pieces of " << piece;
            EXPECT_EQ(read.endedEarly, c.endedEarly) << c.what;
            EXPECT_EQ(read.format.rate, 44100u) << c.what;
        }
    }
}

// Every sample becomes a float in [-1, 1]; NaN and infinities are silence.
TEST(VisReader, DecodesEverySampleIntoRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float tiny = std::numeric_limits<float>::denorm_min();
    struct {
        const char* what;
        uint32_t tag, bits;
        std::string data;
        std::vector<float> samples;
    } cases[] = {
        {"16-bit extremes", 1, 16, U16(0x8000) + U16(0x7FFF) + U16(0) + U16(0xFFFF),
         {-1.0f, 32767 / 32768.f, 0.0f, -1 / 32768.f}},
        {"24-bit extremes", 1, 24, std::string("\x00\x00\x80\xFF\xFF\x7F\x00\x01\x00\xFF\xFF\xFF", 12),
         {-1.0f, 8388607 / 8388608.f, 256 / 8388608.f, -1 / 8388608.f}},
        {"floats in and out of range", 3, 32, "", {0.25f, -1.0f, 1.0f, -1.0f, 0.0f, 0.0f, 0.0f, tiny}},
    };
    for (float value : {0.25f, -1.0f, 2.0f, -1e30f, nan, inf, -inf, tiny}) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        cases[2].data += U32(bits);
    }
    for (const auto& c : cases) {
        const Read read = ReadWav(Riff(Fmt(c.tag, 1, 48000, c.bits) + Chunk("data", c.data)), 2);
        ASSERT_EQ(read.status, kPcmOk) << c.what << ": " << read.message;
        EXPECT_EQ(read.samples, c.samples) << c.what;
    }
}

// Input that no lamp value can come from gives the lines of silence, and
// nothing gives a line that is not a lamp line.
TEST(VisReader, OddInputNeverPutsAWrongValueOnTheLamps)
{
    const PcmFormat f32 = {kPcmF32, 44100, 2};
    const PcmFormat s16 = {kPcmS16, 44100, 2};
    Signal silence = Silence(44100, 2, 1.5);
    const PrintRun quiet = RunPrint(RawF32(silence), PrintSettings(kVisSpectrum, false, f32));

    std::string badFloats;
    for (size_t i = 0; i < silence.samples.size(); ++i) {
        const float value = i % 3 == 0 ? std::numeric_limits<float>::quiet_NaN()
                                       : i % 3 == 1 ? std::numeric_limits<float>::infinity()
                                                    : -std::numeric_limits<float>::infinity();
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        badFloats += U32(bits);
    }
    for (VisMode mode : {kVisSpectrum, kVisVu}) {
        const PrintRun silent = RunPrint(RawF32(silence), PrintSettings(mode, false, f32));
        EXPECT_EQ(RunPrint(badFloats, PrintSettings(mode, false, f32)).lines, silent.lines) << "NaN and Inf";
        EXPECT_EQ(RunPrint(badFloats, PrintSettings(mode, false, f32), 13).lines, silent.lines);
    }
    EXPECT_EQ(quiet.lines, std::vector<std::string>{"10 >5L0000\n"});

    // An odd number of bytes: the partial sample at the end is dropped.
    Signal tone = Silence(44100, 2, 0);
    AddSine(&tone, 500.0, -6.0, 1.0);
    const std::string bytes = RawS16(tone);
    const PrintRun whole = RunPrint(bytes, PrintSettings(kVisSpectrum, false, s16));
    EXPECT_EQ(RunPrint(bytes + "\x7F", PrintSettings(kVisSpectrum, false, s16)).lines, whole.lines);
    EXPECT_EQ(RunPrint(bytes + "\x7F\x7F\x7F", PrintSettings(kVisSpectrum, false, s16)).lines, whole.lines);

    // Empty input: the lamps go out, once.
    const PrintRun empty = RunPrint("", PrintSettings(kVisSpectrum, false, s16));
    EXPECT_EQ(empty.lines, std::vector<std::string>{"0 >5L0000\n"});

    // Full-scale square waves, at the integer and float limits and beyond.
    for (double hz : {50.0, 1000.0, 9000.0}) {
        std::string s16Square, f32Square;
        for (size_t i = 0; i < 44100 * 2; ++i) {
            const bool high = static_cast<size_t>(i / 2 * 2 * hz / 44100) % 2 == 0;
            s16Square += U16(high ? 0x7FFF : 0x8000);
            const float value = high ? 1e30f : -1e30f;
            uint32_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            f32Square += U32(bits);
        }
        for (VisMode mode : {kVisSpectrum, kVisVu}) {
            for (const PrintRun& run : {RunPrint(s16Square, PrintSettings(mode, false, s16)),
                                        RunPrint(f32Square, PrintSettings(mode, false, f32))}) {
                const std::vector<LampLine> lines = ParseLines(run.lines);
                ASSERT_GE(lines.size(), 2u);
                EXPECT_EQ(lines.back().lamps, 0) << "the lamps go out at the end";
                const uint16_t last = lines[lines.size() - 2].lamps;
                if (mode == kVisVu) {
                    EXPECT_EQ(last, 0xFFFF) << hz << " Hz square";
                } else {
                    EXPECT_TRUE(last & BandLampBit(BandOf(hz))) << hz << " Hz square: " << last;
                }
            }
        }
    }
}

}  // namespace
