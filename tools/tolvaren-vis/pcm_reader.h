#pragma once

// Reads PCM audio from bytes handed in pieces of any size, as they come from
// a file or a pipe: a WAV file (16- or 24-bit integer or 32-bit float, 1 or
// 2 channels, 22.05 to 96 kHz) or raw little-endian samples. Hands on the
// samples as floats in [-1, 1], a batch at a time. Any byte sequence is safe:
// a header it cannot use stops it with a message that says why.

#include <cstddef>
#include <cstdint>

enum PcmEncoding {
    kPcmS16,  // 16-bit signed integer
    kPcmS24,  // 24-bit signed integer (WAV only)
    kPcmF32,  // 32-bit IEEE float
};

enum : uint32_t {
    kPcmRateMin = 22050,
    kPcmRateMax = 96000,
    kPcmChannelsMax = 2,
    kPcmFrameBytesMax = kPcmChannelsMax * 4,  // a frame of the richest format: stereo float
    kPcmBatchFrames = 256,  // frames handed to the sink at a time, at most
    kPcmMessageMax = 160,   // room for a message with its NUL
    kPcmFmtKept = 40,       // bytes of a fmt chunk looked at: the extensible form's
};

struct PcmFormat {
    PcmEncoding encoding;
    uint32_t rate;      // frames a second
    uint32_t channels;  // 1 or 2
};

// Bytes of one frame (one sample of each channel).
uint32_t PcmFrameBytes(const PcmFormat& format);

enum PcmStatus {
    kPcmOk,           // reading on, or ended well
    kPcmUnsupported,  // not a WAV it can read, or an encoding it does not take: see message
};

// Gets the samples of up to kPcmBatchFrames frames, channel after channel
// within a frame. The format is the one that was announced before.
typedef void (*PcmSampleSink)(void* context, const float* samples, unsigned frames);
// Called once when the format is known: at the start for raw samples, after
// the header for WAV.
typedef void (*PcmFormatSink)(void* context, const PcmFormat& format);

enum PcmReaderStage {
    kPcmStageRiff,        // the 12 bytes "RIFF", size, "WAVE"
    kPcmStageChunkHead,   // a chunk's id and size
    kPcmStageFmt,         // the fmt chunk's body
    kPcmStageSkip,        // a chunk of no interest, and its pad byte
    kPcmStageData,        // samples
    kPcmStageAfterData,   // the audio is over; the rest is ignored
    kPcmStageFailed,
};

struct PcmReader {
    PcmSampleSink onSamples;
    PcmFormatSink onFormat;
    void* context;

    PcmFormat format;
    bool formatKnown;
    PcmReaderStage stage;
    PcmStatus status;
    bool sawData;       // a data chunk began
    bool endedEarly;    // the input ended before the data chunk's stated size
    uint64_t remaining; // bytes left in the chunk (data: until its stated end)
    uint64_t bytesIn;   // bytes handed in so far

    uint8_t head[kPcmFmtKept];  // the header or chunk head being gathered
    uint32_t headHave;
    uint32_t headWant;

    uint8_t partial[kPcmFrameBytesMax];  // a frame cut between two pieces
    uint32_t partialHave;
    uint64_t frames;     // frames handed on so far
    char message[kPcmMessageMax];
};

// For a WAV file: its header tells the format.
void StartWavReader(PcmReader* reader, PcmSampleSink onSamples, PcmFormatSink onFormat, void* context);
// For raw samples of the given format (16-bit or float): announces it at once.
void StartRawReader(PcmReader* reader, const PcmFormat& format, PcmSampleSink onSamples, PcmFormatSink onFormat,
                    void* context);

// Takes the next bytes. Returns kPcmUnsupported (once and from then on) when
// the input cannot be read as audio; message says why.
PcmStatus FeedPcm(PcmReader* reader, const void* bytes, size_t count);

// The input has ended. A trailing partial frame is dropped. For WAV, input
// that ends before its audio begins is kPcmUnsupported.
PcmStatus FinishPcm(PcmReader* reader);
