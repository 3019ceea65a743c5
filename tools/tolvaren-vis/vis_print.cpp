// vis_print: tolvaren-vis's --print on the host, for scripts that look at
// what the lamps do with a sound (scripts/vis-picture.sh) without Wine. It
// takes tolvaren-vis's own command line, reads a WAV file or raw samples on
// standard input and writes the same "<ms> >5LXXXX" lines; there is no pipe
// and no capture here.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/tolvaren-vis/vis_args.h"
#include "tools/tolvaren-vis/vis_engine.h"
#include "tools/tolvaren-vis/vis_exit_codes.h"

namespace {

const char kHelpFormat[] =
    "vis_print: writes the lamp lines tolvaren-vis --print writes, on this machine.\n"
    "\n"
    "  vis_print FILE.wav          a WAV file (16- or 24-bit integer or 32-bit float,\n"
    "                              1 or 2 channels, %lu to %lu Hz)\n"
    "  vis_print -                 raw samples on standard input\n"
    "      --format s16le|f32le --rate N --channels 1|2   as tolvaren-vis takes them\n"
    "  --mode spectrum|vu          as tolvaren-vis (spectrum)\n"
    "  --delay MS                  adds MS to each line's time\n"
    "\n"
    "Each line is \"<milliseconds of audio> >5LXXXX\", one for each change of the lamps.\n"
    "Exit codes: %d done, %d wrong command line, %d the input could not be read,\n"
    "%d the input is audio it does not read.\n";

void PrintLine(void*, const VisLine& line)
{
    char text[kVisPrintLineMax];
    const unsigned length = FormatPrintLine(line, text);
    std::fwrite(text, 1, length, stdout);
}

VisEngine engine;
char buffer[65536];

int Refused(const char* what)
{
    std::fprintf(stderr, "vis_print: %s: %s.\n", what, VisMessage(&engine));
    return kVisExitUnsupported;
}

}  // namespace

int main(int argc, char** argv)
{
    VisCommand command;
    char error[kUsageErrorMax];
    if (!ParseVisArguments(argc, argv, &command, error)) {
        std::fprintf(stderr, "vis_print: %s.\nRun \"vis_print --help\" to see what it takes.\n", error);
        return kVisExitUsage;
    }
    if (command.action == kVisActionHelp) {
        std::printf(kHelpFormat, static_cast<unsigned long>(kPcmRateMin), static_cast<unsigned long>(kPcmRateMax),
                    static_cast<int>(kVisExitOk), static_cast<int>(kVisExitUsage),
                    static_cast<int>(kVisExitUnreadable), static_cast<int>(kVisExitUnsupported));
        return kVisExitOk;
    }
    if (command.action != kVisActionFile && command.action != kVisActionStdin) {
        std::fprintf(stderr,
                     "vis_print: it reads a WAV file or raw samples on standard input only; "
                     "live capture is tolvaren-vis's.\n");
        return kVisExitUsage;
    }

    FILE* input = stdin;
    const char* what = "standard input";
    if (command.action == kVisActionFile) {
        input = std::fopen(command.path, "rb");
        what = command.path;
        if (input == nullptr) {
            std::fprintf(stderr, "vis_print: could not open %s (%s); check the name.\n", what, std::strerror(errno));
            return kVisExitUnreadable;
        }
    }
    command.print = true;
    StartVis(&engine, VisSettingsFor(command), PrintLine, nullptr);
    int result = kVisExitOk;
    for (;;) {
        const size_t count = std::fread(buffer, 1, sizeof buffer, input);
        if (count > 0 && FeedVis(&engine, buffer, count) != kPcmOk) {
            result = Refused(what);
            break;
        }
        if (count < sizeof buffer) {
            if (std::ferror(input)) {
                std::fprintf(stderr, "vis_print: could not read %s (%s).\n", what, std::strerror(errno));
                result = kVisExitUnreadable;
            }
            break;
        }
    }
    if (result == kVisExitOk && FinishVis(&engine) != kPcmOk) result = Refused(what);
    if (input != stdin) std::fclose(input);
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "vis_print: could not write the lines (%s).\n", std::strerror(errno));
        if (result == kVisExitOk) result = kVisExitUnreadable;
    }
    return result;
}
