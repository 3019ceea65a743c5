#include "tools/tolvaren-vis/vis_engine.h"

#include <cstdio>
#include <cstring>

namespace {

void Emit(VisEngine* engine, uint16_t lamps, uint32_t audioMs, VisLineReason reason)
{
    VisLine line;
    line.lamps = lamps;
    line.audioMs = audioMs;
    line.showMs = audioMs + engine->settings.delayMs;
    line.reason = reason;
    FormatLampLine(lamps, line.text);
    engine->sentAny = true;
    engine->lastLamps = lamps;
    engine->lastAudioMs = audioMs;
    engine->sink(engine->context, line);
}

void OnFrame(void* context, uint16_t lamps, uint32_t frameIndex)
{
    VisEngine* engine = static_cast<VisEngine*>(context);
    const uint32_t audioMs = (frameIndex + 1) * kVisFrameMs;
    engine->framesDone = frameIndex + 1;
    if (!engine->sentAny || lamps != engine->lastLamps)
        Emit(engine, lamps, audioMs, kVisLineChange);
    else if (engine->settings.output == kVisForPipe && audioMs - engine->lastAudioMs >= kVisRepeatMs)
        Emit(engine, lamps, audioMs, kVisLineRepeat);
}

void OnSamples(void* context, const float* samples, unsigned frames)
{
    VisEngine* engine = static_cast<VisEngine*>(context);
    if (engine->analysing) AnalyseSamples(&engine->analysis, samples, frames, OnFrame, engine);
}

void OnFormat(void* context, const PcmFormat& format)
{
    VisEngine* engine = static_cast<VisEngine*>(context);
    StartAnalysis(&engine->analysis, engine->settings.mode, format);
    engine->analysing = true;
}

}  // namespace

void StartVis(VisEngine* engine, const VisSettings& settings, VisLineSink sink, void* context)
{
    *engine = VisEngine();
    engine->settings = settings;
    if (engine->settings.delayMs > kVisDelayMaxMs) engine->settings.delayMs = kVisDelayMaxMs;
    engine->sink = sink;
    engine->context = context;
    if (settings.wav)
        StartWavReader(&engine->reader, OnSamples, OnFormat, engine);
    else
        StartRawReader(&engine->reader, settings.raw, OnSamples, OnFormat, engine);
}

PcmStatus FeedVis(VisEngine* engine, const void* bytes, size_t count)
{
    if (engine->finished) return engine->reader.status;
    return FeedPcm(&engine->reader, bytes, count);
}

void FeedVisSilence(VisEngine* engine, uint32_t frames)
{
    if (engine->finished || !engine->analysing) return;
    static const float kSilence[kPcmBatchFrames * kPcmChannelsMax] = {};
    while (frames > 0) {
        const unsigned count = frames < kPcmBatchFrames ? frames : static_cast<unsigned>(kPcmBatchFrames);
        AnalyseSamples(&engine->analysis, kSilence, count, OnFrame, engine);
        frames -= count;
    }
}

PcmStatus FinishVis(VisEngine* engine)
{
    if (engine->finished) return engine->reader.status;
    engine->finished = true;
    const PcmStatus status = FinishPcm(&engine->reader);
    if (status != kPcmOk) return status;

    // The lamps go out where the audio ends, but never in the same frame as
    // the line before.
    uint32_t endMs = engine->framesDone * kVisFrameMs;
    if (engine->sentAny && engine->lastAudioMs >= endMs) endMs = engine->lastAudioMs + kVisFrameMs;
    if (engine->settings.output == kVisForPipe || !engine->sentAny || engine->lastLamps != 0)
        Emit(engine, 0, endMs, kVisLineEnd);
    return kPcmOk;
}

const char* VisMessage(const VisEngine* engine)
{
    return engine->reader.message;
}

unsigned FormatPrintLine(const VisLine& line, char* out)
{
    const int length = std::snprintf(out, kVisPrintLineMax, "%lu ", static_cast<unsigned long>(line.showMs));
    std::memcpy(out + length, line.text, kLampLineBytes);
    out[length + kLampLineBytes] = '\0';
    return static_cast<unsigned>(length) + kLampLineBytes;
}

void StartLiveGuard(VisLiveGuard* guard, const PcmFormat& format)
{
    std::memset(guard, 0, sizeof *guard);
    guard->frameBytes = PcmFrameBytes(format);
    guard->rate = format.rate;
}

uint64_t LiveBytesToSkip(VisLiveGuard* guard, uint64_t readBytes, uint64_t waitingBytes, bool* tellNow)
{
    *tellNow = false;
    const uint64_t rate = guard->rate;
    const uint64_t frames = (readBytes + waitingBytes) / guard->frameBytes;
    if (frames * 1000 <= rate * kVisLiveBacklogMaxMs) return 0;
    const uint64_t keepFrames = rate * kVisLiveKeepMs / 1000;
    uint64_t skip = (frames - keepFrames) * guard->frameBytes;
    if (skip > readBytes) skip = readBytes / guard->frameBytes * guard->frameBytes;
    if (skip > 0) *tellNow = NoteLiveLoss(guard);
    return skip;
}

bool NoteLiveLoss(VisLiveGuard* guard)
{
    if (guard->told) return false;
    guard->told = true;
    return true;
}

void StartSilenceFiller(VisSilenceFiller* filler, uint32_t rate, uint64_t nowMs)
{
    std::memset(filler, 0, sizeof *filler);
    filler->rate = rate;
    filler->lastPacketMs = nowMs;
    filler->filledToMs = nowMs;
}

void NoteCapturePacket(VisSilenceFiller* filler, uint64_t nowMs)
{
    filler->lastPacketMs = nowMs;
    filler->filledToMs = nowMs;
    filler->remainder = 0;
}

uint32_t SilenceFramesDue(VisSilenceFiller* filler, uint64_t nowMs)
{
    if (nowMs < filler->lastPacketMs + kVisIdleMs || nowMs <= filler->filledToMs) return 0;
    uint64_t ms = nowMs - filler->filledToMs;
    filler->filledToMs = nowMs;
    if (ms > kVisFillMaxMs) {
        ms = kVisFillMaxMs;
        filler->remainder = 0;
    }
    const uint64_t units = ms * filler->rate + filler->remainder;
    filler->remainder = static_cast<uint32_t>(units % 1000);
    return static_cast<uint32_t>(units / 1000);
}
