#pragma once

// What tolvaren-send's exit code tells a script. Each failure has a code of
// its own, so a script can tell "start tolvaren first" from "try again
// later" from "fix the command line". --help lists the same codes.
enum SendExitCode : int {
    kExitOk = 0,           // sent everything; or listed the devices; or showed the help
    kExitUsage = 1,        // the command line is wrong; nothing was sent
    kExitNotRunning = 2,   // there is no pipe: tolvaren is not running
    kExitBusy = 3,         // another writer is connected to the pipe
    kExitWriteFailed = 4,  // a write failed: tolvaren went away or closed the pipe
    kExitOpenFailed = 5,   // the pipe is there but could not be opened for another reason
    kExitInputFailed = 6,  // standard input could not be read (with "-")
    kExitListFailed = 7,   // the HID devices could not be enumerated (with --list)
};
