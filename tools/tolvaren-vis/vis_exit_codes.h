#pragma once

// What tolvaren-vis's exit code tells a script: each kind of failure has a
// code of its own. --help lists the same codes.
enum VisExitCode : int {
    kVisExitOk = 0,             // the input ended (or Ctrl-C): the lamps were put out
    kVisExitUsage = 1,          // the command line is wrong; nothing was read or sent
    kVisExitUnreadable = 2,     // the file or standard input could not be opened or read
    kVisExitUnsupported = 3,    // the input is not audio it reads (not a WAV, or an encoding,
                                // channel count or rate it does not take)
    kVisExitCaptureFailed = 4,  // capture could not start or stopped (or the devices could not be listed)
};
