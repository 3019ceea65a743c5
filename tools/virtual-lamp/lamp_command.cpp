#include "tools/virtual-lamp/lamp_command.h"

#include <cstdio>
#include <cstring>

#include "lamps/lamp_identity.h"

namespace {

const char kIdPrefix[] = "ROOT\\TOLVAREN_VLAMP\\";

bool Fail(char* error, size_t size, const char* format, const char* argument = "")
{
    std::snprintf(error, size, format, argument);
    return false;
}

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

// Decimal digits only, no more than high.
bool ReadMilliseconds(const char* text, unsigned long high, unsigned long* value)
{
    if (*text == '\0' || std::strlen(text) > 10) return false;
    unsigned long long number = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        number = number * 10 + static_cast<unsigned>(*text - '0');
    }
    if (number > high) return false;
    *value = static_cast<unsigned long>(number);
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

bool ReadText(const char* option, const char* text, char* out, char* error, size_t size)
{
    const long units = Utf16Length(text);
    if (units < 0) return Fail(error, size, "%s: the text is not valid UTF-8.", option);
    if (units > 126) return Fail(error, size, "%s: a HID string is at most 126 characters.", option);
    std::snprintf(out, kLampTextBytes, "%s", text);
    return true;
}

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

bool Is(const char* arg, const char* name)
{
    return std::strcmp(arg, name) == 0;
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

bool ParseLampCommand(int argc, const char* const* argv, LampCommand* command, char* error, size_t errorSize)
{
    std::memset(command, 0, sizeof *command);
    command->verb = kLampVerbHelp;
    command->vendorId = LAMP_VENDOR_ID;
    command->productId = LAMP_PRODUCT_ID;
    std::snprintf(command->manufacturer, sizeof command->manufacturer, "%s", LAMP_MANUFACTURER);
    std::snprintf(command->product, sizeof command->product, "%s", LAMP_PRODUCT);
    command->timeoutMs = kLampDefaultTimeoutMs;
    if (argc < 1) return true;

    bool known = false;
    for (const Verb& verb : kVerbs)
        if (Is(argv[0], verb.name)) {
            command->verb = verb.verb;
            known = true;
        }
    if (!known)
        return Fail(error, errorSize,
                    "unknown command \"%.40s\": give install-driver, add, set, remove, remove-all, list "
                    "or path (--help explains them).",
                    argv[0]);

    const LampVerb verb = command->verb;
    const bool takesIds = verb == kLampVerbSet || verb == kLampVerbRemove || verb == kLampVerbPath;
    const bool takesTimeout = verb == kLampVerbAdd || verb == kLampVerbRemove || verb == kLampVerbRemoveAll ||
                              verb == kLampVerbPath;
    const bool takesBehaviour = verb == kLampVerbAdd || verb == kLampVerbSet;

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const bool withValue = Is(arg, "--vid") || Is(arg, "--pid") || Is(arg, "--manufacturer") ||
                               Is(arg, "--product") || Is(arg, "--serial") || Is(arg, "--log") ||
                               Is(arg, "--delay") || Is(arg, "--timeout");
        if (withValue && value == nullptr) return Fail(error, errorSize, "%s needs a value after it.", arg);

        if (verb == kLampVerbAdd && (Is(arg, "--vid") || Is(arg, "--pid"))) {
            if (!ReadHexId(value, Is(arg, "--vid") ? &command->vendorId : &command->productId))
                return Fail(error, errorSize, "%s takes 1 to 4 hex digits, such as 16C0.", arg);
        } else if (verb == kLampVerbAdd && Is(arg, "--manufacturer")) {
            if (!ReadText(arg, value, command->manufacturer, error, errorSize)) return false;
        } else if (verb == kLampVerbAdd && Is(arg, "--product")) {
            if (!ReadText(arg, value, command->product, error, errorSize)) return false;
        } else if (verb == kLampVerbAdd && Is(arg, "--serial")) {
            if (!ReadText(arg, value, command->serial, error, errorSize)) return false;
        } else if (verb == kLampVerbAdd && Is(arg, "--log")) {
            if (value[0] == '\0' || std::strlen(value) >= sizeof command->logPath)
                return Fail(error, errorSize, "--log takes the path of the file to write, at most 1000 bytes.");
            std::snprintf(command->logPath, sizeof command->logPath, "%s", value);
        } else if (takesBehaviour && Is(arg, "--delay")) {
            if (!ReadMilliseconds(value, kLampMaxDelayMs, &command->delayMs))
                return Fail(error, errorSize, "--delay takes milliseconds, 0 to 600000.");
            command->delayGiven = true;
        } else if (takesBehaviour && (Is(arg, "--fail-reports") || Is(arg, "--accept-reports"))) {
            command->failReports = Is(arg, "--fail-reports");
            command->failGiven = true;
            continue;
        } else if (takesTimeout && Is(arg, "--timeout")) {
            if (!ReadMilliseconds(value, kLampMaxDelayMs, &command->timeoutMs))
                return Fail(error, errorSize, "--timeout takes milliseconds, 0 to 600000.");
        } else if (takesTimeout && Is(arg, "--no-wait")) {
            command->timeoutMs = 0;
            continue;
        } else if (takesIds && arg[0] != '-') {
            if (command->idCount == kLampMaxIds) return Fail(error, errorSize, "at most 16 lamps at a time.");
            if (!NormalizeLampId(arg, command->ids[command->idCount], kLampIdBytes))
                return Fail(error, errorSize,
                            "\"%.40s\" is not a virtual lamp: give its id as add or list print it, such as "
                            "ROOT\\TOLVAREN_VLAMP\\0000, or just its number.",
                            arg);
            ++command->idCount;
            continue;
        } else {
            return Fail(error, errorSize, "%.40s is not an option of this command (--help lists them).", arg);
        }
        ++i;
    }

    if (takesIds && command->idCount == 0)
        return Fail(error, errorSize, "give the lamp's id, as add or list print it.");
    if (verb == kLampVerbSet && command->idCount > 1) return Fail(error, errorSize, "set changes one lamp at a time.");
    if (verb == kLampVerbPath && command->idCount > 1) return Fail(error, errorSize, "path takes one lamp.");
    if (verb == kLampVerbSet && !command->delayGiven && !command->failGiven)
        return Fail(error, errorSize, "set needs --delay MS, --fail-reports or --accept-reports.");
    return true;
}
