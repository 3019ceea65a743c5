#include "tools/tolvaren-vis/vis_help.h"

#include <cstdio>

#include "pipe/pipe_name.h"
#include "tools/tolvaren-vis/pcm_reader.h"
#include "tools/tolvaren-vis/vis_analysis.h"
#include "tools/tolvaren-vis/vis_args.h"
#include "tools/tolvaren-vis/vis_engine.h"
#include "tools/tolvaren-vis/vis_exit_codes.h"

namespace {

const char kHelpFormat[] =
    "tolvaren-vis: makes tolvaren's lamps follow the music, from any player. It writes a lamp\n"
    "line into tolvaren's pipe %s whenever the lamps change.\n"
    "\n"
    "  tolvaren-vis FILE.wav       shows a WAV file (16- or 24-bit integer or 32-bit float,\n"
    "                              1 or 2 channels, %lu to %lu Hz) as it would play,\n"
    "                              without playing it aloud.\n"
    "  tolvaren-vis -              shows raw samples arriving on standard input, such as\n"
    "                              parec --format=s16le --rate=44100 --channels=2 | tolvaren-vis -\n"
    "      --format s16le|f32le    16-bit integer or 32-bit float samples (s16le)\n"
    "      --rate N                samples a second, %lu to %lu (%lu)\n"
    "      --channels 1|2          mono or stereo (%lu)\n"
    "  tolvaren-vis --capture      shows what is playing: the default output's own stream,\n"
    "                              or where the system has none (Wine before 9.12), the\n"
    "                              first capture device whose name begins with \"Monitor of\".\n"
    "      --device TEXT           the capture device whose name contains TEXT instead.\n"
    "  tolvaren-vis --list-devices lists the outputs and capture devices.\n"
    "\n"
    "  --mode spectrum             (the default) sixteen bands from %.0f Hz to %.0f kHz, the lowest\n"
    "                              at the upper left, along the upper row and then the lower.\n"
    "  --mode vu                   a level meter for each channel: the upper row the left,\n"
    "                              the lower row the right, %.0f dB a lamp.\n"
    "  --delay MS                  shows the lamps MS milliseconds later (0 to %lu), to keep\n"
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
    "that falls more than %lu ms behind is dropped, the oldest first, with a note.\n"
    "Under Wine, run it in the same WINEPREFIX as tolvaren (scripts/vis.sh does).\n"
    "\n"
    "Double-clicked, with no arguments, it follows what plays as --capture does, starting\n"
    "the tolvaren.exe beside it when tolvaren is not running; closing its window puts the\n"
    "lamps out, and an error stays on screen until a key is pressed.\n"
    "\n"
    "Exit codes:\n"
    "  %d  the input ended, or Ctrl-C: the lamps were put out\n"
    "  %d  the command line is wrong; nothing was read or sent\n"
    "  %d  the file or standard input could not be opened or read\n"
    "  %d  the input is audio tolvaren-vis does not read (the message says why)\n"
    "  %d  capturing could not start or stopped, or the devices could not be listed\n";

}  // namespace

bool FormatVisHelp(char* out, size_t size)
{
    const int length = std::snprintf(
        out, size, kHelpFormat, kLampPipeName, static_cast<unsigned long>(kPcmRateMin),
        static_cast<unsigned long>(kPcmRateMax), static_cast<unsigned long>(kPcmRateMin),
        static_cast<unsigned long>(kPcmRateMax), static_cast<unsigned long>(kVisRawRateDefault),
        static_cast<unsigned long>(kVisRawChannelsDefault), kVisLowestCentreHz, kVisHighestCentreHz / 1000.0,
        kVisSegmentStepDb, static_cast<unsigned long>(kVisDelayMaxMs), static_cast<unsigned long>(kVisLiveBacklogMaxMs),
        static_cast<int>(kVisExitOk), static_cast<int>(kVisExitUsage), static_cast<int>(kVisExitUnreadable),
        static_cast<int>(kVisExitUnsupported), static_cast<int>(kVisExitCaptureFailed));
    return length >= 0 && static_cast<size_t>(length) < size;
}
