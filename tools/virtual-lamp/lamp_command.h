#pragma once
// The virtual lamp controller's command line, apart from its Win32 side so
// that the native unit tests check it too. Text is UTF-8.
#include <cstddef>

#include "tools/common/tool_rules.h"  // kUsageErrorMax
#include "tools/virtual-lamp/lamp_settings.h"

enum LampVerb {
    kLampVerbHelp,
    kLampVerbInstallDriver,
    kLampVerbAdd,
    kLampVerbSet,
    kLampVerbRemove,
    kLampVerbRemoveAll,
    kLampVerbList,
    kLampVerbPath,
};

// A device string is at most 126 UTF-16 units: 3 bytes each in UTF-8 at
// most, and the NUL.
const int kLampTextChars = VLAMP_MAX_STRING;
const int kLampTextBytes = kLampTextChars * 3 + 1;
const int kLampPathBytes = 1024;
// "ROOT\TOLVAREN_VLAMP\" and up to ten digits.
const int kLampIdBytes = 40;
const int kLampMaxIds = 16;
const unsigned long kLampMaxDelayMs = VLAMP_MAX_DELAY_MS;
const unsigned long kLampDefaultTimeoutMs = 10000;

struct LampCommand {
    LampVerb verb;
    // add
    unsigned vendorId;
    unsigned productId;
    char manufacturer[kLampTextBytes];
    char product[kLampTextBytes];
    char serial[kLampTextBytes];  // empty: the lamp's number
    char logPath[kLampPathBytes];  // empty: no log
    // add and set
    unsigned long delayMs;
    bool failReports;
    bool delayGiven;  // set: what to change
    bool failGiven;
    // set, remove and path: full instance ids
    char ids[kLampMaxIds][kLampIdBytes];
    int idCount;
    // add, remove, remove-all, path: how long to wait for the lamp's HID
    // device to come or go; 0 waits not at all.
    unsigned long timeoutMs;
};

// Reads the arguments after the program's name. On failure returns false
// and says in error (kUsageErrorMax bytes) what is wrong and what to give
// instead.
bool ParseLampCommand(int argc, const char* const* argv, LampCommand* command, char* error);

// A lamp's instance id from what a user gives: the full id, any case, or
// just its number ("3", "0003"). False when it is neither.
bool NormalizeLampId(const char* given, char* id, size_t idSize);
