// tolvaren-vis: makes tolvaren's lamps follow the music. Reads a WAV file,
// raw samples on standard input or what the system is playing, and writes
// a lamp line into tolvaren's pipe whenever the lamps change.
#include <windows.h>

#include "tools/common/console_win32.h"
#include "tools/tolvaren-vis/capture_wasapi_win32.h"
#include "tools/tolvaren-vis/vis_args.h"
#include "tools/tolvaren-vis/vis_engine.h"
#include "tools/tolvaren-vis/vis_exit_codes.h"
#include "tools/tolvaren-vis/vis_help.h"
#include "tools/tolvaren-vis/vis_output_win32.h"
#include "tools/tolvaren-vis/vis_sources_win32.h"

namespace {

// The command line; or, double-clicked, what a double-click wants.
bool ReadCommand(int argc, char** argv, bool doubleClicked, VisCommand* command)
{
    char error[kUsageErrorMax];
    if (doubleClicked) {
        // The window's title would be the program's path otherwise.
        SetConsoleTitleA("tolvaren-vis: the lamps follow the music");
        // Explorer gives no arguments: what a double-click wants is what
        // plays, as with --capture.
        const char* const capture[] = {"tolvaren-vis", "--capture"};
        ParseVisArguments(2, capture, command, error);
        return true;
    }
    if (ParseVisArguments(argc, argv, command, error)) return true;
    Print(kToErr, "tolvaren-vis: %s.\nRun \"tolvaren-vis --help\" to see what it takes.\n", error);
    return false;
}

int ShowHelp()
{
    static char help[kVisHelpMax];
    FormatVisHelp(help, sizeof help);
    WriteText(kToOut, help);
    return kVisExitOk;
}

int ListDevices()
{
    char error[kCaptureErrorMax];
    if (ListCaptureDevices(error)) return kVisExitOk;
    return ErrorExit(kVisExitCaptureFailed, "tolvaren-vis: %s.\n", error);
}

int ShowInput(const VisCommand& command, LineOutput* out)
{
    static VisEngine engine;
    // Lines every 10 ms want a timer finer than the system's default.
    timeBeginPeriod(1);
    int result = kVisExitOk;
    if (command.action == kVisActionCapture)
        result = ShowCapture(command, &engine, out);
    else if (command.action == kVisActionFile)
        result = ShowWavFile(command, &engine, out);
    else
        result = ShowStandardInput(command, &engine, out);
    timeEndPeriod(1);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool doubleClicked = StartedByDoubleClick(argc);
    VisCommand command;
    if (!ReadCommand(argc, argv, doubleClicked, &command)) return kVisExitUsage;
    if (command.action == kVisActionHelp) return ShowHelp();
    if (command.action == kVisActionListDevices) return ListDevices();

    int result = kVisExitOk;
    HANDLE stop = CatchConsoleStop();
    if (stop == NULL) {
        result = ReadFailed("its own stop signal", GetLastError());
    } else {
        static LineOutput out;
        StartLineOutput(&out, command, doubleClicked, stop);
        LookForTolvaren(&out);
        result = ShowInput(command, &out);
        ReleaseConsoleStop();
    }
    // The window closes as the program ends: a message must wait for the
    // person it is for.
    if (doubleClicked && result != kVisExitOk) WaitForKeyBeforeClosing();
    return result;
}
