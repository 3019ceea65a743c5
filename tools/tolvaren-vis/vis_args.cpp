#include "tools/tolvaren-vis/vis_args.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

// Options that take a value, each allowed once.
enum Given : unsigned {
    kGivenMode = 1u << 0,
    kGivenDelay = 1u << 1,
    kGivenFormat = 1u << 2,
    kGivenRate = 1u << 3,
    kGivenChannels = 1u << 4,
    kGivenDevice = 1u << 5,
    kGivenPrint = 1u << 6,
};

struct OptionRule {
    const char* name;
    unsigned flag;
    // The message when the value is missing: a format that may give the
    // limits of the option's number, low and high, as %lu.
    const char* needs;
    uint32_t low, high;
};

const OptionRule kValueOptions[] = {
    {"--mode", kGivenMode, "--mode needs spectrum or vu, such as --mode vu", 0, 0},
    {"--delay", kGivenDelay, "--delay needs milliseconds from %lu to %lu, such as --delay 150", 0, kVisDelayMaxMs},
    {"--format", kGivenFormat, "--format needs s16le or f32le, such as --format f32le", 0, 0},
    {"--rate", kGivenRate, "--rate needs samples a second, such as --rate 48000", kPcmRateMin, kPcmRateMax},
    {"--channels", kGivenChannels, "--channels needs 1 or 2, such as --channels 1", 1, kPcmChannelsMax},
    {"--device", kGivenDevice, "--device needs part of an endpoint's name, such as --device \"Monitor of\"", 0, 0},
};

// Options that go with one input only, or with all but one.
struct Combination {
    unsigned options;
    VisAction action;
    bool onlyThere;  // the options go with action only; otherwise never with it
    const char* message;
};

const Combination kCombinations[] = {
    {kGivenFormat | kGivenRate | kGivenChannels, kVisActionStdin, true,
     "--format, --rate and --channels go with - only: a WAV file and a capture device say their own"},
    {kGivenDevice, kVisActionCapture, true, "--device goes with --capture only, such as --capture --device \"Monitor of\""},
    {kGivenMode | kGivenDelay | kGivenPrint, kVisActionListDevices, false,
     "--list-devices only lists; --mode, --delay and --print go with an input"},
};

bool FailNeeds(const OptionRule& rule, char* error)
{
    std::snprintf(error, kUsageErrorMax, rule.needs, static_cast<unsigned long>(rule.low),
                  static_cast<unsigned long>(rule.high));
    return false;
}

// "<option> takes <what> from <low> to <high>, not "<value>"".
bool FailOutOfRange(const OptionRule& rule, const char* takes, const char* value, char* error)
{
    return Fail(error, "%s takes %s from %lu to %lu, not \"%.40s\"", rule.name, takes,
                static_cast<unsigned long>(rule.low), static_cast<unsigned long>(rule.high), value);
}

bool ReadValue(const OptionRule& rule, const char* value, VisCommand* command, char* error)
{
    uint32_t number = 0;
    switch (rule.flag) {
    case kGivenMode:
        if (std::strcmp(value, "spectrum") == 0)
            command->mode = kVisSpectrum;
        else if (std::strcmp(value, "vu") == 0)
            command->mode = kVisVu;
        else
            return Fail(error, "--mode takes spectrum or vu, not \"%.40s\"", value);
        return true;
    case kGivenDelay:
        if (!ParseDecimal(value, rule.low, rule.high, &number))
            return FailOutOfRange(rule, "a whole number of milliseconds", value, error);
        command->delayMs = number;
        return true;
    case kGivenFormat:
        if (std::strcmp(value, "s16le") == 0)
            command->raw.encoding = kPcmS16;
        else if (std::strcmp(value, "f32le") == 0)
            command->raw.encoding = kPcmF32;
        else
            return Fail(error,
                               "--format takes s16le (16-bit integer) or f32le (32-bit float), not \"%.40s\"",
                               value);
        return true;
    case kGivenRate:
        if (!ParseDecimal(value, rule.low, rule.high, &number))
            return FailOutOfRange(rule, "samples a second", value, error);
        command->raw.rate = number;
        return true;
    case kGivenChannels:
        if (!ParseDecimal(value, rule.low, rule.high, &number))
            return Fail(error, "--channels takes 1 (mono) or 2 (stereo), not \"%.40s\"", value);
        command->raw.channels = number;
        return true;
    case kGivenDevice:
        if (value[0] == '\0') return FailNeeds(rule, error);
        command->device = value;
        return true;
    }
    return false;
}

const OptionRule* FindValueOption(const char* arg)
{
    for (const OptionRule& rule : kValueOptions)
        if (std::strcmp(arg, rule.name) == 0) return &rule;
    return nullptr;
}

void StartCommand(VisCommand* command, char* error)
{
    std::memset(command, 0, sizeof *command);
    command->mode = kVisSpectrum;
    command->raw.encoding = kPcmS16;
    command->raw.rate = kVisRawRateDefault;
    command->raw.channels = kVisRawChannelsDefault;
    error[0] = '\0';
}

// --help anywhere wins over everything else on the line.
bool AsksForHelp(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i)
        if (IsHelpArgument(argv[i])) return true;
    return false;
}

bool GiveOnce(unsigned flag, const char* name, unsigned* given, char* error)
{
    if ((*given & flag) != 0) return Fail(error, "%.40s is given twice; give it once", name);
    *given |= flag;
    return true;
}

// An argument that is no option: the one input, by its word or as a file.
bool ReadInput(const char* arg, bool* haveInput, VisCommand* command, char* error)
{
    VisAction action = kVisActionFile;
    if (std::strcmp(arg, "-") == 0)
        action = kVisActionStdin;
    else if (std::strcmp(arg, "--capture") == 0)
        action = kVisActionCapture;
    else if (std::strcmp(arg, "--list-devices") == 0)
        action = kVisActionListDevices;
    else if (arg[0] == '-')
        return Fail(error,
                           "unknown option \"%.40s\" (a file whose name begins with - can be given "
                           "as ./NAME)",
                           arg);
    else if (arg[0] == '\0')
        return Fail(error, "the file name is empty; give a WAV file such as music.wav");
    if (*haveInput)
        return Fail(error,
                           "give only one input (a WAV file, -, --capture or --list-devices); "
                           "\"%.40s\" is one too many",
                           arg);
    *haveInput = true;
    command->action = action;
    if (action == kVisActionFile) command->path = arg;
    return true;
}

// What is wrong with the options given for action; nullptr when nothing is.
const char* WrongCombination(unsigned given, VisAction action)
{
    const auto breaks = [given, action](const Combination& rule) {
        return (given & rule.options) != 0 && (action == rule.action) != rule.onlyThere;
    };
    const Combination* rule = std::find_if(std::begin(kCombinations), std::end(kCombinations), breaks);
    return rule == std::end(kCombinations) ? nullptr : rule->message;
}

}  // namespace

bool ParseVisArguments(int argc, const char* const* argv, VisCommand* command, char* error)
{
    StartCommand(command, error);
    if (argc <= 1)
        return Fail(error,
                    "nothing to do: give a WAV file, - for raw samples on standard input, --capture "
                    "or --list-devices");
    if (AsksForHelp(argc, argv)) {
        command->action = kVisActionHelp;
        return true;
    }

    unsigned given = 0;
    bool haveInput = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const OptionRule* rule = FindValueOption(arg);
        if (rule != nullptr) {
            if (i + 1 >= argc) return FailNeeds(*rule, error);
            if (!GiveOnce(rule->flag, rule->name, &given, error) || !ReadValue(*rule, argv[++i], command, error))
                return false;
        } else if (std::strcmp(arg, "--print") == 0) {
            if (!GiveOnce(kGivenPrint, arg, &given, error)) return false;
            command->print = true;
        } else if (!ReadInput(arg, &haveInput, command, error)) {
            return false;
        }
    }
    if (!haveInput)
        return Fail(error, "give what to show: a WAV file, - for raw samples on standard input, or --capture");
    const char* wrong = WrongCombination(given, command->action);
    if (wrong != nullptr) return Fail(error, "%s", wrong);
    return true;
}

VisSettings VisSettingsFor(const VisCommand& command)
{
    VisSettings settings = {};
    settings.mode = command.mode;
    settings.output = command.print ? kVisForPrint : kVisForPipe;
    settings.delayMs = command.delayMs;
    settings.wav = command.action == kVisActionFile;
    settings.raw = command.raw;
    return settings;
}
