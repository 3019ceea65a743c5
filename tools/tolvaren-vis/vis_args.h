#pragma once

// tolvaren-vis's command line, apart from Windows.

#include <cstdint>

#include "tools/common/tool_rules.h"
#include "tools/tolvaren-vis/pcm_reader.h"
#include "tools/tolvaren-vis/vis_analysis.h"
#include "tools/tolvaren-vis/vis_engine.h"

// What - reads when --format, --rate and --channels don't say.
enum : uint32_t {
    kVisRawRateDefault = 44100,
    kVisRawChannelsDefault = 2,
};

enum VisAction {
    kVisActionHelp,
    kVisActionFile,         // FILE.wav
    kVisActionStdin,        // -: raw samples on standard input
    kVisActionCapture,      // --capture [--device TEXT]
    kVisActionListDevices,  // --list-devices
};

struct VisCommand {
    VisAction action;
    VisMode mode;
    bool print;
    uint32_t delayMs;
    PcmFormat raw;       // with -: --format, --rate, --channels (s16le, 44100, 2)
    const char* path;    // with a file: its name, from argv
    const char* device;  // with --capture: part of the endpoint's name, or nullptr
};

// Reads the arguments that follow the program name. Returns false on a usage
// error, with a message in error (at most kUsageErrorMax bytes with its NUL)
// that says what is wrong and what to give instead.
bool ParseVisArguments(int argc, const char* const* argv, VisCommand* command, char* error);

// The engine's settings for a command that reads audio: a WAV for a file,
// raw samples of command.raw otherwise (for capture, the caller puts the
// device's format into raw first); --print or the pipe.
VisSettings VisSettingsFor(const VisCommand& command);
