#include "tools/tolvaren-vis/vis_sources_win32.h"

#include "tools/common/console_win32.h"
#include "tools/tolvaren-vis/capture_wasapi_win32.h"
#include "tools/tolvaren-vis/vis_exit_codes.h"
#include "tools/tolvaren-vis/vis_stdin_win32.h"

namespace {

// Read at a time from a file; a few milliseconds of audio.
const DWORD kReadBytes = 4096;
// Taken at a time from standard input's ring.
const uint32_t kTakeBytes = kReadBytes * 4;
// How often live capture is looked at.
const DWORD kCapturePollMs = 5;
// What FeedWhatWaits gives while the input goes on.
const int kStillReading = -1;

int Refused(const VisEngine* engine)
{
    return ErrorExit(kVisExitUnsupported, "tolvaren-vis: %s.\n", VisMessage(engine));
}

// Ctrl-C: the lamps go out at once.
int StopShowing(VisEngine* engine, LineOutput* out)
{
    FinishVis(engine);
    FinishOutput(out, true);
    return kVisExitOk;
}

// The input ended: the lamps go out, at once or at the end of the audio.
int EndOfInput(VisEngine* engine, LineOutput* out, bool atOnce)
{
    if (FinishVis(engine) == kPcmUnsupported) return Refused(engine);
    FinishOutput(out, atOnce);
    return kVisExitOk;
}

// A file, or standard input redirected from one: read ahead of the time
// its lamps are shown, so that they move as the audio would play.
int ShowFile(HANDLE input, const char* what, VisEngine* engine, LineOutput* out)
{
    static char buffer[kReadBytes];
    if (!out->print) PaceByTheAudio(&out->schedule, NowMs());
    for (;;) {
        if (StopRequested(out)) return StopShowing(engine, out);
        if (ReadFarEnough(&out->schedule, static_cast<uint64_t>(engine->framesDone) * kVisFrameMs, NowMs())) {
            WaitForLinesOrStop(out, 10);
            continue;
        }
        DWORD count = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &count, NULL)) {
            const DWORD code = GetLastError();
            if (code != ERROR_BROKEN_PIPE && code != ERROR_HANDLE_EOF) return ReadFailed(what, code);
            count = 0;
        }
        if (count == 0) return EndOfInput(engine, out, false);
        if (FeedVis(engine, buffer, count) == kPcmUnsupported) return Refused(engine);
        SendDueLines(out, 0);
    }
}

struct LiveFeed {
    VisEngine* engine;
    VisLiveGuard guard;
    uint64_t dropPending;  // bytes still to throw away, oldest first
    bool refused;
    uint32_t frameBytes;
    uint64_t frames;       // frames that came, dropped ones included
};

void StartLiveFeed(LiveFeed* feed, VisEngine* engine, const PcmFormat& format)
{
    *feed = LiveFeed{engine, {}, 0, false, PcmFrameBytes(format), 0};
    StartLiveGuard(&feed->guard, format);
}

void TellDropped()
{
    Print(kToErr,
          "tolvaren-vis: the input fell more than %lu ms behind; the oldest audio was dropped to "
          "keep the lamps with the music (said once).\n",
          static_cast<unsigned long>(kVisLiveBacklogMaxMs));
}

void FeedLiveBytes(void* context, const void* bytes, size_t count)
{
    LiveFeed* feed = static_cast<LiveFeed*>(context);
    if (feed->frameBytes != 0) feed->frames += count / feed->frameBytes;
    const uint8_t* at = static_cast<const uint8_t*>(bytes);
    const size_t skip = feed->dropPending < count ? static_cast<size_t>(feed->dropPending) : count;
    feed->dropPending -= skip;
    if (skip < count && !feed->refused && FeedVis(feed->engine, at + skip, count - skip) == kPcmUnsupported)
        feed->refused = true;
}

void FeedLiveSilence(void* context, uint32_t frames)
{
    LiveFeed* feed = static_cast<LiveFeed*>(context);
    feed->frames += frames;
    FeedVisSilence(feed->engine, frames);
}

// Feeds all that waits in standard input's ring: kStillReading while the
// input goes on, the exit code once it ended or was refused.
int FeedWhatWaits(LiveFeed* feed, LineOutput* out)
{
    static uint8_t taken[kTakeBytes];
    for (;;) {
        const StdinTaken got = TakeStdin(taken, sizeof taken);
        if (got.count > 0) FeedLiveBytes(feed, taken, got.count);
        if (feed->refused) return Refused(feed->engine);
        SendDueLines(out, 0);
        if (got.ended && got.error != ERROR_SUCCESS) return ReadFailed("standard input", got.error);
        if (got.ended) return EndOfInput(feed->engine, out, true);
        if (got.count < sizeof taken) return kStillReading;
    }
}

int ShowStdinPipe(HANDLE input, const PcmFormat& format, VisEngine* engine, LineOutput* out)
{
    DWORD code = 0;
    // --print shows every sample, however fast they come.
    if (!StartStdinReader(input, out->print, &code)) return ReadFailed("standard input", code);
    LiveFeed feed;
    StartLiveFeed(&feed, engine, format);
    for (;;) {
        const HANDLE events[2] = {out->stop, StdinArrived()};
        if (WaitForMultipleObjects(2, events, FALSE, SendDueLines(out, 1000)) == WAIT_OBJECT_0)
            return StopShowing(engine, out);
        // All that waits counts as one read: more than the backlog allows
        // means its oldest part waited too long.
        if (DropStdinBacklog(&feed.guard)) TellDropped();
        const int result = FeedWhatWaits(&feed, out);
        if (result != kStillReading) return result;
    }
}

void SayCapturing(const CaptureStream& stream, bool doubleClicked)
{
    if (doubleClicked)
        Print(kToErr, "Following what plays on %s. Close this window or press Ctrl-C to stop.\n", stream.name);
    else if (stream.loopback)
        Print(kToErr, "tolvaren-vis: showing what plays on \"%s\".\n", stream.name);
    else
        Print(kToErr, "tolvaren-vis: %s%sshowing what comes in on \"%s\".\n", stream.note,
              stream.note[0] != '\0' ? "; " : "", stream.name);
}

// Reads the stream as it comes until Ctrl-C, or until it fails or is
// refused; gives the exit code.
int FollowCapture(CaptureStream* stream, VisEngine* engine, LineOutput* out)
{
    LiveFeed feed;
    StartLiveFeed(&feed, engine, stream->format);
    VisSilenceFiller filler;
    StartSilenceFiller(&filler, stream->format.rate, NowMs());
    char error[kCaptureErrorMax];
    while (!WaitForLinesOrStop(out, kCapturePollMs)) {
        bool tell = false;
        feed.dropPending += LiveBytesToSkip(
            &feed.guard, static_cast<uint64_t>(CaptureFramesWaiting(stream)) * feed.frameBytes, 0, &tell);
        if (tell) TellDropped();
        const uint64_t framesBefore = feed.frames;
        if (!ReadCapture(stream, FeedLiveBytes, FeedLiveSilence, &feed, error)) {
            return ErrorExit(kVisExitCaptureFailed, "tolvaren-vis: %s.\n", error);
        }
        if (feed.refused) return Refused(engine);
        // What came is read first, so that a packet that was waiting is
        // never taken for silence.
        if (feed.frames != framesBefore) NoteCapturePacket(&filler, NowMs());
        const uint32_t silence = SilenceFramesDue(&filler, NowMs());
        if (silence > 0) FeedLiveSilence(&feed, silence);
    }
    return kVisExitOk;
}

}  // namespace

int ShowWavFile(const VisCommand& command, VisEngine* engine, LineOutput* out)
{
    HANDLE file = CreateFileA(command.path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        char text[256];
        return ErrorExit(kVisExitUnreadable, "tolvaren-vis: could not open %s (error %lu: %s); check the name.\n",
                         command.path, code, ErrorText(code, text, sizeof text));
    }
    StartVis(engine, VisSettingsFor(command), OnLine, out);
    const int result = ShowFile(file, command.path, engine, out);
    CloseHandle(file);
    return result;
}

int ShowStandardInput(const VisCommand& command, VisEngine* engine, LineOutput* out)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const DWORD type = input == NULL || input == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(input);
    StartVis(engine, VisSettingsFor(command), OnLine, out);
    if (type == FILE_TYPE_PIPE) return ShowStdinPipe(input, command.raw, engine, out);
    if (type == FILE_TYPE_DISK) return ShowFile(input, "standard input", engine, out);
    return ErrorExit(kVisExitUnreadable,
                     "tolvaren-vis: standard input is %s, not samples; pipe raw samples into it, such as\n"
                     "  parec --format=s16le --rate=44100 --channels=2 | tolvaren-vis -\n",
                     type == FILE_TYPE_CHAR ? "the console" : "not readable");
}

int ShowCapture(VisCommand command, VisEngine* engine, LineOutput* out)
{
    static CaptureStream stream;
    char error[kCaptureErrorMax];
    if (!OpenCapture(&stream, command.device, error)) {
        return ErrorExit(kVisExitCaptureFailed, "tolvaren-vis: %s.\n", error);
    }
    SayCapturing(stream, out->doubleClicked);
    BringUpTolvaren(out);
    command.raw = stream.format;
    StartVis(engine, VisSettingsFor(command), OnLine, out);
    const int result = FollowCapture(&stream, engine, out);
    CloseCapture(&stream);
    FinishVis(engine);
    FinishOutput(out, true);
    return result;
}

int ReadFailed(const char* what, DWORD code)
{
    char text[256];
    return ErrorExit(kVisExitUnreadable, "tolvaren-vis: could not read %s (error %lu: %s).\n", what, code,
                     ErrorText(code, text, sizeof text));
}
