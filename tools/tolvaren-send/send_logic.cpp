#include "tools/tolvaren-send/send_logic.h"

#include <cstdio>
#include <cstring>

#include "lamps/lamp_state.h"

namespace {

// The demo bar grows over 16 steps and shrinks over 14, so that neither end
// is shown twice in a row.
const uint32_t kDemoRound = 30;

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool ParseLineText(const char* text, SendCommand* command, char* error)
{
    const size_t length = std::strlen(text);
    if (length > kSendLineMax)
        return Fail(error,
                    "the text after --line is longer than %u characters; tolvaren takes at most %u, such as "
                    "--line \">5L00FF\"",
                    static_cast<unsigned>(kSendLineMax), static_cast<unsigned>(kLampLineMax));
    if (std::strchr(text, '\n') != nullptr)
        return Fail(error,
                    "the text after --line holds a line feed; send several lines with \"-\" from standard input "
                    "instead");
    std::memcpy(command->line, text, length);
    command->line[length] = '\n';
    command->length = static_cast<unsigned>(length) + 1;
    return true;
}

}  // namespace

unsigned MakeValueLine(const char* value, char* out)
{
    if (value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) value += 2;
    unsigned digits = 0;
    while (value[digits] != '\0') {
        if (digits == kLampValueDigitsMax || !IsHexDigit(value[digits])) return 0;
        ++digits;
    }
    if (digits == 0) return 0;
    out[0] = '>';
    out[1] = '5';
    out[2] = 'L';
    std::memcpy(out + 3, value, digits);
    out[3 + digits] = '\n';
    return 4 + digits;
}

uint16_t DemoLampValue(uint32_t step)
{
    const uint32_t phase = step % kDemoRound;
    const uint32_t lit = phase < 16 ? phase + 1 : kDemoRound + 1 - phase;
    return static_cast<uint16_t>((1u << lit) - 1u);
}

LineVerdict JudgeLine(const char* line, unsigned length)
{
    const void* marker = std::memchr(line, '>', length);
    if (marker == nullptr) return kLineNoMarker;
    const unsigned start = static_cast<unsigned>(static_cast<const char*>(marker) - line);
    if (length - start > kLampLineMax) return kLineTooLong;
    if (length + 1 > kReceiverChunkBytes) return kLineSplit;
    if (start > 0) return kLineLeadingBytes;
    return kLineTaken;
}

const char* LineVerdictWarning(LineVerdict verdict, char* text, unsigned size)
{
    switch (verdict) {
    case kLineTaken:
        return nullptr;
    case kLineLeadingBytes:
        std::snprintf(text, size, "does not begin with '>'; tolvaren skips the bytes before its '>'");
        return text;
    case kLineNoMarker:
        std::snprintf(text, size, "has no '>', so tolvaren ignores it");
        return text;
    case kLineTooLong:
        std::snprintf(text, size,
                      "is longer than the %u characters tolvaren takes from its '>' on, so tolvaren drops it",
                      static_cast<unsigned>(kLampLineMax));
        return text;
    case kLineSplit:
        std::snprintf(text, size, "is longer than the %u bytes tolvaren reads at a time, so tolvaren may lose it",
                      static_cast<unsigned>(kReceiverChunkBytes));
        return text;
    }
    return nullptr;
}

namespace {

struct ArgumentsSeen {
    bool action;  // the one thing to send, or --list
    bool count;
};

void SetDefaults(SendCommand* command)
{
    std::memset(command, 0, sizeof *command);
    command->linesPerSecond = kDemoRateDefault;
}

bool ReadCount(int argc, const char* const* argv, int* at, SendCommand* command, char* error)
{
    if (*at + 1 >= argc) return Fail(error, "--count needs a number of lines, such as --count 5");
    const char* value = argv[++*at];
    if (!ParseDecimal(value, 1, UINT32_MAX, &command->count))
        return Fail(error, "--count takes a whole number of lines from 1 to %lu, not \"%.40s\"",
                    static_cast<unsigned long>(UINT32_MAX), value);
    return true;
}

bool ReadLineOption(int argc, const char* const* argv, int* at, SendCommand* command, char* error)
{
    if (*at + 1 >= argc) return Fail(error, "--line needs the text of the line, such as --line \">5L00FF\"");
    return ParseLineText(argv[++*at], command, error);
}

// The rate is optional: what follows --demo is its rate unless it is an
// option.
bool ReadDemoRate(int argc, const char* const* argv, int* at, SendCommand* command, char* error)
{
    if (*at + 1 >= argc || argv[*at + 1][0] == '-') return true;
    const char* value = argv[++*at];
    uint32_t rate = 0;
    if (!ParseDecimal(value, 1, kDemoRateMax, &rate))
        return Fail(error, "--demo takes a whole number of lines a second from 1 to %u, not \"%.40s\"",
                    static_cast<unsigned>(kDemoRateMax), value);
    command->linesPerSecond = rate;
    return true;
}

typedef bool (*ActionReader)(int argc, const char* const* argv, int* at, SendCommand* command, char* error);

struct ActionOption {
    const char* name;
    SendAction action;
    ActionReader read;  // what follows it; nullptr: nothing
};

const ActionOption kActions[] = {
    {"--line", kActionLine, ReadLineOption},
    {"-", kActionStdin, nullptr},
    {"--demo", kActionDemo, ReadDemoRate},
    {"--list", kActionList, nullptr},
};

bool ReadLampValue(const char* arg, SendCommand* command, char* error)
{
    command->action = kActionValue;
    command->length = MakeValueLine(arg, command->line);
    if (command->length != 0) return true;
    return Fail(error,
                "\"%.40s\" is not a lamp value: give 1 to %u hexadecimal digits, such as 00FF (upper row) or "
                "FF00 (lower row)",
                arg, static_cast<unsigned>(kLampValueDigitsMax));
}

// The thing to send: an action option with what follows it, or a lamp
// value.
bool ReadAction(int argc, const char* const* argv, int* at, SendCommand* command, char* error)
{
    const char* arg = argv[*at];
    for (const ActionOption& option : kActions)
        if (std::strcmp(arg, option.name) == 0) {
            command->action = option.action;
            return option.read == nullptr || option.read(argc, argv, at, command, error);
        }
    if (arg[0] == '-')
        return Fail(error, "unknown option \"%.40s\"; a lamp value is plain hex digits, such as 00FF", arg);
    return ReadLampValue(arg, command, error);
}

bool ReadArgument(int argc, const char* const* argv, int* at, SendCommand* command, ArgumentsSeen* seen,
                  char* error)
{
    const char* arg = argv[*at];
    if (std::strcmp(arg, "--count") == 0) {
        seen->count = true;
        return ReadCount(argc, argv, at, command, error);
    }
    if (seen->action)
        return Fail(error,
                    "give only one thing to send (a lamp value, --line, -, --demo or --list); \"%.40s\" is one "
                    "too many",
                    arg);
    seen->action = true;
    return ReadAction(argc, argv, at, command, error);
}

bool CheckCombination(const SendCommand& command, const ArgumentsSeen& seen, char* error)
{
    if (!seen.action)
        return Fail(error, "--count alone sends nothing; use it with --demo, such as --demo --count 30");
    if (seen.count && command.action != kActionDemo)
        return Fail(error, "--count goes with --demo only, such as --demo --count 30");
    return true;
}

}  // namespace

bool ParseSendArguments(int argc, const char* const* argv, SendCommand* command, char* error)
{
    SetDefaults(command);
    error[0] = '\0';
    if (argc <= 1)
        return Fail(error, "nothing to do: give a lamp value such as 00FF, or --line TEXT, -, --demo or --list");

    ArgumentsSeen seen = {false, false};
    for (int at = 1; at < argc; ++at) {
        if (IsHelpArgument(argv[at])) {
            // Help is all that is done, whatever came before it.
            SetDefaults(command);
            command->action = kActionHelp;
            return true;
        }
        if (!ReadArgument(argc, argv, &at, command, &seen, error)) return false;
    }
    return CheckCombination(*command, seen, error);
}

void StartLines(LineSplitter* splitter)
{
    std::memset(splitter, 0, sizeof *splitter);
}

namespace {

bool EndLine(LineSplitter* splitter, SplitLineSink sink, void* context)
{
    SplitLine line = {nullptr, 0, ++splitter->number};
    unsigned length = splitter->length;
    if (length > 0 && splitter->line[length - 1] == '\r') --length;
    const bool tooLong = splitter->tooLong || length > kSendLineMax;
    splitter->length = 0;
    splitter->tooLong = false;

    if (!tooLong) {
        if (length == 0) return true;
        splitter->line[length] = '\n';
        line.bytes = splitter->line;
        line.length = length + 1;
    }
    if (sink(context, line)) return true;
    splitter->stopped = true;
    return false;
}

}  // namespace

bool SplitLines(LineSplitter* splitter, const char* data, unsigned count, SplitLineSink sink, void* context)
{
    for (unsigned i = 0; i < count && !splitter->stopped; ++i) {
        const char byte = data[i];
        if (byte == '\n') {
            EndLine(splitter, sink, context);
        } else if (!splitter->tooLong) {
            // One byte beyond the longest line is kept, for a carriage
            // return that the line feed behind it will drop.
            if (splitter->length == kSendLineMax + 1)
                splitter->tooLong = true;
            else
                splitter->line[splitter->length++] = byte;
        }
    }
    return !splitter->stopped;
}

bool FinishLines(LineSplitter* splitter, SplitLineSink sink, void* context)
{
    if (splitter->stopped) return false;
    if (splitter->length == 0 && !splitter->tooLong) return true;
    return EndLine(splitter, sink, context);
}
