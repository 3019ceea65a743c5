#pragma once

// tolvaren-vis's one way from input bytes to lamp lines, for --print and for
// the pipe alike: bytes in (a WAV file or raw samples, in pieces of any
// size), each due lamp line out to a callback with its time in the audio.
// Also the rules for live input: the dropping of a backlog and the silence
// of a capture stream that delivers none.

#include <cstddef>
#include <cstdint>

#include "tools/common/tool_rules.h"
#include "tools/tolvaren-vis/pcm_reader.h"
#include "tools/tolvaren-vis/vis_analysis.h"

enum : uint32_t {
    kVisDelayMaxMs = 500,
    kVisRepeatMs = 1000,        // the pipe gets the current value again after this long unchanged
    kVisPrintLineMax = 24,      // "4294967295 >5LXXXX\n" and a NUL
    kVisLiveBacklogMaxMs = 100, // live input waiting longer than this is dropped
    kVisLiveKeepMs = 20,        // what is kept of it: the newest audio
    kVisLiveBufferMs = 200,     // what a live source's buffer holds at least: more than the backlog limit
    kVisIdleMs = 100,           // a capture stream without a packet this long is taken as silent
    kVisFillMaxMs = 1000,       // the most silence filled in at once
};

enum VisOutput {
    kVisForPrint,  // a line per change; at the end, lamps out unless they are out
    kVisForPipe,   // also the value again after a second unchanged; at the end always lamps out
};

enum VisLineReason {
    kVisLineChange,  // the lamps changed (or the first frame)
    kVisLineRepeat,  // a second without change: the same value again
    kVisLineEnd,     // the input ended: lamps out
};

struct VisLine {
    uint16_t lamps;
    uint32_t audioMs;  // the end of the 10 ms frame it shows, in ms of audio
    uint32_t showMs;   // audioMs + the delay: when it is due, in ms from the audio's start
    VisLineReason reason;
    char text[kLampLineBytes];  // ">5LXXXX\n", no NUL: what goes into the pipe
};

typedef void (*VisLineSink)(void* context, const VisLine& line);

struct VisSettings {
    VisMode mode;
    VisOutput output;
    uint32_t delayMs;  // 0 to kVisDelayMaxMs
    bool wav;          // a WAV file's bytes; otherwise raw samples of format raw
    PcmFormat raw;
};

struct VisEngine {
    VisSettings settings;
    VisLineSink sink;
    void* context;
    PcmReader reader;
    VisAnalysis analysis;
    bool analysing;     // the format is known
    bool sentAny;
    bool finished;
    uint16_t lastLamps;
    uint32_t lastAudioMs;  // of the last line handed out
    uint32_t framesDone;
};

void StartVis(VisEngine* engine, const VisSettings& settings, VisLineSink sink, void* context);

// Takes the next input bytes, and hands every line that falls due to the
// sink. kPcmUnsupported means the input is refused (VisMessage says why);
// it comes before any line.
PcmStatus FeedVis(VisEngine* engine, const void* bytes, size_t count);

// Digital silence, for a live source that delivers none while nothing plays.
void FeedVisSilence(VisEngine* engine, uint32_t frames);

// The input has ended: hands over the line that puts the lamps out, one
// frame after the last if that one already had a line. A refused input gets
// no line: nothing was ever sent.
PcmStatus FinishVis(VisEngine* engine);

// Why the input was refused, as "it holds A-law audio; give ...".
const char* VisMessage(const VisEngine* engine);

// "<showMs> >5LXXXX\n" with a NUL, for --print; returns its length.
unsigned FormatPrintLine(const VisLine& line, char* out);

// Live input never backs up more than kVisLiveBacklogMaxMs. A live source
// delivers in real time, so more than that gathered since the caller last
// looked is itself proof that its oldest part waited that long: the caller
// counts all that gathered as one read (what its ring holds, or what the
// capture buffer says waits) and asks how much of it to throw away before
// feeding the rest. No measurement of the pipe is needed (under Wine,
// PeekNamedPipe does not work on a pipe from Linux), but the buffer the
// audio gathers in must hold more than the limit: kVisLiveBufferMs at
// least. Bytes known to wait behind the read (waitingBytes) count towards
// the backlog, though only the read's own can be thrown away.
static_assert(kVisLiveBufferMs > kVisLiveBacklogMaxMs, "a live buffer could never show a backlog");

struct VisLiveGuard {
    uint32_t frameBytes;
    uint32_t rate;
    bool told;  // a loss has been told
};

void StartLiveGuard(VisLiveGuard* guard, const PcmFormat& format);
// The leading bytes of this read to throw away: whole frames, so that the
// samples after them stay in step, leaving the newest kVisLiveKeepMs of
// what was read and what waits. tellNow is set true the first time
// something is thrown away, for the one message saying so.
uint64_t LiveBytesToSkip(VisLiveGuard* guard, uint64_t readBytes, uint64_t waitingBytes, bool* tellNow);
// The source lost audio itself (a ring that filled up while nobody took
// from it): true when that is the first loss to tell, this or one that
// LiveBytesToSkip threw away, so that the message comes once for both.
bool NoteLiveLoss(VisLiveGuard* guard);

// A capture stream may deliver nothing at all while nothing plays (a
// loopback stream on Windows), or nothing for its first seconds (Wine's);
// the lamps must still see that silence, or they would stay lit. Silence
// is filled in only while no packet comes: a packet that comes late must
// never find filler in its place, which would cut a gap, and a flash of
// every band, into a steady sound.
struct VisSilenceFiller {
    uint32_t rate;
    uint64_t lastPacketMs;  // when a packet last came, or the stream started
    uint64_t filledToMs;    // the time up to which the stream's audio is accounted for
    uint32_t remainder;     // what is left over of a frame, in rate-milliseconds
};

void StartSilenceFiller(VisSilenceFiller* filler, uint32_t rate, uint64_t nowMs);
// A packet came, sound or flagged silence.
void NoteCapturePacket(VisSilenceFiller* filler, uint64_t nowMs);
// The frames of silence to feed now: none until no packet has come for
// kVisIdleMs, then all the time since the last one, and from then on as
// time passes; at most kVisFillMaxMs at once (a machine that slept).
uint32_t SilenceFramesDue(VisSilenceFiller* filler, uint64_t nowMs);
