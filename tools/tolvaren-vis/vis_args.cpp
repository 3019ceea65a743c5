#include "tools/tolvaren-vis/vis_args.h"

#include <cstdio>
#include <cstring>


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
    const char* needs;  // the message when the value is missing
};

const OptionRule kValueOptions[] = {
    {"--mode", kGivenMode, "--mode needs spectrum or vu, such as --mode vu"},
    {"--delay", kGivenDelay, "--delay needs milliseconds from 0 to 500, such as --delay 150"},
    {"--format", kGivenFormat, "--format needs s16le or f32le, such as --format f32le"},
    {"--rate", kGivenRate, "--rate needs samples a second, such as --rate 48000"},
    {"--channels", kGivenChannels, "--channels needs 1 or 2, such as --channels 1"},
    {"--device", kGivenDevice, "--device needs part of an endpoint's name, such as --device \"Monitor of\""},
};

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
        if (!ParseDecimal(value, 0, kVisDelayMaxMs, &number))
            return Fail(error, "--delay takes a whole number of milliseconds from 0 to 500, not \"%.40s\"",
                               value);
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
        if (!ParseDecimal(value, kPcmRateMin, kPcmRateMax, &number))
            return Fail(error, "--rate takes samples a second from 22050 to 96000, not \"%.40s\"", value);
        command->raw.rate = number;
        return true;
    case kGivenChannels:
        if (!ParseDecimal(value, 1, kPcmChannelsMax, &number))
            return Fail(error, "--channels takes 1 (mono) or 2 (stereo), not \"%.40s\"", value);
        command->raw.channels = number;
        return true;
    case kGivenDevice:
        if (value[0] == '\0')
            return Fail(error, "--device needs part of an endpoint's name, such as --device \"Monitor of\"");
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

}  // namespace

bool ParseVisArguments(int argc, const char* const* argv, VisCommand* command, char* error)
{
    std::memset(command, 0, sizeof *command);
    command->mode = kVisSpectrum;
    command->raw.encoding = kPcmS16;
    command->raw.rate = 44100;
    command->raw.channels = 2;
    error[0] = '\0';
    if (argc <= 1)
        return Fail(error,
                    "nothing to do: give a WAV file, - for raw samples on standard input, --capture "
                    "or --list-devices");

    for (int i = 1; i < argc; ++i)
        if (IsHelpArgument(argv[i])) {
            command->action = kVisActionHelp;
            return true;
        }

    unsigned given = 0;
    bool haveInput = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const OptionRule* rule = FindValueOption(arg);
        if (rule != nullptr) {
            if (i + 1 >= argc) return Fail(error, "%s", rule->needs);
            if ((given & rule->flag) != 0)
                return Fail(error, "%.40s is given twice; give it once", rule->name);
            given |= rule->flag;
            if (!ReadValue(*rule, argv[++i], command, error)) return false;
            continue;
        }
        if (std::strcmp(arg, "--print") == 0) {
            if ((given & kGivenPrint) != 0) return Fail(error, "--print is given twice; give it once");
            given |= kGivenPrint;
            command->print = true;
            continue;
        }

        VisAction action;
        if (std::strcmp(arg, "-") == 0) {
            action = kVisActionStdin;
        } else if (std::strcmp(arg, "--capture") == 0) {
            action = kVisActionCapture;
        } else if (std::strcmp(arg, "--list-devices") == 0) {
            action = kVisActionListDevices;
        } else if (arg[0] == '-') {
            return Fail(error,
                               "unknown option \"%.40s\" (a file whose name begins with - can be given "
                               "as ./NAME)",
                               arg);
        } else if (arg[0] == '\0') {
            return Fail(error, "the file name is empty; give a WAV file such as music.wav");
        } else {
            action = kVisActionFile;
            command->path = arg;
        }
        if (haveInput)
            return Fail(error,
                               "give only one input (a WAV file, -, --capture or --list-devices); "
                               "\"%.40s\" is one too many",
                               arg);
        haveInput = true;
        command->action = action;
    }

    if (!haveInput)
        return Fail(error,
                    "give what to show: a WAV file, - for raw samples on standard input, or --capture");
    const unsigned rawOptions = kGivenFormat | kGivenRate | kGivenChannels;
    if ((given & rawOptions) != 0 && command->action != kVisActionStdin)
        return Fail(error,
                    "--format, --rate and --channels go with - only: a WAV file and a capture "
                    "device say their own");
    if ((given & kGivenDevice) != 0 && command->action != kVisActionCapture)
        return Fail(error, "--device goes with --capture only, such as --capture --device \"Monitor of\"");
    if (command->action == kVisActionListDevices && (given & (kGivenMode | kGivenDelay | kGivenPrint)) != 0)
        return Fail(error, "--list-devices only lists; --mode, --delay and --print go with an input");
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
