// tolvaren-vis: makes tolvaren's lamps follow the music. Reads a WAV file,
// raw samples on standard input or what the system is playing, and writes
// a lamp line into tolvaren's pipe whenever the lamps change.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tools/common/console_win32.h"
#include "tools/tolvaren-vis/capture_wasapi_win32.h"
#include "tools/tolvaren-vis/vis_args.h"
#include "tools/tolvaren-vis/vis_engine.h"
#include "tools/tolvaren-vis/vis_exit_codes.h"
#include "tools/tolvaren-vis/vis_pipe_client_win32.h"
#include "tools/tolvaren-vis/vis_schedule.h"
#include "tools/tolvaren-vis/vis_stdin_win32.h"

namespace {

const char kHelp[] =
    "tolvaren-vis: makes tolvaren's lamps follow the music, from any player. It writes a lamp\n"
    "line into tolvaren's pipe \\\\.\\pipe\\korvinde whenever the lamps change.\n"
    "\n"
    "  tolvaren-vis FILE.wav       shows a WAV file (16- or 24-bit integer or 32-bit float,\n"
    "                              1 or 2 channels, 22050 to 96000 Hz) as it would play,\n"
    "                              without playing it aloud.\n"
    "  tolvaren-vis -              shows raw samples arriving on standard input, such as\n"
    "                              parec --format=s16le --rate=44100 --channels=2 | tolvaren-vis -\n"
    "      --format s16le|f32le    16-bit integer or 32-bit float samples (s16le)\n"
    "      --rate N                samples a second, 22050 to 96000 (44100)\n"
    "      --channels 1|2          mono or stereo (2)\n"
    "  tolvaren-vis --capture      shows what is playing: the default output's own stream,\n"
    "                              or where the system has none (Wine before 9.12), the\n"
    "                              first capture device whose name begins with \"Monitor of\".\n"
    "      --device TEXT           the capture device whose name contains TEXT instead.\n"
    "  tolvaren-vis --list-devices lists the outputs and capture devices.\n"
    "\n"
    "  --mode spectrum             (the default) sixteen bands from 40 Hz to 16 kHz, the lowest\n"
    "                              at the upper left, along the upper row and then the lower.\n"
    "  --mode vu                   a level meter for each channel: the upper row the left,\n"
    "                              the lower row the right, 3 dB a lamp.\n"
    "  --delay MS                  shows the lamps MS milliseconds later (0 to 500), to keep\n"
    "                              them in step with a player whose sound comes late.\n"
    "  --print                     writes \"<milliseconds of audio> <lamp line>\" for each change\n"
    "                              to standard output instead of the pipe, as fast as the input\n"
    "                              comes; the same input always gives the same lines.\n"
    "  --help                      shows this.\n"
    "\n"
    "When tolvaren is not running, or another writer holds its pipe, tolvaren-vis says so\n"
    "and tries again every second; when tolvaren goes away, it waits for it again. It sends\n"
    "the lamps again after a second without change, so that a tolvaren started later\n"
    "catches up. At the end of the input, or on Ctrl-C, it puts the lamps out. Live input\n"
    "that falls more than 100 ms behind is dropped, the oldest first, with a note.\n"
    "Under Wine, run it in the same WINEPREFIX as tolvaren (scripts/vis.sh does).\n"
    "\n"
    "Double-clicked, with no arguments, it follows what plays as --capture does, starting\n"
    "the tolvaren.exe beside it when tolvaren is not running; closing its window puts the\n"
    "lamps out, and an error stays on screen until a key is pressed.\n"
    "\n"
    "Exit codes:\n"
    "  0  the input ended, or Ctrl-C: the lamps were put out\n"
    "  1  the command line is wrong; nothing was read or sent\n"
    "  2  the file or standard input could not be opened or read\n"
    "  3  the input is audio tolvaren-vis does not read (the message says why)\n"
    "  4  capturing could not start or stopped, or the devices could not be listed\n";

// Read at a time from a file; a few milliseconds of audio.
const DWORD kReadBytes = 4096;
// How often live capture is looked at.
const DWORD kCapturePollMs = 5;

HANDLE stopEvent = NULL;  // set by Ctrl-C

bool StopRequested()
{
    return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

// Milliseconds from an arbitrary start, to the millisecond.
uint64_t NowMs()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / (frequency.QuadPart / 1000));
}

// ---- where the lines go ------------------------------------------------------

struct Output {
    bool print;
    bool doubleClicked;  // said for a person, and tolvaren started when missing
    VisSchedule schedule;
    LampPipe pipe;
};

void OnLine(void* context, const VisLine& line)
{
    Output* out = static_cast<Output*>(context);
    if (out->print) {
        char text[kVisPrintLineMax];
        const unsigned length = FormatPrintLine(line, text);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, NULL);
        return;
    }
    ScheduleLine(&out->schedule, line, NowMs());
}

// Writes the lines that are due; gives how long until the next one (at most
// waitMs).
DWORD SendDueLines(Output* out, DWORD waitMs)
{
    if (out->print) return waitMs;
    VisLine line;
    while (PopDueLine(&out->schedule.queue, NowMs(), &line)) SendToTolvaren(&out->pipe, line, NowMs());
    if (SkippedLinesNews(&out->schedule))
        Print(kToErr, "tolvaren-vis: the pipe fell behind; lines that came too late were skipped.\n");
    if (!IsConnected(&out->pipe)) ConnectToTolvaren(&out->pipe, NowMs(), false);
    return MsUntilDue(&out->schedule, NowMs(), waitMs);
}

// The end, once FinishVis has handed over the line that puts the lamps out:
// that line goes at once (Ctrl-C, or a live input's end) or at the end of
// the audio (a file's lines wait for their time).
void FinishOutput(Output* out, bool atOnce)
{
    if (out->print) return;
    while (!atOnce && LinesWaiting(&out->schedule) && !StopRequested())
        WaitForSingleObject(stopEvent, SendDueLines(out, 1000));
    VisLine last;
    if (!TakeLastLine(&out->schedule, &last)) return;
    if (ConnectToTolvaren(&out->pipe, NowMs(), true)) SendToTolvaren(&out->pipe, last, NowMs());
    CloseLampPipe(&out->pipe);
}

// ---- where the samples come from -----------------------------------------------

int Refused(VisEngine* engine)
{
    Print(kToErr, "tolvaren-vis: %s.\n", VisMessage(engine));
    return kVisExitUnsupported;
}

int ReadFailed(const char* what, DWORD code)
{
    char text[256];
    Print(kToErr, "tolvaren-vis: could not read %s (error %lu: %s).\n", what, code,
          ErrorText(code, text, sizeof text));
    return kVisExitUnreadable;
}

// A file, or standard input redirected from one: read ahead of the time
// its lamps are shown, so that they move as the audio would play.
int ShowFile(HANDLE input, const char* what, VisEngine* engine, Output* out)
{
    static char buffer[kReadBytes];
    if (!out->print) PaceByTheAudio(&out->schedule, NowMs());
    for (;;) {
        if (StopRequested()) {
            FinishVis(engine);
            FinishOutput(out, true);
            return kVisExitOk;
        }
        if (ReadFarEnough(&out->schedule, static_cast<uint64_t>(engine->framesDone) * kVisFrameMs, NowMs())) {
            WaitForSingleObject(stopEvent, SendDueLines(out, 10));
            continue;
        }
        DWORD count = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &count, NULL)) {
            const DWORD code = GetLastError();
            if (code != ERROR_BROKEN_PIPE && code != ERROR_HANDLE_EOF) return ReadFailed(what, code);
            count = 0;
        }
        if (count == 0) break;
        if (FeedVis(engine, buffer, count) == kPcmUnsupported) return Refused(engine);
        SendDueLines(out, 0);
    }
    if (FinishVis(engine) == kPcmUnsupported) return Refused(engine);
    FinishOutput(out, false);
    return kVisExitOk;
}

struct LiveFeed {
    VisEngine* engine;
    VisLiveGuard guard;
    uint64_t dropPending;  // bytes still to throw away, oldest first
    bool refused;
    uint32_t frameBytes;
    uint64_t frames;       // frames that came, dropped ones included
};

void TellDropped()
{
    Print(kToErr,
          "tolvaren-vis: the input fell more than 100 ms behind; the oldest audio was dropped to "
          "keep the lamps with the music (said once).\n");
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

int ShowStdinPipe(HANDLE input, const PcmFormat& format, VisEngine* engine, Output* out)
{
    DWORD code = 0;
    // --print shows every sample, however fast they come.
    if (!StartStdinReader(input, out->print, &code)) return ReadFailed("standard input", code);

    LiveFeed feed = {engine, {}, 0, false, PcmFrameBytes(format), 0};
    StartLiveGuard(&feed.guard, format);
    static uint8_t taken[kReadBytes * 4];
    for (;;) {
        const HANDLE events[2] = {stopEvent, StdinArrived()};
        const DWORD woke = WaitForMultipleObjects(2, events, FALSE, SendDueLines(out, 1000));
        if (woke == WAIT_OBJECT_0) {
            FinishVis(engine);
            FinishOutput(out, true);
            return kVisExitOk;
        }
        // All that waits counts as one read: more than the backlog allows
        // means its oldest part waited too long.
        if (DropStdinBacklog(&feed.guard)) TellDropped();

        for (;;) {
            const StdinTaken got = TakeStdin(taken, sizeof taken);
            if (got.count > 0) FeedLiveBytes(&feed, taken, got.count);
            if (feed.refused) return Refused(engine);
            SendDueLines(out, 0);
            if (got.ended) {
                if (got.error != ERROR_SUCCESS) return ReadFailed("standard input", got.error);
                if (FinishVis(engine) == kPcmUnsupported) return Refused(engine);
                FinishOutput(out, true);
                return kVisExitOk;
            }
            if (got.count < sizeof taken) break;
        }
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

int ShowCapture(VisCommand command, VisEngine* engine, Output* out)
{
    static CaptureStream stream;
    char error[kCaptureErrorMax];
    if (!OpenCapture(&stream, command.device, error)) {
        Print(kToErr, "tolvaren-vis: %s.\n", error);
        return kVisExitCaptureFailed;
    }
    SayCapturing(stream, out->doubleClicked);
    if (out->doubleClicked && !out->print) ConnectOrStartTolvaren(&out->pipe, NowMs());

    command.raw = stream.format;
    StartVis(engine, VisSettingsFor(command), OnLine, out);
    const uint32_t frameBytes = PcmFrameBytes(stream.format);
    LiveFeed feed = {engine, {}, 0, false, frameBytes, 0};
    StartLiveGuard(&feed.guard, stream.format);
    VisSilenceFiller filler;
    StartSilenceFiller(&filler, stream.format.rate, NowMs());
    int result = kVisExitOk;
    for (;;) {
        if (WaitForSingleObject(stopEvent, SendDueLines(out, kCapturePollMs)) == WAIT_OBJECT_0) break;
        bool tell = false;
        feed.dropPending += LiveBytesToSkip(
            &feed.guard, static_cast<uint64_t>(CaptureFramesWaiting(&stream)) * frameBytes, 0, &tell);
        if (tell) TellDropped();
        const uint64_t framesBefore = feed.frames;
        if (!ReadCapture(&stream, FeedLiveBytes, FeedLiveSilence, &feed, error)) {
            Print(kToErr, "tolvaren-vis: %s.\n", error);
            result = kVisExitCaptureFailed;
            break;
        }
        if (feed.refused) {
            result = Refused(engine);
            break;
        }
        // What came is read first, so that a packet that was waiting is
        // never taken for silence.
        if (feed.frames != framesBefore) NoteCapturePacket(&filler, NowMs());
        const uint32_t silence = SilenceFramesDue(&filler, NowMs());
        if (silence > 0) FeedLiveSilence(&feed, silence);
    }
    CloseCapture(&stream);
    FinishVis(engine);
    FinishOutput(out, true);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    VisCommand command;
    char error[kUsageErrorMax];
    const bool doubleClicked = StartedByDoubleClick(argc);
    if (doubleClicked) {
        // The window's title would be the program's path otherwise.
        SetConsoleTitleA("tolvaren-vis: the lamps follow the music");
        // Explorer gives no arguments: what a double-click wants is what
        // plays, as with --capture.
        const char* const capture[] = {"tolvaren-vis", "--capture"};
        ParseVisArguments(2, capture, &command, error);
    } else if (!ParseVisArguments(argc, argv, &command, error)) {
        Print(kToErr, "tolvaren-vis: %s.\nRun \"tolvaren-vis --help\" to see what it takes.\n", error);
        return kVisExitUsage;
    }
    if (command.action == kVisActionHelp) {
        WriteText(kToOut, kHelp);
        return kVisExitOk;
    }
    if (command.action == kVisActionListDevices) {
        char listError[kCaptureErrorMax];
        if (ListCaptureDevices(listError)) return kVisExitOk;
        Print(kToErr, "tolvaren-vis: %s.\n", listError);
        return kVisExitCaptureFailed;
    }

    stopEvent = CatchConsoleStop();
    if (stopEvent == NULL) {
        const int failed = ReadFailed("its own stop signal", GetLastError());
        if (doubleClicked) WaitForKeyBeforeClosing();
        return failed;
    }

    static Output out;
    out.print = command.print;
    out.doubleClicked = doubleClicked;
    StartSchedule(&out.schedule, command.delayMs);
    StartLampPipe(&out.pipe);

    const VisSettings settings = VisSettingsFor(command);
    static VisEngine engine;

    // The pipe is looked for at once, so that a missing tolvaren is said
    // before the lamps have anything to show; a double-click looks once it
    // knows what it follows, and starts tolvaren if need be.
    if (!out.print && !doubleClicked) ConnectToTolvaren(&out.pipe, NowMs(), true);
    // Lines every 10 ms want a timer finer than the system's default.
    timeBeginPeriod(1);
    int result = kVisExitOk;
    if (command.action == kVisActionCapture) {
        result = ShowCapture(command, &engine, &out);
    } else if (command.action == kVisActionFile) {
        HANDLE file = CreateFileA(command.path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            char text[256];
            Print(kToErr, "tolvaren-vis: could not open %s (error %lu: %s); check the name.\n", command.path, code,
                  ErrorText(code, text, sizeof text));
            result = kVisExitUnreadable;
        } else {
            StartVis(&engine, settings, OnLine, &out);
            result = ShowFile(file, command.path, &engine, &out);
            CloseHandle(file);
        }
    } else {
        HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        const DWORD type = input == NULL || input == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(input);
        StartVis(&engine, settings, OnLine, &out);
        if (type == FILE_TYPE_PIPE) {
            result = ShowStdinPipe(input, command.raw, &engine, &out);
        } else if (type == FILE_TYPE_DISK) {
            result = ShowFile(input, "standard input", &engine, &out);
        } else {
            Print(kToErr,
                  "tolvaren-vis: standard input is %s, not samples; pipe raw samples into it, such as\n"
                  "  parec --format=s16le --rate=44100 --channels=2 | tolvaren-vis -\n",
                  type == FILE_TYPE_CHAR ? "the console" : "not readable");
            result = kVisExitUnreadable;
        }
    }
    timeEndPeriod(1);
    ReleaseConsoleStop();
    // The window closes as the program ends: a message must wait for the
    // person it is for.
    if (doubleClicked && result != kVisExitOk) WaitForKeyBeforeClosing();
    return result;
}
