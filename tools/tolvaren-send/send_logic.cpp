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
                    "the text after --line is longer than 255 characters; tolvaren takes "
                    "at most 8, such as --line \">5L00FF\"");
    if (std::strchr(text, '\n') != nullptr)
        return Fail(error,
                    "the text after --line holds a line feed; send several lines with "
                    "\"-\" from standard input instead");
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

const char* LineVerdictWarning(LineVerdict verdict)
{
    switch (verdict) {
    case kLineTaken:
        return nullptr;
    case kLineLeadingBytes:
        return "does not begin with '>'; tolvaren skips the bytes before its '>'";
    case kLineNoMarker:
        return "has no '>', so tolvaren ignores it";
    case kLineTooLong:
        return "is longer than the 8 characters tolvaren takes from its '>' on, so tolvaren "
               "drops it";
    case kLineSplit:
        return "is longer than the 18 bytes tolvaren reads at a time, so tolvaren may lose it";
    }
    return nullptr;
}

bool ParseSendArguments(int argc, const char* const* argv, SendCommand* command, char* error)
{
    std::memset(command, 0, sizeof *command);
    command->linesPerSecond = kDemoRateDefault;
    error[0] = '\0';
    if (argc <= 1)
        return Fail(error,
                    "nothing to do: give a lamp value such as 00FF, or --line TEXT, -, "
                    "--demo or --list");

    bool haveAction = false;
    bool haveCount = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsHelpArgument(arg)) {
            // Help is all that is done, whatever came before it.
            std::memset(command, 0, sizeof *command);
            command->action = kActionHelp;
            command->linesPerSecond = kDemoRateDefault;
            return true;
        }
        if (std::strcmp(arg, "--count") == 0) {
            if (i + 1 >= argc) return Fail(error, "--count needs a number of lines, such as --count 5");
            if (!ParseDecimal(argv[++i], 1, UINT32_MAX, &command->count))
                return FailQuoting(error,
                                   "--count takes a whole number of lines from 1 to 4294967295, "
                                   "not \"%.40s\"",
                                   argv[i]);
            haveCount = true;
            continue;
        }

        if (haveAction)
            return FailQuoting(error,
                               "give only one thing to send (a lamp value, --line, -, --demo or "
                               "--list); \"%.40s\" is one too many",
                               arg);
        haveAction = true;

        if (std::strcmp(arg, "--line") == 0) {
            if (i + 1 >= argc)
                return Fail(error, "--line needs the text of the line, such as --line \">5L00FF\"");
            command->action = kActionLine;
            if (!ParseLineText(argv[++i], command, error)) return false;
        } else if (std::strcmp(arg, "-") == 0) {
            command->action = kActionStdin;
        } else if (std::strcmp(arg, "--demo") == 0) {
            command->action = kActionDemo;
            if (i + 1 < argc && argv[i + 1][0] != '-') {
                uint32_t rate = 0;
                if (!ParseDecimal(argv[++i], 1, kDemoRateMax, &rate))
                    return FailQuoting(error,
                                       "--demo takes a whole number of lines a second from 1 to "
                                       "1000, not \"%.40s\"",
                                       argv[i]);
                command->linesPerSecond = rate;
            }
        } else if (std::strcmp(arg, "--list") == 0) {
            command->action = kActionList;
        } else if (arg[0] == '-') {
            return FailQuoting(error,
                               "unknown option \"%.40s\"; a lamp value is plain hex digits, "
                               "such as 00FF",
                               arg);
        } else {
            command->action = kActionValue;
            command->length = MakeValueLine(arg, command->line);
            if (command->length == 0)
                return FailQuoting(error,
                                   "\"%.40s\" is not a lamp value: give 1 to 5 hexadecimal "
                                   "digits, such as 00FF (upper row) or FF00 (lower row)",
                                   arg);
        }
    }

    if (!haveAction)
        return Fail(error,
                    "--count alone sends nothing; use it with --demo, such as --demo "
                    "--count 30");
    if (haveCount && command->action != kActionDemo)
        return Fail(error, "--count goes with --demo only, such as --demo --count 30");
    return true;
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
