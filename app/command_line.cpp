#include "app/command_line.h"

#include "lamps/hex_scan.h"

int ParseHexId(const char* text, uint16_t* id)
{
    char value[5];
    unsigned length = 0;
    while (length < 4 && text[length] != '\0') {
        value[length] = text[length];
        ++length;
    }
    value[length] = '\0';

    uint32_t number = 0;
    const int converted = ScanHexX(value, &number);
    if (converted == 1) *id = static_cast<uint16_t>(number & 0xFFFFu);
    return converted;
}

namespace {

void ApplyOption(const char* token, uint16_t* vendorId, uint16_t* productId)
{
    if (token[0] != '-' && token[0] != '/') return;
    if (token[1] == 'v')
        ParseHexId(token + 2, vendorId);
    else if (token[1] == 'p')
        ParseHexId(token + 2, productId);
}

}  // namespace

void ReadCommandLine(char* commandLine, uint16_t* vendorId, uint16_t* productId)
{
    char* token = SkipToNextArgument(commandLine);
    while (*token != '\0') {
        char* following = SkipToNextArgument(token);
        if (*following != '\0') following[-1] = '\0';
        UnquoteArgument(token);
        ApplyOption(token, vendorId, productId);
        token = following;
    }
}
