// virtual-lamp: installs the virtual lamp's driver in a Wine prefix (or a
// Windows test machine) and adds, changes, lists and removes virtual lamps,
// so that programs drive a lamp through the system's own HID stack without
// hardware. Test and tool code; it never ships.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "lamps/lamp_identity.h"
#include "tools/common/console_win32.h"
#include "tools/virtual-lamp/lamp_command.h"
#include "tools/virtual-lamp/lamp_setup_win32.h"

namespace {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,
    kExitNoDriver = 2,
    kExitRefused = 3,
    kExitNoSuchLamp = 4,
    kExitTimedOut = 5,
    kExitLogFailed = 6,
};

// Its limits come in as numbers: see ShowHelp.
const char kHelp[] =
    "virtual-lamp: virtual lamp devices on the system's own HID stack, for tests and demos.\n"
    "A virtual lamp is a HID device (vendor 16C0, product 05DF unless told otherwise) that takes\n"
    "the lamp's 7-byte feature report and records each one it gets in a log file.\n"
    "Run it in the Wine prefix of the programs that are to see the lamps, with the 64-bit Wine:\n"
    "  WINEPREFIX=... /usr/lib/wine/wine64 virtual-lamp.exe COMMAND ...\n"
    "\n"
    "  install-driver   puts the driver (tolvaren_vlamp.sys and tolvaren_vlamp.inf, beside this\n"
    "                   program) into the prefix; once per prefix. add does it too when needed.\n"
    "  add [OPTIONS]    adds a lamp, waits until its HID device is there and prints its id.\n"
    "      --vid HEX, --pid HEX        its ids (%04X, %04X)\n"
    "      --manufacturer TEXT         its strings (\"" LAMP_MANUFACTURER "\", \"" LAMP_PRODUCT "\");\n"
    "      --product TEXT              an empty TEXT gives a lamp without that string\n"
    "      --serial TEXT               its serial number string (its number)\n"
    "      --delay MS                  it takes MS milliseconds over each report, 0 to %lu\n"
    "      --fail-reports              it refuses every report\n"
    "      --log PATH                  where it records what it gets: a Windows path, or a Unix\n"
    "                                  one (/tmp/lamp.log), which is read through drive Z:\n"
    "      --timeout MS, --no-wait     how long to wait for its HID device (%lu)\n"
    "  set ID [--delay MS] [--fail-reports | --accept-reports]\n"
    "                   changes how a present lamp answers its next reports.\n"
    "  remove ID...     removes lamps; a program holding one keeps a handle whose reports fail.\n"
    "  remove-all       removes every virtual lamp of the prefix.\n"
    "  list             lists the virtual lamps with their settings and HID device paths.\n"
    "  path ID          prints the lamp's HID device path, waiting for it as add does.\n"
    "  --help           shows this.\n"
    "ID is what add and list print, such as ROOT\\TOLVAREN_VLAMP\\0003, or just its number (3).\n"
    "\n"
    "Lamps stay installed until removed, also over restarts of the prefix.\n"
    "The log has a line an event, each with the time as QueryPerformanceCounter gives it:\n"
    "  added 16C0:05DF \"" LAMP_MANUFACTURER "\" \"" LAMP_PRODUCT "\" t=123   the lamp came\n"
    "  start t=124                                    its HID device started\n"
    "  report 7 01 00 FF 00 00 00 00 ok t=125         a feature report: its length and bytes,\n"
    "                                                 then ok, refused or removed\n"
    "  pending 7 01 00 FF 00 00 00 00 t=126           one that a delay holds; its report line\n"
    "                                                 follows with done=TIME when answered\n"
    "  removed t=127                                  the lamp went\n"
    "Watch it with tail -f.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  the command line is wrong; nothing was changed\n"
    "  2  the driver is not installed, or its files are missing beside this program\n"
    "  3  setupapi or the file system refused (the message says what)\n"
    "  4  there is no virtual lamp of that id\n"
    "  5  the lamp's HID device did not come (or go) in time\n"
    "  6  the log file could not be made\n";

// Wide text to UTF-8 for the terminal; cut short when it does not fit.
const char* Utf8(const WCHAR* text, char* buffer, int size)
{
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, size, NULL, NULL) == 0) buffer[size - 1] = '\0';
    return buffer;
}

int ExitCodeOf(LampOutcome outcome)
{
    switch (outcome) {
    case kLampNoDriver: return kExitNoDriver;
    case kLampNoSuchLamp: return kExitNoSuchLamp;
    case kLampTimedOut: return kExitTimedOut;
    case kLampLogFailed: return kExitLogFailed;
    default: return kExitRefused;
    }
}

int Report(const LampProblem& problem)
{
    char text[3 * 1024];
    return ErrorExit(ExitCodeOf(problem.outcome), "virtual-lamp: %s.\n", Utf8(problem.text, text, sizeof text));
}

bool ToWide(const char* text, WCHAR* out, int chars)
{
    return MultiByteToWideChar(CP_UTF8, 0, text, -1, out, chars) != 0;
}

// A Unix path names the same file through Wine's drive Z:.
void WindowsPath(const char* given, WCHAR* path)
{
    WCHAR wide[MAX_PATH];
    if (given[0] == '/') {
        wide[0] = L'Z';
        wide[1] = L':';
        ToWide(given, wide + 2, MAX_PATH - 2);
        for (WCHAR* c = wide; *c != L'\0'; ++c)
            if (*c == L'/') *c = L'\\';
    } else {
        ToWide(given, wide, MAX_PATH);
    }
    if (GetFullPathNameW(wide, MAX_PATH, path, NULL) == 0) wcscpy(path, wide);
}

void ShowHelp()
{
    static char text[sizeof kHelp + 32];
    std::snprintf(text, sizeof text, kHelp, LAMP_VENDOR_ID, LAMP_PRODUCT_ID, kLampMaxDelayMs, kLampDefaultTimeoutMs);
    WriteText(kToOut, text);
}

void OwnDirectory(WCHAR* directory)
{
    GetModuleFileNameW(NULL, directory, MAX_PATH);
    WCHAR* slash = wcsrchr(directory, L'\\');
    if (slash != NULL) *slash = L'\0';
}

int InstallDriver(bool quiet)
{
    WCHAR directory[MAX_PATH];
    OwnDirectory(directory);
    LampProblem problem;
    bool replaced = false;
    if (!InstallLampDriver(directory, &replaced, &problem)) return Report(problem);
    if (replaced)
        Print(kToErr,
            "virtual-lamp: replaced the driver in this prefix by the one built. Lamps that came since the\n"
            "prefix started keep the old one until it stops (wineserver -k).\n");
    else if (!quiet)
        Print(kToErr, "virtual-lamp: the driver is installed in this prefix.\n");
    return kExitOk;
}

int Add(const LampCommand& command)
{
    if (!LampDriverInstalled()) {
        const int installed = InstallDriver(true);
        if (installed != kExitOk) return installed;
    }
    LampDescription lamp;
    DescribeLamp(command.vendorId, command.productId, command.manufacturer, command.product, command.serial,
                 command.delayMs, command.failReports, &lamp);
    if (command.logPath[0] != '\0') WindowsPath(command.logPath, lamp.logPath);

    WCHAR id[kLampIdChars];
    LampProblem problem;
    if (!AddLamp(lamp, command.timeoutMs, id, &problem)) return Report(problem);
    char text[256];
    Print(kToOut, "%s\n", Utf8(id, text, sizeof text));
    return kExitOk;
}

void PrintLamp(const LampListing& listing, void* context)
{
    ++*static_cast<unsigned*>(context);
    const LampDescription& lamp = listing.lamp;
    char id[256], manufacturer[512], product[512], serial[512], log[3 * MAX_PATH], path[3 * kLampPathChars];
    Print(kToOut, "%s  %04X:%04X \"%s\" \"%s\" serial \"%s\", %lu ms a report, %s\n    log %s\n    %s%s\n",
        Utf8(listing.id, id, sizeof id), lamp.vendorId, lamp.productId,
        Utf8(lamp.manufacturer, manufacturer, sizeof manufacturer), Utf8(lamp.product, product, sizeof product),
        Utf8(lamp.serial, serial, sizeof serial), static_cast<unsigned long>(lamp.delayMs),
        lamp.failReports ? "refuses reports" : "takes reports",
        lamp.logPath[0] != L'\0' ? Utf8(lamp.logPath, log, sizeof log) : "none",
        listing.present ? "present: " : "not present (its driver has not started it)",
        listing.present ? Utf8(listing.path, path, sizeof path) : "");
}

int Run(const LampCommand& command)
{
    LampProblem problem;
    WCHAR id[kLampIdChars];
    switch (command.verb) {
    case kLampVerbHelp: ShowHelp(); return kExitOk;
    case kLampVerbInstallDriver: return InstallDriver(false);
    case kLampVerbAdd: return Add(command);
    case kLampVerbSet: {
        ToWide(command.ids[0], id, kLampIdChars);
        const DWORD delay = command.delayMs;
        const bool fail = command.failReports;
        if (!SetLampBehaviour(id, command.delayGiven ? &delay : NULL, command.failGiven ? &fail : NULL, &problem))
            return Report(problem);
        return kExitOk;
    }
    case kLampVerbRemove:
        for (int i = 0; i < command.idCount; ++i) {
            ToWide(command.ids[i], id, kLampIdChars);
            if (!RemoveLamp(id, command.timeoutMs, &problem)) return Report(problem);
        }
        return kExitOk;
    case kLampVerbRemoveAll: {
        unsigned removed = 0;
        const bool ok = RemoveAllLamps(command.timeoutMs, &removed, &problem);
        Print(kToErr, "virtual-lamp: removed %u virtual lamp%s.\n", removed, removed == 1 ? "" : "s");
        return ok ? kExitOk : Report(problem);
    }
    case kLampVerbList: {
        unsigned count = 0;
        if (!ForEachLamp(PrintLamp, &count, &problem)) return Report(problem);
        if (count == 0) Print(kToErr, "virtual-lamp: there are no virtual lamps in this prefix.\n");
        return kExitOk;
    }
    case kLampVerbPath: {
        ToWide(command.ids[0], id, kLampIdChars);
        WCHAR path[kLampPathChars];
        if (!LampExists(id))
            return ErrorExit(kExitNoSuchLamp, "virtual-lamp: there is no virtual lamp %s in this prefix.\n",
                             command.ids[0]);
        if (!WaitForLampPath(id, command.timeoutMs, path))
            return ErrorExit(kExitTimedOut,
                             "virtual-lamp: the lamp %s is installed, but its HID device is not there.\n",
                             command.ids[0]);
        char text[3 * kLampPathChars];
        Print(kToOut, "%s\n", Utf8(path, text, sizeof text));
        return kExitOk;
    }
    }
    return kExitUsage;
}

// The arguments as UTF-8, whatever the console's code page.
char argumentBytes[32768];
const char* argumentTexts[256];

}  // namespace

int main()
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == NULL) return ErrorExit(kExitUsage, "virtual-lamp: the command line could not be read.\n");
    int used = 0, argc = 0;
    for (int i = 1; i < count && argc < 256; ++i) {
        const int room = static_cast<int>(sizeof argumentBytes) - used;
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argumentBytes + used, room, NULL, NULL);
        if (bytes == 0) return ErrorExit(kExitUsage, "virtual-lamp: the command line is too long.\n");
        argumentTexts[argc++] = argumentBytes + used;
        used += bytes;
    }
    LocalFree(wide);

    LampCommand command;
    char error[kUsageErrorMax];
    if (!ParseLampCommand(argc, argumentTexts, &command, error))
        return ErrorExit(kExitUsage,
                         "virtual-lamp: %s\nRun virtual-lamp.exe --help for the commands and their options.\n", error);
    return Run(command);
}
