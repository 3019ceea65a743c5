// tolvaren-vis end to end: the program as a user runs it, on sound the test
// makes itself, against a pipe server of the test's own in tolvaren's place.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tool_run.h"
#include "tools/tolvaren-vis/vis_exit_codes.h"

namespace {

const char kVis[] = "tolvaren-vis.exe";
const double kPi = 3.14159265358979323846;
const unsigned kRate = 44100;

// Stereo samples in [-1, 1], left and right alike.
using Samples = std::vector<float>;

void AddTone(Samples* samples, double hz, double seconds, double amplitude)
{
    const size_t frames = static_cast<size_t>(seconds * kRate);
    for (size_t i = 0; i < frames; ++i) {
        const float value = static_cast<float>(amplitude * std::sin(2 * kPi * hz * static_cast<double>(i) / kRate));
        samples->push_back(value);
        samples->push_back(value);
    }
}

// A bass tone, a pause, a treble tone, a pause: the lamps at the upper left,
// then dark, then at the lower right, then dark.
Samples BassThenTreble(double toneSeconds = 0.3)
{
    Samples samples;
    AddTone(&samples, 60, toneSeconds, 0.5);
    AddTone(&samples, 0, 0.3, 0);
    AddTone(&samples, 8000, toneSeconds, 0.5);
    AddTone(&samples, 0, 0.3, 0);
    return samples;
}

// 16-bit values, which the float forms carry exactly, so that every form
// holds the same signal.
std::vector<int16_t> Quantised(const Samples& samples)
{
    std::vector<int16_t> values;
    for (float sample : samples) values.push_back(static_cast<int16_t>(std::lround(sample * 32767.0)));
    return values;
}

void Put(std::string* bytes, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string RawS16(const Samples& samples)
{
    std::string bytes;
    for (int16_t value : Quantised(samples)) Put(&bytes, static_cast<uint16_t>(value), 2);
    return bytes;
}

std::string RawF32(const Samples& samples)
{
    std::string bytes;
    for (int16_t value : Quantised(samples)) {
        const float sample = static_cast<float>(value) / 32768.0f;
        uint32_t bits = 0;
        std::memcpy(&bits, &sample, 4);
        Put(&bytes, bits, 4);
    }
    return bytes;
}

// A WAV file's header before data of dataBytes: PCM of the given format
// tag (1 integer, 3 float, 6 A-law, ...) and sample size.
std::string WavHeader(uint32_t dataBytes, uint16_t tag = 1, uint16_t bits = 16, uint16_t channels = 2,
                      uint32_t rate = kRate)
{
    std::string bytes = "RIFF";
    Put(&bytes, 36 + dataBytes, 4);
    bytes += "WAVEfmt ";
    Put(&bytes, 16, 4);
    Put(&bytes, tag, 2);
    Put(&bytes, channels, 2);
    Put(&bytes, rate, 4);
    Put(&bytes, rate * channels * bits / 8, 4);
    Put(&bytes, channels * bits / 8, 2);
    Put(&bytes, bits, 2);
    bytes += "data";
    Put(&bytes, dataBytes, 4);
    return bytes;
}

std::string Wav(const Samples& samples)
{
    const std::string data = RawS16(samples);
    return WavHeader(static_cast<uint32_t>(data.size())) + data;
}

// A file of the test's own, gone with the test.
class TempFile {
public:
    TempFile(const std::string& name, const std::string& bytes) : path_(TempPath(name))
    {
        HANDLE file = OpenShared(path_, GENERIC_WRITE, CREATE_ALWAYS, FALSE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
        CloseHandle(file);
    }
    ~TempFile() { DeleteFileA(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The lamp values of --print's lines ("1250 >5L00FF"), or of the pipe's
// reads (">5L00FF\n").
std::vector<std::string> LampValues(const std::string& printed)
{
    std::vector<std::string> values;
    size_t at = 0;
    while ((at = printed.find(">5L", at)) != std::string::npos) {
        values.push_back(printed.substr(at + 3, 4));
        at += 7;
    }
    return values;
}

// The upper row's lamps at its left (the lowest bands: bits 7 to 5) and the
// lower row's at its right (the highest: bits 10 to 8).
bool Bass(const std::string& value)
{
    return (std::stoul(value, nullptr, 16) & 0x00E0u) != 0;
}

bool Treble(const std::string& value)
{
    return (std::stoul(value, nullptr, 16) & 0x0700u) != 0;
}

// Bass lamps come before treble ones, and every lit stretch ends dark.
void ExpectBassThenTreble(const std::vector<std::string>& values, const std::string& what)
{
    size_t firstBass = values.size(), firstTreble = values.size();
    for (size_t i = 0; i < values.size(); ++i) {
        if (Bass(values[i]) && firstBass == values.size()) firstBass = i;
        if (Treble(values[i]) && firstTreble == values.size()) firstTreble = i;
    }
    EXPECT_LT(firstBass, values.size()) << what << ": no bass lamps";
    EXPECT_LT(firstTreble, values.size()) << what << ": no treble lamps";
    EXPECT_LT(firstBass, firstTreble) << what;
    ASSERT_FALSE(values.empty()) << what;
    EXPECT_EQ(values.back(), "0000") << what << ": the lamps end dark";
}

// Bytes written into a pipe that is the tool's standard input, by a thread
// of the test's own, in pieces, and then closed: how a live source ends.
class StdinPipe {
public:
    explicit StdinPipe(std::string bytes)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        CreatePipe(&read_, &write_, &inherit, 1 << 16);
        SetHandleInformation(write_, HANDLE_FLAG_INHERIT, 0);
        writer_ = std::thread([this, bytes] {
            for (size_t at = 0; at < bytes.size(); at += 4096) {
                DWORD written = 0;
                const DWORD count = static_cast<DWORD>(std::min<size_t>(4096, bytes.size() - at));
                if (!WriteFile(write_, bytes.data() + at, count, &written, NULL)) break;
            }
            CloseHandle(write_);
        });
    }
    ~StdinPipe()
    {
        writer_.join();
        CloseHandle(read_);
    }
    HANDLE readEnd() const { return read_; }

private:
    HANDLE read_ = NULL, write_ = NULL;
    std::thread writer_;
};

TEST(TolvarenVis, PrintsTheSameLinesFromEveryKindOfInput)
{
    const Samples samples = BassThenTreble();
    TempFile wav("vis.wav", Wav(samples));
    TempFile s16("vis.s16", RawS16(samples));

    const ToolResult fromWav = ToolRun(kVis, {"--print", wav.path()}).Finish();
    ASSERT_EQ(fromWav.exitCode, static_cast<DWORD>(kVisExitOk)) << fromWav.err;
    ExpectBassThenTreble(LampValues(fromWav.out), "WAV");
    EXPECT_EQ(fromWav.out.substr(0, 3), "10 ") << "the first frame's line";

    // Standard input redirected from a file, and from a pipe fed as it goes.
    HANDLE file = OpenShared(s16.path(), GENERIC_READ, OPEN_EXISTING, TRUE);
    ToolResult fromFile =
        ToolRun(kVis, {"--print", "-", "--format", "s16le"}, "", false, NULL, file).Finish();
    CloseHandle(file);
    EXPECT_EQ(fromFile.out, fromWav.out) << "s16le from a file\n" << fromFile.err;

    StdinPipe floats(RawF32(samples));
    ToolResult fromPipe = ToolRun(kVis, {"--print", "--format", "f32le", "-"}, "", false, NULL,
                                  floats.readEnd()).Finish();
    EXPECT_EQ(fromPipe.out, fromWav.out) << "f32le from a pipe\n" << fromPipe.err;
    EXPECT_EQ(fromPipe.err, "") << "--print drops nothing, however fast the input comes";

    // The delay moves every line, and only that.
    const ToolResult delayed = ToolRun(kVis, {"--print", "--delay", "150", wav.path()}).Finish();
    EXPECT_EQ(LampValues(delayed.out), LampValues(fromWav.out));
    EXPECT_EQ(delayed.out.substr(0, 4), "160 ");
}

TEST(TolvarenVis, EachFaultHasItsExitCodeAndSaysWhy)
{
    TempFile alaw("alaw.wav", WavHeader(4000, 6, 8) + std::string(4000, '\x55'));
    TempFile eightBit("u8.wav", WavHeader(4000, 1, 8) + std::string(4000, '\x80'));
    TempFile sixChannels("six.wav", WavHeader(4800, 1, 16, 6) + std::string(4800, '\0'));
    TempFile text("notes.wav", "these are not samples\n");
    TempFile truncated("cut.wav", Wav(BassThenTreble()).substr(0, 30));
    struct {
        Args args;
        DWORD code;
        const char* says;
    } const cases[] = {
        {{}, kVisExitUsage, "nothing to do"},
        {{"--mode", "disco", "-"}, kVisExitUsage, "--mode takes spectrum or vu"},
        {{"--delay", "900", "-"}, kVisExitUsage, "0 to 500"},
        {{"--print", TempPath("missing.wav")}, kVisExitUnreadable, "could not open"},
        {{"--print", alaw.path()}, kVisExitUnsupported, "A-law"},
        {{"--print", eightBit.path()}, kVisExitUnsupported, "8-bit"},
        {{"--print", sixChannels.path()}, kVisExitUnsupported, "6 channels"},
        {{"--print", text.path()}, kVisExitUnsupported, "not a WAV"},
        {{"--print", truncated.path()}, kVisExitUnsupported, ""},
    };
    for (const auto& c : cases) {
        const std::string name = ::testing::PrintToString(c.args);
        const ToolResult result = ToolRun(kVis, c.args).Finish();
        EXPECT_TRUE(result.finished) << name;
        EXPECT_EQ(result.exitCode, c.code) << name << "\n" << result.err;
        EXPECT_TRUE(Says(result.err, c.says)) << name << "\n" << result.err;
        EXPECT_EQ(result.out, "") << name << ": no lamp line for input it refuses";
    }
}

// What the pipe server read: each read one lamp line, whole.
void ExpectLampLineReads(const Reads& reads)
{
    for (const std::string& read : reads)
        EXPECT_TRUE(read.size() == 8 && read.compare(0, 3, ">5L") == 0 && read[7] == '\n')
            << "a read of " << ::testing::PrintToString(read);
}

TEST(TolvarenVis, AFilePlaysIntoThePipeAtItsOwnPace)
{
    TempFile wav("paced.wav", Wav(BassThenTreble(0.5)));
    const ToolResult printed = ToolRun(kVis, {"--print", wav.path()}).Finish();

    PipeServer server;
    ToolRun run(kVis, {wav.path()});
    ASSERT_TRUE(server.WaitForClient());
    const Reads reads = server.ReadAll();
    const ToolResult result = run.Finish();
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kVisExitOk)) << result.err;
    ExpectLampLineReads(reads);
    std::string joined;
    for (const std::string& read : reads) joined += read;
    // The pipe gets what --print shows, and the lamps put out at the end
    // even when they are out already.
    std::vector<std::string> expected = LampValues(printed.out);
    expected.push_back("0000");
    EXPECT_EQ(LampValues(joined), expected);
    // 1.6 s of audio: from the first frame's line to the last, 1.5 s.
    EXPECT_GE(server.ReadingMilliseconds(), 1300u) << "the lines came faster than the audio plays";
    EXPECT_LE(server.ReadingMilliseconds(), 2500u);
}

TEST(TolvarenVis, WaitsForTolvarenAndCatchesUpWhenItComes)
{
    Samples samples;
    AddTone(&samples, 60, 4.0, 0.5);  // one value all along
    TempFile wav("steady.wav", Wav(samples));

    ToolRun run(kVis, {wav.path()});
    Sleep(1500);
    EXPECT_TRUE(run.Running());
    const std::string waiting = run.ErrorsSoFar();
    EXPECT_TRUE(Says(waiting, "tolvaren is not running")) << waiting;
    EXPECT_EQ(waiting.find("not running"), waiting.rfind("not running")) << "said once:\n" << waiting;

    // It tries again within a second, and the lamps come at once: the lit
    // value, then the same again every second, then dark at the end.
    const DWORD opened = GetTickCount();
    {
        PipeServer server;
        ASSERT_TRUE(server.WaitForClient(3000));
        const Reads first = server.ReadAll(1, 3000);
        ASSERT_EQ(first.size(), 1u);
        EXPECT_LT(server.FirstReadAt() - opened, 1500u) << "the first line waited for the next change";
        EXPECT_TRUE(Bass(LampValues(first[0])[0])) << first[0];
        const Reads repeats = server.ReadAll(2, 3000);
        ASSERT_EQ(repeats.size(), 2u);
        EXPECT_EQ(repeats, Reads(2, first[0])) << "the value again";
        EXPECT_GE(server.ReadingMilliseconds(), 900u) << "a second between repeats";
        EXPECT_LE(server.ReadingMilliseconds(), 1300u);
    }
    // Gone: it says so and waits again, and the next tolvaren gets the end.
    PipeServer again;
    ASSERT_TRUE(again.WaitForClient(3000));
    const Reads rest = again.ReadAll();
    const ToolResult result = run.Finish();
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kVisExitOk));
    EXPECT_TRUE(Says(result.err, "tolvaren went away; waiting for it again")) << result.err;
    ASSERT_FALSE(rest.empty());
    ExpectLampLineReads(rest);
    EXPECT_EQ(rest.back(), ">5L0000\n");
}

TEST(TolvarenVis, APipeAnotherWriterHoldsIsWaitedFor)
{
    Samples samples;
    AddTone(&samples, 8000, 3.5, 0.5);
    TempFile wav("busy.wav", Wav(samples));
    std::unique_ptr<PipeServer> held(new PipeServer);
    HANDLE other = CreateFileA("\\\\.\\pipe\\korvinde", GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(held->WaitForClient());

    ToolRun run(kVis, {wav.path()});
    Sleep(2200);
    const std::string busy = run.ErrorsSoFar();
    EXPECT_TRUE(Says(busy, "is busy")) << busy;
    EXPECT_EQ(busy.find("is busy"), busy.rfind("is busy")) << "said once:\n" << busy;
    // The other writer and its tolvaren go, and a tolvaren comes that is
    // free: the next try gets it.
    CloseHandle(other);
    held.reset();
    PipeServer server;
    ASSERT_TRUE(server.WaitForClient(3000)) << run.ErrorsSoFar();
    const Reads reads = server.ReadAll();
    EXPECT_EQ(run.Finish().exitCode, static_cast<DWORD>(kVisExitOk));
    ASSERT_GE(reads.size(), 2u);
    EXPECT_TRUE(Treble(LampValues(reads[0])[0])) << reads[0];
    EXPECT_EQ(reads.back(), ">5L0000\n");
}

TEST(TolvarenVis, LiveInputEndsWithTheLampsOut)
{
    StdinPipe live(RawS16(BassThenTreble()));
    PipeServer server;
    ToolRun run(kVis, {"-"}, "", false, NULL, live.readEnd());
    ASSERT_TRUE(server.WaitForClient());
    const Reads reads = server.ReadAll();
    const ToolResult result = run.Finish();
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(kVisExitOk)) << result.err;
    ExpectLampLineReads(reads);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back(), ">5L0000\n");
}

}  // namespace
