// tolvaren-vis's reading and analysis on any bytes: as a WAV file or as raw
// samples, in any mode, cut into pieces of any size. No input may crash it,
// and every line it hands out must be a lamp line the pipe can take:
// exactly ">5L", four upper-case hex digits and a line feed, in frame order.
#include <cmath>
#include <cstring>

#include "fuzz_support.h"
#include "tools/tolvaren-vis/vis_engine.h"

namespace {

struct Seen {
    uint32_t delayMs;
    VisMode mode;
    bool any;
    uint32_t lastAudioMs;
    uint16_t inactive;  // lamps of bands the rate leaves dark
};

bool IsUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// A meter row lights from its left: bit 7 (or 15) first.
bool IsMeterRow(unsigned row)
{
    return ((row + (row & (~row + 1u))) & 0xFFu) == 0 || row == 0;
}

void Check(void* context, const VisLine& line)
{
    Seen* seen = static_cast<Seen*>(context);
    FUZZ_CHECK(std::memcmp(line.text, ">5L", 3) == 0);
    for (unsigned i = 3; i < 7; ++i) FUZZ_CHECK(IsUpperHex(line.text[i]));
    FUZZ_CHECK(line.text[7] == '\n');
    char expected[kLampLineBytes];
    FormatLampLine(line.lamps, expected);
    FUZZ_CHECK(std::memcmp(expected, line.text, kLampLineBytes) == 0);
    FUZZ_CHECK(line.showMs == line.audioMs + seen->delayMs);
    FUZZ_CHECK(line.audioMs % kVisFrameMs == 0);
    if (seen->any) FUZZ_CHECK(line.audioMs > seen->lastAudioMs);
    seen->any = true;
    seen->lastAudioMs = line.audioMs;
    if (seen->mode == kVisVu) {
        FUZZ_CHECK(IsMeterRow(line.lamps & 0xFFu));
        FUZZ_CHECK(IsMeterRow(line.lamps >> 8));
    } else {
        FUZZ_CHECK((line.lamps & seen->inactive) == 0);
        unsigned lit = 0;
        for (unsigned lamps = line.lamps; lamps != 0; lamps &= lamps - 1) ++lit;
        FUZZ_CHECK(lit <= kVisMaxLit);
    }

    char printed[kVisPrintLineMax];
    const unsigned length = FormatPrintLine(line, printed);
    FUZZ_CHECK(length < kVisPrintLineMax && printed[length] == '\0' && printed[length - 1] == '\n');
}

const uint32_t kRates[] = {22050, 44100, 48000, 96000};
const size_t kPieces[] = {1, 2, 3, 7, 64, 4096};

VisEngine engine;

}  // namespace

// The first three bytes choose the settings; the rest is the input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;
    const uint8_t flags = data[0];
    VisSettings settings = {};
    settings.wav = (flags & 1) != 0;
    settings.mode = (flags & 2) != 0 ? kVisVu : kVisSpectrum;
    settings.output = (flags & 4) != 0 ? kVisForPipe : kVisForPrint;
    settings.raw.encoding = (flags & 8) != 0 ? kPcmF32 : kPcmS16;
    settings.raw.channels = (flags & 16) != 0 ? 1 : 2;
    settings.raw.rate = kRates[data[1] & 3];
    settings.delayMs = data[2] * 2u;
    const size_t piece = kPieces[(data[1] >> 2) % (sizeof kPieces / sizeof kPieces[0])];
    data += 3;
    size -= 3;

    // A delay beyond the largest is cut to it.
    const uint32_t delayMs = settings.delayMs < kVisDelayMaxMs ? settings.delayMs : kVisDelayMaxMs;
    Seen seen = {delayMs, settings.mode, false, 0, 0};
    StartVis(&engine, settings, Check, &seen);
    bool refused = false;
    for (size_t at = 0; at < size && !refused; at += piece) {
        const size_t count = size - at < piece ? size - at : piece;
        refused = FeedVis(&engine, data + at, count) != kPcmOk;
        if (engine.analysing && seen.inactive == 0)
            for (uint32_t band = 0; band < kVisBands; ++band)
                if (!engine.analysis.band[band].active)
                    seen.inactive = static_cast<uint16_t>(seen.inactive | BandLampBit(band));
    }
    const bool sentBefore = seen.any;
    if (!refused) refused = FinishVis(&engine) != kPcmOk;

    if (refused) {
        // Refused input is refused before any line, with a reason.
        FUZZ_CHECK(!sentBefore && !seen.any);
        FUZZ_CHECK(VisMessage(&engine)[0] != '\0');
    } else {
        // Whatever came in, the lamps end out.
        FUZZ_CHECK(seen.any && engine.lastLamps == 0);
    }
    // No NaN or infinity is left in the analysis to reach a later frame.
    for (const VisBand& band : engine.analysis.band) {
        FUZZ_CHECK(std::isfinite(band.envelope) && std::isfinite(band.floorDb) && std::isfinite(band.peakDb));
        FUZZ_CHECK(std::isfinite(band.stage[0].z1) && std::isfinite(band.stage[1].z2));
    }
    for (const VisMeter& meter : engine.analysis.meter) FUZZ_CHECK(std::isfinite(meter.level));
    return 0;
}
