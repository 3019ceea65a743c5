// Real, mastered music through --print's path: the excerpts that
// tests/music/excerpts.txt pins (game soundtracks, orchestral and ambient
// scores among them, and tracker modules from Debian's archive), made by
// ctest's music_excerpts step; TOLVAREN_MUSIC_TABLE names another table,
// such as held-out.txt, whose excerpts make-excerpts.sh made. On them the
// spectrum must move: no band lit most of the time, bands that change
// often but do not flicker, seldom a nearly full panel, and most bands
// used, whatever the rate.
// Native only: the excerpts are made with Debian's tools.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vis_test_support.h"

namespace {

// What the lamps may do with each excerpt.
const double kMostLitShareMax = 0.75;      // of the frames, for any one band
const double kChangesPerSecondMin = 1.5;   // on average over the bands that light
const double kChangesPerSecondMax = 8.0;   // likewise: more is flicker
const double kCrowdedShareMax = 0.02;      // of the frames, with kCrowdedLamps or more lit
const unsigned kCrowdedLamps = 13;
const unsigned kBandsLitMin = 8;           // bands that light at some time

struct Excerpt {
    std::string name;
    uint32_t rate;
};

// The excerpts' names and rates, from the table's lines that are not
// comments.
std::vector<Excerpt> ReadTable(const std::string& path)
{
    std::vector<Excerpt> excerpts;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        Excerpt excerpt = {};
        if (line.empty() || line[0] == '#' || !(fields >> excerpt.name >> excerpt.rate)) continue;
        excerpts.push_back(excerpt);
    }
    return excerpts;
}

// The format and length of a WAV, as the visualiser's own reader sees it.
struct WavShape {
    PcmFormat format;
    uint64_t frames;
};

void CountFrames(void* context, const float*, unsigned frames)
{
    static_cast<WavShape*>(context)->frames += frames;
}

void TakeFormat(void* context, const PcmFormat& format)
{
    static_cast<WavShape*>(context)->format = format;
}

WavShape ShapeOf(const std::string& wav)
{
    WavShape shape = {};
    std::vector<PcmReader> reader(1);
    StartWavReader(&reader[0], CountFrames, TakeFormat, &shape);
    FeedPcm(&reader[0], wav.data(), wav.size());
    FinishPcm(&reader[0]);
    return shape;
}

struct Figures {
    int mostLitBand;
    double mostLitShare;
    double changesPerSecond;
    double crowdedShare;
    unsigned bandsLit;
};

Figures Measure(const std::vector<uint16_t>& frames)
{
    Figures figures = {};
    size_t lit[kVisBands] = {}, changes[kVisBands] = {}, crowded = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        if (LitCount(frames[k]) >= kCrowdedLamps) ++crowded;
        for (uint32_t band = 0; band < kVisBands; ++band) {
            const uint16_t bit = BandLampBit(band);
            if (frames[k] & bit) ++lit[band];
            if (k > 0 && ((frames[k] ^ frames[k - 1]) & bit)) ++changes[band];
        }
    }
    const double seconds = frames.size() / 100.0;
    size_t changesOfLit = 0;
    for (uint32_t band = 0; band < kVisBands; ++band) {
        if (lit[band] == 0) continue;
        ++figures.bandsLit;
        changesOfLit += changes[band];
        if (figures.bandsLit == 1 || lit[band] > lit[figures.mostLitBand]) figures.mostLitBand = static_cast<int>(band);
    }
    figures.mostLitShare = static_cast<double>(lit[figures.mostLitBand]) / frames.size();
    if (figures.bandsLit > 0) figures.changesPerSecond = changesOfLit / seconds / figures.bandsLit;
    figures.crowdedShare = static_cast<double>(crowded) / frames.size();
    return figures;
}

TEST(VisMusic, TheSpectrumMovesWithRealMusic)
{
    const char* table = std::getenv("TOLVAREN_MUSIC_TABLE");
    if (table == nullptr) table = TOLVAREN_MUSIC_TABLE;
    const std::vector<Excerpt> excerpts = ReadTable(table);
    ASSERT_FALSE(excerpts.empty()) << "no excerpt in " << table;
    bool at22k = false;
    std::printf("%-15s %6s %18s %13s %9s %10s\n", "excerpt", "Hz", "most lit (band)", "changes/s", "13+ lit", "bands lit");
    for (const Excerpt& excerpt : excerpts) {
        SCOPED_TRACE(excerpt.name);
        const std::string path = std::string(TOLVAREN_MUSIC_DIR) + "/" + excerpt.name + ".wav";
        const std::string wav = ReadFileBytes(path);
        if (wav.empty()) {
            ADD_FAILURE() << path << " is missing; make it with tests/music/make-excerpts.sh " << TOLVAREN_MUSIC_DIR
                          << " " << table << " (ctest's music_excerpts step does for excerpts.txt)";
            continue;
        }
        const WavShape shape = ShapeOf(wav);
        EXPECT_EQ(shape.format.rate, excerpt.rate) << path << " is not at the rate its line gives";
        EXPECT_GE(shape.frames, 20ull * shape.format.rate) << path << " is shorter than 20 s";
        if (shape.format.rate == 22050) at22k = true;

        const PrintRun run = RunPrint(wav, PrintSettings(kVisSpectrum, true));
        ASSERT_EQ(run.status, kPcmOk) << run.message;
        const std::vector<uint16_t> frames =
            LampsPerFrame(ParseLines(run.lines), static_cast<size_t>(shape.frames * 100 / shape.format.rate));
        const Figures f = Measure(frames);
        std::printf("%-15s %6u %12.1f %% (%2d) %13.2f %7.1f %% %10u\n", excerpt.name.c_str(), shape.format.rate,
                    100.0 * f.mostLitShare, f.mostLitBand + 1, f.changesPerSecond, 100.0 * f.crowdedShare, f.bandsLit);
        EXPECT_LE(f.mostLitShare, kMostLitShareMax) << "band " << f.mostLitBand + 1 << " is lit most of the time";
        EXPECT_GE(f.changesPerSecond, kChangesPerSecondMin) << "the lamps that light hardly change";
        EXPECT_LE(f.changesPerSecond, kChangesPerSecondMax) << "the lamps that light flicker";
        EXPECT_LE(f.crowdedShare, kCrowdedShareMax) << kCrowdedLamps << " or more lamps lit too often";
        EXPECT_GE(f.bandsLit, kBandsLitMin) << "too few bands ever light";
    }
    EXPECT_TRUE(at22k) << "no excerpt at 22.05 kHz, where the top bands are left dark";
}

}  // namespace
