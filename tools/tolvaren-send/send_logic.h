#pragma once

// tolvaren-send's rules, apart from Windows: the command line, the lamp
// lines it makes, the demo pattern, what tolvaren will make of a line, and
// the cutting of standard input into lines.

#include <cstdint>

#include "lamps/lamp_identity.h"
#include "tools/common/tool_rules.h"  // FormatLampLine, kLampLineBytes, kUsageErrorMax

enum : unsigned {
    kSendLineMax = 255,       // characters of a line this program sends, without its line feed
    kLampValueDigitsMax = 5,  // ">5L" and five digits fill tolvaren's 8 characters
    kDemoRateDefault = 10,    // lines a second
    kDemoRateMax = 1000,
    kReceiverChunkBytes = LAMP_PIPE_CHUNK_BYTES,  // tolvaren reads the pipe this many bytes at a time
    kLineWarningBytes = 128,
};

enum SendAction {
    kActionHelp,
    kActionValue,  // VALUE: one lamp command
    kActionLine,   // --line TEXT
    kActionStdin,  // -
    kActionDemo,   // --demo [RATE] [--count N]
    kActionList,   // --list
};

struct SendCommand {
    SendAction action;
    char line[kSendLineMax + 2];  // value and line: the bytes to send, line feed included
    unsigned length;              // bytes in line
    unsigned linesPerSecond;      // demo
    uint32_t count;               // demo: lines to send; 0 means until stopped
};

// Reads the arguments that follow the program name. Returns false on a usage
// error, with a message in error (at most kUsageErrorMax bytes with its NUL)
// that says what is wrong and what to give instead.
bool ParseSendArguments(int argc, const char* const* argv, SendCommand* command, char* error);

// ">5L", the value as given and a line feed. The value is 1 to
// kLampValueDigitsMax hex digits of either case, after an optional "0x" or
// "0X", which is dropped. Returns the line's length, or 0 when the value is
// not one (out is then untouched). out has room for kSendLineMax + 2 bytes.
unsigned MakeValueLine(const char* value, char* out);

// The demo's lamps at a step: a bar lit from the first lamp that grows to
// all sixteen and shrinks back to one, 30 steps a round.
uint16_t DemoLampValue(uint32_t step);

// What tolvaren will make of a line sent on its own (length bytes, without
// the line feed).
enum LineVerdict {
    kLineTaken,         // shown, and obeyed when a lamp command
    kLineLeadingBytes,  // taken from its '>' on; the bytes before are skipped
    kLineNoMarker,      // no '>': ignored
    kLineTooLong,       // more than 8 characters from its '>': dropped
    kLineSplit,         // longer than one read of tolvaren's: it may be lost or cut
};
LineVerdict JudgeLine(const char* line, unsigned length);

// A warning for a line tolvaren will not take as it is, in text (size
// bytes, kLineWarningBytes is room enough); nullptr for kLineTaken.
const char* LineVerdictWarning(LineVerdict verdict, char* text, unsigned size);

// Cuts a byte stream into lines for sending. A line ends at a line feed; a
// carriage return before it is dropped, so text with Windows line ends
// works; empty lines are skipped. A line longer than kSendLineMax is
// reported as too long, without its bytes, and the rest of it is skipped.
struct SplitLine {
    const char* bytes;  // the line and its line feed; nullptr when too long
    unsigned length;    // bytes, line feed included
    uint32_t number;    // 1 for the first line of the stream, empty ones counted
};
typedef bool (*SplitLineSink)(void* context, const SplitLine& line);  // false stops

struct LineSplitter {
    char line[kSendLineMax + 2];
    unsigned length;
    bool tooLong;
    bool stopped;     // a sink said stop; later input is ignored
    uint32_t number;  // lines ended so far
};

void StartLines(LineSplitter* splitter);
// Hands every line that ends in data to sink, in order. Returns false once
// a sink has said stop.
bool SplitLines(LineSplitter* splitter, const char* data, unsigned count, SplitLineSink sink, void* context);
// Hands over a last line that had no line feed, with one added.
bool FinishLines(LineSplitter* splitter, SplitLineSink sink, void* context);
