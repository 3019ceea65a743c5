#include "tools/tolvaren-vis/pcm_reader.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

enum : uint16_t {
    kTagPcm = 1,
    kTagFloat = 3,
    kTagExtensible = 0xFFFE,
};

const uint64_t kUntilTheEnd = UINT64_MAX;
// The plain fmt chunk: tag, channels, rate, bytes a second, frame size, bits.
const uint32_t kFmtBytesMin = 16;

// The 14 bytes that follow the format tag in the sub-format GUID of every
// standard WAVE_FORMAT_EXTENSIBLE sub-format (…-0000-0010-8000-00AA00389B71).
const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                               0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Stops the reader for good; the caller has put the reason in message.
PcmStatus Refuse(PcmReader* reader)
{
    reader->stage = kPcmStageFailed;
    reader->status = kPcmUnsupported;
    return kPcmUnsupported;
}

PcmStatus Unsupported(PcmReader* reader, const char* message)
{
    std::snprintf(reader->message, sizeof reader->message, "%s", message);
    return Refuse(reader);
}

// What the WAV format tags that are met in practice hold, for a message
// that says why a file is refused.
const char* TagName(uint16_t tag)
{
    switch (tag) {
    case 0x0002: return "MS ADPCM";
    case 0x0006: return "A-law";
    case 0x0007: return "mu-law";
    case 0x0011: return "IMA ADPCM";
    case 0x0031: return "GSM 6.10";
    case 0x0050: return "MPEG";
    case 0x0055: return "MP3";
    case 0x0160:
    case 0x0161:
    case 0x0162:
    case 0x0163: return "WMA";
    case 0x2000: return "AC-3";
    case 0xF1AC: return "FLAC";
    default: return nullptr;
    }
}

const char kGiveInstead[] = "give 16- or 24-bit integer or 32-bit float PCM (sox or ffmpeg convert it)";

void Announce(PcmReader* reader)
{
    reader->formatKnown = true;
    if (reader->onFormat != nullptr) reader->onFormat(reader->context, reader->format);
}

// An extensible fmt chunk names its format in its sub-format: the tag
// that stands at the start of its GUID, for the standard ones.
bool TakeSubFormat(PcmReader* reader, uint32_t size, uint16_t* tag)
{
    const uint8_t* fmt = reader->head;
    if (size < kPcmFmtKept) {
        std::snprintf(reader->message, sizeof reader->message,
                      "its extensible fmt chunk is %u bytes, too short for its sub-format (%u)",
                      static_cast<unsigned>(size), static_cast<unsigned>(kPcmFmtKept));
        return false;
    }
    *tag = Le16(fmt + 24);
    if (std::memcmp(fmt + 26, kGuidTail, sizeof kGuidTail) != 0) {
        std::snprintf(reader->message, sizeof reader->message,
                      "it holds audio of a sub-format it does not know; %s", kGiveInstead);
        return false;
    }
    return true;
}

// 16- and 24-bit integers and 32-bit floats; anything else is said by name.
bool TakeEncoding(PcmReader* reader, uint16_t tag, uint32_t bits)
{
    char* message = reader->message;
    const size_t room = sizeof reader->message;
    if (tag == kTagPcm && bits == 16) {
        reader->format.encoding = kPcmS16;
    } else if (tag == kTagPcm && bits == 24) {
        reader->format.encoding = kPcmS24;
    } else if (tag == kTagFloat && bits == 32) {
        reader->format.encoding = kPcmF32;
    } else {
        if (tag == kTagPcm)
            std::snprintf(message, room, "it holds %u-bit integer PCM; %s", static_cast<unsigned>(bits), kGiveInstead);
        else if (tag == kTagFloat)
            std::snprintf(message, room, "it holds %u-bit float PCM; %s", static_cast<unsigned>(bits), kGiveInstead);
        else if (TagName(tag) != nullptr)
            std::snprintf(message, room, "it holds %s audio; %s", TagName(tag), kGiveInstead);
        else
            std::snprintf(message, room, "it holds audio of format tag 0x%04X; %s", static_cast<unsigned>(tag),
                          kGiveInstead);
        return false;
    }
    return true;
}

// Channels and rate within what the analysis takes, and frames of the
// size they make.
bool TakeLayout(PcmReader* reader, uint32_t channels, uint32_t rate, uint32_t blockAlign, uint32_t bits)
{
    char* message = reader->message;
    const size_t room = sizeof reader->message;
    if (channels < 1 || channels > kPcmChannelsMax) {
        std::snprintf(message, room, "it has %u channels; give 1 or 2 (mono or stereo)",
                      static_cast<unsigned>(channels));
        return false;
    }
    if (rate < kPcmRateMin || rate > kPcmRateMax) {
        std::snprintf(message, room, "its rate is %lu Hz; give %lu to %lu Hz", static_cast<unsigned long>(rate),
                      static_cast<unsigned long>(kPcmRateMin), static_cast<unsigned long>(kPcmRateMax));
        return false;
    }
    reader->format.channels = channels;
    reader->format.rate = rate;
    if (blockAlign != PcmFrameBytes(reader->format)) {
        std::snprintf(message, room, "its header is inconsistent: frames of %u bytes for %u channels of %u bits",
                      static_cast<unsigned>(blockAlign), static_cast<unsigned>(channels),
                      static_cast<unsigned>(bits));
        return false;
    }
    return true;
}

PcmStatus TakeFmt(PcmReader* reader, uint32_t size)
{
    const uint8_t* fmt = reader->head;
    uint16_t tag = Le16(fmt);
    const uint32_t bits = Le16(fmt + 14);
    if (tag == kTagExtensible && !TakeSubFormat(reader, size, &tag)) return Refuse(reader);
    if (!TakeEncoding(reader, tag, bits)) return Refuse(reader);
    if (!TakeLayout(reader, Le16(fmt + 2), Le32(fmt + 4), Le16(fmt + 12), bits)) return Refuse(reader);
    Announce(reader);
    return kPcmOk;
}

PcmStatus TakeRiff(PcmReader* reader)
{
    const uint8_t* head = reader->head;
    if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) {
        // The RIFF size is not trusted: streams write a made-up one.
        reader->stage = kPcmStageChunkHead;
        reader->headWant = 8;
        return kPcmOk;
    }
    if (std::memcmp(head, "RIFX", 4) == 0)
        return Unsupported(reader, "it is a big-endian WAV (RIFX); give a little-endian one (RIFF)");
    if (std::memcmp(head, "RF64", 4) == 0)
        return Unsupported(reader, "it is an RF64 WAV (for files over 4 GB); give a plain WAV");
    return Unsupported(reader, "it is not a WAV file: it does not begin with RIFF and WAVE");
}

PcmStatus TakeChunkHead(PcmReader* reader)
{
    const uint8_t* head = reader->head;
    const uint32_t size = Le32(head + 4);
    if (std::memcmp(head, "data", 4) == 0) {
        if (!reader->formatKnown)
            return Unsupported(reader, "its audio (data chunk) comes before its format (fmt chunk)");
        reader->sawData = true;
        reader->stage = kPcmStageData;
        // Size 0 is what a writer puts when it cannot know the length yet.
        reader->remaining = size == 0 ? kUntilTheEnd : size;
        return kPcmOk;
    }
    if (std::memcmp(head, "fmt ", 4) == 0 && !reader->formatKnown) {
        if (size < kFmtBytesMin) {
            std::snprintf(reader->message, sizeof reader->message,
                          "its fmt chunk is %lu bytes, too short to describe the audio (%u)",
                          static_cast<unsigned long>(size), static_cast<unsigned>(kFmtBytesMin));
            return Refuse(reader);
        }
        reader->stage = kPcmStageFmt;
        reader->headWant = size < kPcmFmtKept ? size : static_cast<uint32_t>(kPcmFmtKept);
        reader->remaining = static_cast<uint64_t>(size) - reader->headWant + (size & 1u);
        return kPcmOk;
    }
    // Any other chunk, or a second fmt, is skipped with its pad byte.
    reader->stage = kPcmStageSkip;
    reader->remaining = static_cast<uint64_t>(size) + (size & 1u);
    return kPcmOk;
}

inline float Finite(float value)
{
    // NaN and infinities are no sound at all; louder than full scale is
    // full scale, so that nothing behind can overflow.
    if (!std::isfinite(value)) return 0.0f;
    if (value > 1.0f) return 1.0f;
    if (value < -1.0f) return -1.0f;
    return value;
}

// Decodes one frame at bytes into out.
inline void DecodeFrame(const PcmFormat& format, const uint8_t* bytes, float* out)
{
    for (uint32_t c = 0; c < format.channels; ++c) {
        switch (format.encoding) {
        case kPcmS16:
            out[c] = static_cast<float>(static_cast<int16_t>(Le16(bytes))) * (1.0f / 32768.0f);
            bytes += 2;
            break;
        case kPcmS24: {
            const uint32_t raw = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                                 (static_cast<uint32_t>(bytes[2]) << 16);
            const int32_t sample = static_cast<int32_t>(raw << 8) / 256;
            out[c] = static_cast<float>(sample) * (1.0f / 8388608.0f);
            bytes += 3;
            break;
        }
        case kPcmF32: {
            const uint32_t raw = Le32(bytes);
            float value;
            std::memcpy(&value, &raw, sizeof value);
            out[c] = Finite(value);
            bytes += 4;
            break;
        }
        }
    }
}

void TakeSamples(PcmReader* reader, const uint8_t* bytes, size_t count)
{
    const uint32_t frameBytes = PcmFrameBytes(reader->format);
    const uint32_t channels = reader->format.channels;
    float batch[kPcmBatchFrames * kPcmChannelsMax];
    unsigned batchFrames = 0;

    while (count > 0) {
        const uint8_t* frame = nullptr;
        if (reader->partialHave > 0 || count < frameBytes) {
            const size_t take = frameBytes - reader->partialHave < count ? frameBytes - reader->partialHave : count;
            std::memcpy(reader->partial + reader->partialHave, bytes, take);
            reader->partialHave += static_cast<uint32_t>(take);
            bytes += take;
            count -= take;
            if (reader->partialHave < frameBytes) break;
            reader->partialHave = 0;
            frame = reader->partial;
        } else {
            frame = bytes;
            bytes += frameBytes;
            count -= frameBytes;
        }
        DecodeFrame(reader->format, frame, batch + static_cast<size_t>(batchFrames) * channels);
        if (++batchFrames == kPcmBatchFrames) {
            reader->onSamples(reader->context, batch, batchFrames);
            reader->frames += batchFrames;
            batchFrames = 0;
        }
    }
    if (batchFrames > 0) {
        reader->onSamples(reader->context, batch, batchFrames);
        reader->frames += batchFrames;
    }
}

void Start(PcmReader* reader, PcmSampleSink onSamples, PcmFormatSink onFormat, void* context)
{
    std::memset(reader, 0, sizeof *reader);
    reader->onSamples = onSamples;
    reader->onFormat = onFormat;
    reader->context = context;
    reader->status = kPcmOk;
}

}  // namespace

uint32_t PcmFrameBytes(const PcmFormat& format)
{
    const uint32_t sampleBytes = format.encoding == kPcmS16 ? 2 : format.encoding == kPcmS24 ? 3 : 4;
    return sampleBytes * format.channels;
}

void StartWavReader(PcmReader* reader, PcmSampleSink onSamples, PcmFormatSink onFormat, void* context)
{
    Start(reader, onSamples, onFormat, context);
    reader->stage = kPcmStageRiff;
    reader->headWant = 12;
}

void StartRawReader(PcmReader* reader, const PcmFormat& format, PcmSampleSink onSamples, PcmFormatSink onFormat,
                    void* context)
{
    Start(reader, onSamples, onFormat, context);
    reader->format = format;
    if (reader->format.channels < 1) reader->format.channels = 1;
    if (reader->format.channels > kPcmChannelsMax) reader->format.channels = kPcmChannelsMax;
    reader->stage = kPcmStageData;
    reader->sawData = true;
    reader->remaining = kUntilTheEnd;
    Announce(reader);
}

PcmStatus FeedPcm(PcmReader* reader, const void* data, size_t count)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    reader->bytesIn += count;
    while (count > 0 && reader->status == kPcmOk) {
        switch (reader->stage) {
        case kPcmStageRiff:
        case kPcmStageChunkHead:
        case kPcmStageFmt: {
            const uint32_t want = reader->headWant - reader->headHave;
            const size_t take = want < count ? want : count;
            std::memcpy(reader->head + reader->headHave, bytes, take);
            reader->headHave += static_cast<uint32_t>(take);
            bytes += take;
            count -= take;
            if (reader->headHave < reader->headWant) break;
            const uint32_t have = reader->headHave;
            reader->headHave = 0;
            if (reader->stage == kPcmStageRiff) {
                TakeRiff(reader);
            } else if (reader->stage == kPcmStageChunkHead) {
                TakeChunkHead(reader);
            } else if (TakeFmt(reader, have) == kPcmOk) {
                reader->stage = kPcmStageSkip;
            }
            if (reader->stage == kPcmStageSkip || reader->stage == kPcmStageChunkHead) reader->headWant = 8;
            break;
        }
        case kPcmStageSkip: {
            const size_t take = reader->remaining < count ? static_cast<size_t>(reader->remaining) : count;
            reader->remaining -= take;
            bytes += take;
            count -= take;
            if (reader->remaining == 0) {
                reader->stage = kPcmStageChunkHead;
                reader->headWant = 8;
            }
            break;
        }
        case kPcmStageData: {
            const size_t take = reader->remaining < count ? static_cast<size_t>(reader->remaining) : count;
            if (reader->remaining != kUntilTheEnd) reader->remaining -= take;
            TakeSamples(reader, bytes, take);
            bytes += take;
            count -= take;
            if (reader->remaining == 0) reader->stage = kPcmStageAfterData;
            break;
        }
        case kPcmStageAfterData:
            count = 0;
            break;
        case kPcmStageFailed:
            return reader->status;
        }
    }
    return reader->status;
}

PcmStatus FinishPcm(PcmReader* reader)
{
    if (reader->status != kPcmOk) return reader->status;
    reader->partialHave = 0;
    if (reader->stage == kPcmStageData) {
        reader->endedEarly = reader->remaining != kUntilTheEnd && reader->remaining > 0;
        reader->stage = kPcmStageAfterData;
    }
    if (reader->stage == kPcmStageAfterData) return kPcmOk;
    if (reader->bytesIn == 0) return Unsupported(reader, "it is empty: there is no WAV header");
    if (reader->stage == kPcmStageRiff) {
        std::snprintf(reader->message, sizeof reader->message, "it is %lu bytes long, too short for a WAV header",
                      static_cast<unsigned long>(reader->bytesIn));
        return Refuse(reader);
    }
    if (!reader->formatKnown) return Unsupported(reader, "it ends before its format (fmt chunk) is complete");
    return Unsupported(reader, "it ends before its audio begins: it has no data chunk");
}
