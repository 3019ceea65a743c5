#include "tools/virtual-lamp/lamp_command.h"

#include <cstdio>
#include <cstring>

#include "lamps/lamp_identity.h"
#include "tools/common/tool_rules.h"

namespace {

const char kIdPrefix[] = "ROOT\\TOLVAREN_VLAMP\\";

// Upper-case hex digits, an optional 0x first, at most four digits.
bool ReadHexId(const char* text, unsigned* value)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    const size_t length = std::strlen(text);
    if (length == 0 || length > 4) return false;
    unsigned number = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        number = number * 16 + static_cast<unsigned>(digit);
    }
    *value = number;
    return true;
}

// How many UTF-16 units the UTF-8 text becomes; -1 when it is not UTF-8.
long Utf16Length(const char* text)
{
    long units = 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    while (*bytes != 0) {
        const unsigned c = *bytes;
        int follow;
        if (c < 0x80) follow = 0;
        else if (c >= 0xC2 && c <= 0xDF) follow = 1;
        else if (c >= 0xE0 && c <= 0xEF) follow = 2;
        else if (c >= 0xF0 && c <= 0xF4) follow = 3;
        else return -1;
        ++bytes;
        for (int i = 0; i < follow; ++i, ++bytes)
            if ((*bytes & 0xC0) != 0x80) return -1;
        units += follow == 3 ? 2 : 1;
    }
    return units;
}

bool ReadText(const char* option, const char* text, char* out, char* error)
{
    const long units = Utf16Length(text);
    if (units < 0) return Fail(error, "%s: the text is not valid UTF-8.", option);
    if (units > kLampTextChars)
        return Fail(error, "%s: a HID string is at most %d characters.", option, kLampTextChars);
    std::snprintf(out, kLampTextBytes, "%s", text);
    return true;
}

// The commands as bits, for what each option goes with.
unsigned VerbBit(LampVerb verb)
{
    return 1u << verb;
}

const unsigned kAddOnly = 1u << kLampVerbAdd;
const unsigned kBehaviour = 1u << kLampVerbAdd | 1u << kLampVerbSet;
const unsigned kWaiting = 1u << kLampVerbAdd | 1u << kLampVerbRemove | 1u << kLampVerbRemoveAll | 1u << kLampVerbPath;
const unsigned kTakesIds = 1u << kLampVerbSet | 1u << kLampVerbRemove | 1u << kLampVerbPath;

typedef bool (*OptionReader)(const char* option, const char* value, LampCommand* command, char* error);

bool ReadId(const char* option, const char* value, LampCommand* command, char* error)
{
    unsigned* id = std::strcmp(option, "--vid") == 0 ? &command->vendorId : &command->productId;
    if (!ReadHexId(value, id)) return Fail(error, "%s takes 1 to 4 hex digits, such as 16C0.", option);
    return true;
}

bool ReadManufacturer(const char* option, const char* value, LampCommand* command, char* error)
{
    return ReadText(option, value, command->manufacturer, error);
}

bool ReadProduct(const char* option, const char* value, LampCommand* command, char* error)
{
    return ReadText(option, value, command->product, error);
}

bool ReadSerial(const char* option, const char* value, LampCommand* command, char* error)
{
    return ReadText(option, value, command->serial, error);
}

bool ReadLog(const char*, const char* value, LampCommand* command, char* error)
{
    if (value[0] == '\0' || std::strlen(value) >= sizeof command->logPath)
        return Fail(error, "--log takes the path of the file to write, at most %d bytes.", kLampPathBytes - 1);
    std::snprintf(command->logPath, sizeof command->logPath, "%s", value);
    return true;
}

bool ReadMilliseconds(const char* option, const char* text, unsigned long* value, char* error)
{
    uint32_t number = 0;
    if (!ParseDecimal(text, 0, kLampMaxDelayMs, &number))
        return Fail(error, "%s takes milliseconds, 0 to %lu.", option, kLampMaxDelayMs);
    *value = number;
    return true;
}

bool ReadDelay(const char* option, const char* value, LampCommand* command, char* error)
{
    command->delayGiven = true;
    return ReadMilliseconds(option, value, &command->delayMs, error);
}

bool ReadTimeout(const char* option, const char* value, LampCommand* command, char* error)
{
    return ReadMilliseconds(option, value, &command->timeoutMs, error);
}

bool ReadReports(const char* option, const char*, LampCommand* command, char*)
{
    command->failReports = std::strcmp(option, "--fail-reports") == 0;
    command->failGiven = true;
    return true;
}

bool ReadNoWait(const char*, const char*, LampCommand* command, char*)
{
    command->timeoutMs = 0;
    return true;
}

struct LampOption {
    const char* name;
    unsigned verbs;  // the commands that take it
    bool takesValue;
    OptionReader read;
};

const LampOption kOptions[] = {
    {"--vid", kAddOnly, true, ReadId},
    {"--pid", kAddOnly, true, ReadId},
    {"--manufacturer", kAddOnly, true, ReadManufacturer},
    {"--product", kAddOnly, true, ReadProduct},
    {"--serial", kAddOnly, true, ReadSerial},
    {"--log", kAddOnly, true, ReadLog},
    {"--delay", kBehaviour, true, ReadDelay},
    {"--fail-reports", kBehaviour, false, ReadReports},
    {"--accept-reports", kBehaviour, false, ReadReports},
    {"--timeout", kWaiting, true, ReadTimeout},
    {"--no-wait", kWaiting, false, ReadNoWait},
};

struct Verb {
    const char* name;
    LampVerb verb;
};

const Verb kVerbs[] = {
    {"install-driver", kLampVerbInstallDriver},
    {"add", kLampVerbAdd},
    {"set", kLampVerbSet},
    {"remove", kLampVerbRemove},
    {"remove-all", kLampVerbRemoveAll},
    {"list", kLampVerbList},
    {"path", kLampVerbPath},
    {"--help", kLampVerbHelp},
    {"-h", kLampVerbHelp},
    {"help", kLampVerbHelp},
};


// An option that takes a value wants it whatever the command, so that a
// missing one is named as such.
const LampOption* FindOption(const char* arg)
{
    for (const LampOption& option : kOptions)
        if (std::strcmp(arg, option.name) == 0) return &option;
    return nullptr;
}

void SetDefaults(LampCommand* command)
{
    std::memset(command, 0, sizeof *command);
    command->verb = kLampVerbHelp;
    command->vendorId = LAMP_VENDOR_ID;
    command->productId = LAMP_PRODUCT_ID;
    std::snprintf(command->manufacturer, sizeof command->manufacturer, "%s", LAMP_MANUFACTURER);
    std::snprintf(command->product, sizeof command->product, "%s", LAMP_PRODUCT);
    command->timeoutMs = kLampDefaultTimeoutMs;
}

bool ReadVerb(const char* arg, LampCommand* command, char* error)
{
    for (const Verb& verb : kVerbs)
        if (std::strcmp(arg, verb.name) == 0) {
            command->verb = verb.verb;
            return true;
        }
    return Fail(error,
                "unknown command \"%.40s\": give install-driver, add, set, remove, remove-all, list or path "
                "(--help explains them).",
                arg);
}

bool ReadLampId(const char* arg, LampCommand* command, char* error)
{
    if (command->idCount == kLampMaxIds) return Fail(error, "at most %d lamps at a time.", kLampMaxIds);
    if (!NormalizeLampId(arg, command->ids[command->idCount], kLampIdBytes))
        return Fail(error,
                    "\"%.40s\" is not a virtual lamp: give its id as add or list print it, such as "
                    "ROOT\\TOLVAREN_VLAMP\\0000, or just its number.",
                    arg);
    ++command->idCount;
    return true;
}

// The arguments after the command, each an option of it (with its value)
// or, for the commands that take lamps, a lamp's id. Returns how many
// arguments it took, 0 on a usage error.
int ReadArgument(int argc, const char* const* argv, int at, LampCommand* command, char* error)
{
    const char* arg = argv[at];
    const unsigned verb = VerbBit(command->verb);
    const LampOption* option = FindOption(arg);
    if (option != nullptr && option->takesValue && at + 1 >= argc) {
        Fail(error, "%s needs a value after it.", arg);
        return 0;
    }
    if (option != nullptr && (option->verbs & verb) != 0)
        return option->read(arg, option->takesValue ? argv[at + 1] : nullptr, command, error)
                   ? (option->takesValue ? 2 : 1)
                   : 0;
    if ((kTakesIds & verb) != 0 && arg[0] != '-') return ReadLampId(arg, command, error) ? 1 : 0;
    Fail(error, "%.40s is not an option of this command (--help lists them).", arg);
    return 0;
}

bool CheckLampCount(const LampCommand& command, char* error)
{
    const unsigned verb = VerbBit(command.verb);
    if ((kTakesIds & verb) != 0 && command.idCount == 0)
        return Fail(error, "give the lamp's id, as add or list print it.");
    if (command.verb == kLampVerbSet && command.idCount > 1) return Fail(error, "set changes one lamp at a time.");
    if (command.verb == kLampVerbPath && command.idCount > 1) return Fail(error, "path takes one lamp.");
    if (command.verb == kLampVerbSet && !command.delayGiven && !command.failGiven)
        return Fail(error, "set needs --delay MS, --fail-reports or --accept-reports.");
    return true;
}

}  // namespace

bool NormalizeLampId(const char* given, char* id, size_t idSize)
{
    const size_t prefixLength = sizeof kIdPrefix - 1;
    const char* number = given;
    bool prefixed = true;
    for (size_t i = 0; i < prefixLength; ++i) {
        char c = given[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kIdPrefix[i]) {
            prefixed = false;
            break;
        }
    }
    if (prefixed) number += prefixLength;
    const size_t digits = std::strlen(number);
    if (digits == 0 || digits > 10) return false;
    unsigned long long value = 0;
    for (size_t i = 0; i < digits; ++i) {
        if (number[i] < '0' || number[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(number[i] - '0');
    }
    if (value > 0xFFFFFFFFull) return false;
    std::snprintf(id, idSize, "%s%04lu", kIdPrefix, static_cast<unsigned long>(value));
    return true;
}

bool ParseLampCommand(int argc, const char* const* argv, LampCommand* command, char* error)
{
    SetDefaults(command);
    if (argc < 1) return true;
    if (!ReadVerb(argv[0], command, error)) return false;
    for (int at = 1; at < argc;) {
        const int taken = ReadArgument(argc, argv, at, command, error);
        if (taken == 0) return false;
        at += taken;
    }
    return CheckLampCount(*command, error);
}
