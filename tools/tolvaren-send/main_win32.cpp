// tolvaren-send: writes lines into tolvaren's pipe the way the media
// player's plug-in does, so the lamps can be lit without the player.
#include <windows.h>

#include <cstdio>

#include "lamps/lamp_state.h"
#include "pipe/pipe_name.h"
#include "tools/common/lamp_pipe_win32.h"
#include "tools/tolvaren-send/exit_codes.h"
#include "tools/tolvaren-send/send_logic.h"
#include "tools/tolvaren-send/send_win32.h"

namespace {


// Its limits come in as numbers: see ShowHelp.
const char kHelp[] =
    "tolvaren-send: sends lines to tolvaren through its pipe \\\\.\\pipe\\korvinde, the way\n"
    "the media player's plug-in does.\n"
    "\n"
    "  tolvaren-send VALUE        lights the lamps: sends >5L and VALUE, 1 to %u hex digits\n"
    "                             (an optional 0x is dropped). 00FF lights the upper row,\n"
    "                             FF00 the lower row, 0 puts all lamps out.\n"
    "  tolvaren-send --line TEXT  sends TEXT and a line feed as they are, such as \">hello\".\n"
    "  tolvaren-send -            sends each line of standard input. A carriage return\n"
    "                             before the line feed is dropped; empty lines are skipped.\n"
    "  tolvaren-send --demo [RATE] [--count N]\n"
    "                             runs a lamp pattern (a bar that grows and shrinks) at RATE\n"
    "                             lines a second, 1 to %u, %u if not given, until Ctrl-C,\n"
    "                             or until N lines are sent.\n"
    "  tolvaren-send --list       lists the HID devices present with their ids as tolvaren's\n"
    "                             -v and -p take them, to find the ones of your lamp.\n"
    "  tolvaren-send --help       shows this.\n"
    "\n"
    "Each line goes in a write of its own, and the next one only once tolvaren has read\n"
    "it: tolvaren takes just the first line of each read. Tolvaren takes a line of '>' and\n"
    "at most %u more characters. A line it will not take as it is (longer, without '>', ...)\n"
    "gets a warning on standard error but is sent as given, so that tolvaren's handling of\n"
    "it can be tried. A line longer than %u characters is not sent.\n"
    "\n"
    "tolvaren-send does not wait for the pipe: when another writer holds it, it says so at\n"
    "once. Under Wine, run it in the same WINEPREFIX as tolvaren (scripts/send.sh does).\n"
    "Double-clicked, it lists the lamps present and these commands, and waits for a key.\n"
    "\n"
    "Exit codes:\n"
    "  0  everything was sent (or the devices were listed, or this help shown)\n"
    "  1  the command line is wrong; nothing was sent\n"
    "  2  tolvaren is not running: there is no pipe \\\\.\\pipe\\korvinde\n"
    "  3  the pipe is busy: another writer is connected to it\n"
    "  4  a write failed: tolvaren went away or closed the pipe\n"
    "  5  the pipe could not be opened for another reason (the message gives it)\n"
    "  6  standard input could not be read (with -)\n"
    "  7  the HID devices could not be enumerated (with --list)\n";

// What a double-click shows beside the lamps: nobody can give a command
// line there.
const char kDoubleClickIntro[] =
    "tolvaren-send lights tolvaren's lamps by hand, without the player's plug-in.\n"
    "\n";
const char kDoubleClickCommands[] =
    "\n"
    "With tolvaren running, from a command prompt in this folder:\n"
    "  tolvaren-send 00FF          lights the upper row (FF00 the lower row, 0 none)\n"
    "  tolvaren-send --line TEXT   sends TEXT as a line, such as \">5L00FF\"\n"
    "  tolvaren-send --demo        runs a lamp pattern until Ctrl-C\n"
    "  tolvaren-send --list        lists every HID device with its ids\n"
    "  tolvaren-send --help        tells everything, with the exit codes\n";

void ShowHelp()
{
    static char text[sizeof kHelp + 32];
    std::snprintf(text, sizeof text, kHelp, static_cast<unsigned>(kLampValueDigitsMax),
                  static_cast<unsigned>(kDemoRateMax), static_cast<unsigned>(kDemoRateDefault),
                  static_cast<unsigned>(kLampLineMax - 1), static_cast<unsigned>(kSendLineMax));
    WriteText(kToOut, text);
}

// Warnings quote this much of a line.
const int kQuoted = 40;

int OpenPipe(HANDLE* pipe)
{
    DWORD code = 0;
    switch (OpenLampPipe(pipe, &code)) {
    case kLampPipeOpen:
        return kExitOk;
    case kLampPipeMissing:
        return ErrorExit(kExitNotRunning,
                         "tolvaren-send: tolvaren is not running: there is no pipe %s.\n"
                         "Start tolvaren first (scripts/run.sh), then try again. Under Wine both must\n"
                         "run in the same WINEPREFIX (scripts/send.sh uses the one of scripts/run.sh).\n",
                         kLampPipeName);
    case kLampPipeBusy:
        return ErrorExit(kExitBusy,
                         "tolvaren-send: the pipe %s is busy: another writer (the media player's "
                         "plug-in, or another tolvaren-send) is connected to it.\n"
                         "Stop that writer, or let it finish, and try again.\n",
                         kLampPipeName);
    case kLampPipeFailed:
        break;
    }
    char text[256];
    return ErrorExit(kExitOpenFailed,
                     "tolvaren-send: could not open the pipe %s (error %lu: %s).\n"
                     "Check that the program serving it is tolvaren, and try again.\n",
                     kLampPipeName, code, ErrorText(code, text, sizeof text));
}

// number is the line's number in standard input, or 0 for the one line of
// the command line.
bool SendLine(HANDLE pipe, const char* bytes, unsigned length, unsigned long number)
{
    DWORD code = 0;
    if (WriteLampPipeLine(pipe, bytes, length, &code)) return true;

    char what[32] = "the line";
    if (number != 0) std::snprintf(what, sizeof what, "line %lu", number);
    char text[256];
    Print(kToErr,
          "tolvaren-send: sending %s failed (error %lu: %s): tolvaren went away or closed "
          "the pipe.\nStart tolvaren again (scripts/run.sh) and retry.\n",
          what, code, ErrorText(code, text, sizeof text));
    return false;
}

void WarnAboutLine(const char* bytes, unsigned length, unsigned long number)
{
    char text[kLineWarningBytes];
    const char* warning = LineVerdictWarning(JudgeLine(bytes, length), text, sizeof text);
    if (warning == nullptr) return;
    const int shown = length < static_cast<unsigned>(kQuoted) ? static_cast<int>(length) : kQuoted;
    const char* more = length > static_cast<unsigned>(kQuoted) ? "..." : "";
    if (number == 0)
        Print(kToErr, "tolvaren-send: warning: the line \"%.*s%s\" %s; sent as given.\n", shown, bytes, more,
              warning);
    else
        Print(kToErr, "tolvaren-send: warning: line %lu \"%.*s%s\" %s; sent as given.\n", number, shown,
              bytes, more, warning);
}

struct InputSending {
    HANDLE pipe;
    int result;
};

bool SendInputLine(void* context, const SplitLine& line)
{
    InputSending* sending = static_cast<InputSending*>(context);
    if (line.bytes == nullptr) {
        Print(kToErr, "tolvaren-send: line %lu is longer than %u characters; not sent.\n",
              static_cast<unsigned long>(line.number), static_cast<unsigned>(kSendLineMax));
        return true;
    }
    WarnAboutLine(line.bytes, line.length - 1, line.number);
    if (SendLine(sending->pipe, line.bytes, line.length, line.number)) return true;
    sending->result = kExitWriteFailed;
    return false;
}

int SendStandardInput(HANDLE pipe)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    InputSending sending = {pipe, kExitOk};
    LineSplitter splitter;
    StartLines(&splitter);
    char buffer[512];

    for (;;) {
        DWORD count = 0;
        if (input == NULL || input == INVALID_HANDLE_VALUE ||
            !ReadFile(input, buffer, sizeof buffer, &count, NULL)) {
            const DWORD code =
                input == NULL || input == INVALID_HANDLE_VALUE ? ERROR_INVALID_HANDLE : GetLastError();
            // The writer of a pipe closing its end is how piped input ends.
            if (code == ERROR_BROKEN_PIPE) break;
            char text[256];
            return ErrorExit(kExitInputFailed,
                             "tolvaren-send: could not read standard input (error %lu: %s).\n"
                             "Give it the lines to send, such as: type lines.txt | tolvaren-send -\n",
                             code, ErrorText(code, text, sizeof text));
        }
        if (count == 0) break;
        if (!SplitLines(&splitter, buffer, count, SendInputLine, &sending)) return sending.result;
    }
    if (!FinishLines(&splitter, SendInputLine, &sending)) return sending.result;
    return kExitOk;
}

int RunDemo(HANDLE pipe, unsigned linesPerSecond, uint32_t count)
{
    HANDLE demoStop = CatchConsoleStop();
    if (count == 0)
        Print(kToErr, "tolvaren-send: running the lamp demo at %u lines a second; Ctrl-C stops it.\n",
              linesPerSecond);

    // Steps are timed from the start rather than one after another, so
    // the rate holds however long each write takes.
    const ULONGLONG start = GetTickCount64();
    int result = kExitOk;
    uint32_t step = 0;
    for (; count == 0 || step < count; ++step) {
        const ULONGLONG due = start + static_cast<ULONGLONG>(step) * 1000u / linesPerSecond;
        const ULONGLONG now = GetTickCount64();
        const DWORD wait = due > now ? static_cast<DWORD>(due - now) : 0;
        if (demoStop != NULL && WaitForSingleObject(demoStop, wait) == WAIT_OBJECT_0) break;
        if (demoStop == NULL) Sleep(wait);

        char line[kLampLineBytes];
        FormatLampLine(DemoLampValue(step), line);
        if (!SendLine(pipe, line, sizeof line, step + 1ul)) {
            result = kExitWriteFailed;
            break;
        }
    }

    ReleaseConsoleStop();
    if (result == kExitOk && count == 0)
        Print(kToErr, "tolvaren-send: stopped after %lu lines.\n", static_cast<unsigned long>(step));
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    if (StartedByDoubleClick(argc)) {
        // The window's title would be the program's path otherwise.
        SetConsoleTitleA("tolvaren-send: tolvaren's lamps by hand");
        WriteText(kToOut, kDoubleClickIntro);
        const int result = ListHidDevices(true);
        WriteText(kToOut, kDoubleClickCommands);
        WaitForKeyBeforeClosing();
        return result;
    }
    SendCommand command;
    char error[kUsageErrorMax];
    if (!ParseSendArguments(argc, argv, &command, error))
        return ErrorExit(kExitUsage, "tolvaren-send: %s.\nRun \"tolvaren-send --help\" to see what it takes.\n",
                         error);
    if (command.action == kActionHelp) {
        ShowHelp();
        return kExitOk;
    }
    if (command.action == kActionList) return ListHidDevices(false);

    HANDLE pipe = INVALID_HANDLE_VALUE;
    int result = OpenPipe(&pipe);
    if (result != kExitOk) return result;

    switch (command.action) {
    case kActionLine:
    case kActionValue:
        if (command.action == kActionLine) WarnAboutLine(command.line, command.length - 1, 0);
        if (!SendLine(pipe, command.line, command.length, 0)) result = kExitWriteFailed;
        break;
    case kActionStdin:
        result = SendStandardInput(pipe);
        break;
    case kActionDemo:
        result = RunDemo(pipe, command.linesPerSecond, command.count);
        break;
    case kActionHelp:
    case kActionList:
        break;
    }
    CloseHandle(pipe);
    return result;
}
