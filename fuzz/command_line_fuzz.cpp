// The command-line reading and ParseHexId on any text, against a model of
// the rules written with strings rather than in-place cuts.
#include <cstring>
#include <vector>

#include "app/command_line.h"
#include "lamps/lamp_identity.h"
#include "fuzz_support.h"

namespace {

const uint16_t kVendorBefore = LAMP_VENDOR_ID;
const uint16_t kProductBefore = LAMP_PRODUCT_ID;

// Where the next argument starts: after the first space outside double
// quotes, or at the end.
size_t NextArgument(const std::string& text, size_t from)
{
    bool quoted = false;
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == ' ' && !quoted) return i + 1;
        if (text[i] == '"') quoted = !quoted;
    }
    return text.size();
}

std::string Unquoted(const std::string& token)
{
    if (token.empty() || token.front() != '"' || token.back() != '"') return token;
    return token.size() == 1 ? std::string() : token.substr(1, token.size() - 2);
}

bool ModelParseHexId(const std::string& text, uint16_t* id)
{
    uint32_t value = 0;
    if (!ReferenceScanHexX(text.substr(0, 4), &value)) return false;
    *id = static_cast<uint16_t>(value);
    return true;
}

void ModelReadCommandLine(const std::string& commandLine, uint16_t* vendorId, uint16_t* productId)
{
    size_t start = NextArgument(commandLine, 0);
    while (start < commandLine.size()) {
        const size_t next = NextArgument(commandLine, start);
        // The separating space is not part of the token; a space that ends
        // the whole text is.
        const size_t end = next < commandLine.size() ? next - 1 : commandLine.size();
        const std::string token = Unquoted(commandLine.substr(start, end - start));
        if (token.size() >= 2 && (token[0] == '-' || token[0] == '/')) {
            if (token[1] == 'v') ModelParseHexId(token.substr(2), vendorId);
            if (token[1] == 'p') ModelParseHexId(token.substr(2), productId);
        }
        start = next;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text = TextUpToNul(data, size);

    // The command line, cut up in place inside a buffer of exactly its size.
    std::vector<char> commandLine(text.begin(), text.end());
    commandLine.push_back('\0');
    uint16_t vendorId = kVendorBefore, productId = kProductBefore;
    ReadCommandLine(commandLine.data(), &vendorId, &productId);

    uint16_t modelVendorId = kVendorBefore, modelProductId = kProductBefore;
    ModelReadCommandLine(text, &modelVendorId, &modelProductId);
    FUZZ_CHECK(vendorId == modelVendorId);
    FUZZ_CHECK(productId == modelProductId);
    // Without a "-v"/"/v" or "-p"/"/p" anywhere the ids cannot have moved.
    if (text.find('v') == std::string::npos) FUZZ_CHECK(vendorId == kVendorBefore);
    if (text.find('p') == std::string::npos) FUZZ_CHECK(productId == kProductBefore);

    // The same text as an option's value.
    std::vector<char> value(text.begin(), text.end());
    value.push_back('\0');
    uint16_t id = 0x7777, modelId = 0x7777;
    const int converted = ParseHexId(value.data(), &id);
    FUZZ_CHECK(converted == (ModelParseHexId(text, &modelId) ? 1 : 0));
    FUZZ_CHECK(id == modelId);
    return 0;
}
