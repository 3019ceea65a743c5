#pragma once

// tolvaren-vis --help: what it does and takes, with the limits, defaults
// and exit codes formatted from the constants that hold them.

#include <cstddef>

enum : unsigned {
    kVisHelpMax = 4096,  // room for the help with its NUL
};

// Writes the help into out (size bytes); false when it did not fit whole.
bool FormatVisHelp(char* out, size_t size);
