#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "lamps/lamp_identity.h"

namespace {

struct Ids {
    uint16_t vendorId;
    uint16_t productId;
};

bool operator==(const Ids& a, const Ids& b)
{
    return a.vendorId == b.vendorId && a.productId == b.productId;
}

std::ostream& operator<<(std::ostream& out, const Ids& ids)
{
    return out << std::hex << "VID=" << ids.vendorId << " PID=" << ids.productId;
}

Ids Read(const std::string& commandLine)
{
    std::string buffer = commandLine;
    Ids ids = {LAMP_VENDOR_ID, LAMP_PRODUCT_ID};
    ReadCommandLine(&buffer[0], &ids.vendorId, &ids.productId);
    return ids;
}

struct CommandLineCase {
    const char* commandLine;
    Ids ids;
};

const Ids kDefaults = {LAMP_VENDOR_ID, LAMP_PRODUCT_ID};

const CommandLineCase kCommandLines[] = {
    {"tolvaren.exe", kDefaults},
    {"tolvaren.exe ", kDefaults},
    {"tolvaren.exe -v16c0 -p05DF", kDefaults},
    {"\"C:\\Program Files\\Tolvaren\\tolvaren.exe\" -v1234 -p5678", {0x1234, 0x5678}},
    {"tolvaren.exe /v16C0 /p5DF", kDefaults},
    {"tolvaren.exe -v1234", {0x1234, LAMP_PRODUCT_ID}},
    {"tolvaren.exe -pABCD", {LAMP_VENDOR_ID, 0xABCD}},
    {"tolvaren.exe -v16c0ffff", kDefaults},
    {"tolvaren.exe -v0x1F", {0x1F, LAMP_PRODUCT_ID}},
    {"tolvaren.exe -v5", {0x5, LAMP_PRODUCT_ID}},
    {"tolvaren.exe -V1234 -x1234 v1234 1234 -P1234", kDefaults},
    {"tolvaren.exe -v1 -v2", {0x2, LAMP_PRODUCT_ID}},
    {"tolvaren.exe \"-p1234\"", {LAMP_VENDOR_ID, 0x1234}},
    {"tolvaren.exe \"-p 12\"", {LAMP_VENDOR_ID, 0x12}},
    {"tolvaren.exe -v1\t-p2", {0x1, LAMP_PRODUCT_ID}},
    {"tolvaren.exe -v1 ", {0x1, LAMP_PRODUCT_ID}},
    {"tolvaren.exe \"-v1\" ", kDefaults},
    {"tolvaren.exe \"-v1\" -p2", {0x1, 0x2}},
    {"tolvaren.exe   -v1    -p2  ", {0x1, 0x2}},
    {"tolvaren.exe -v -p", kDefaults},
    {"tolvaren.exe -vzz -p0x", kDefaults},
    {"tolvaren.exe -v-1", {0xFFFF, LAMP_PRODUCT_ID}},
    {"tolvaren.exe -v12345 -p0x12345", {0x1234, 0x12}},
    {"tolvaren.exe - / -- \"\" \"", kDefaults},
    {"tolvaren.exe -v1\"2 -p3\"", {0x1, LAMP_PRODUCT_ID}},  // the quote joins the two
    {"tolvaren.exe\t-v1", kDefaults},             // a tab is not a separator
};

TEST(ReadCommandLine, ReadsVendorAndProductIds)
{
    for (const CommandLineCase& c : kCommandLines)
        EXPECT_EQ(Read(c.commandLine), c.ids) << "command line: " << c.commandLine;
}

TEST(ParseHexId, ReadsAtMostFourCharacters)
{
    struct {
        const char* text;
        int converted;
        uint16_t id;
    } const cases[] = {
        {"16c0ffff", 1, 0x16C0}, {"0x1F", 1, 0x1F}, {"0x1F2", 1, 0x1F}, {"5", 1, 5},
        {"  12", 1, 0x12}, {"    12", 0, 0x7777}, {"", 0, 0x7777}, {"0x", 0, 0x7777},
        {"zz", 0, 0x7777}, {"-1", 1, 0xFFFF}, {"FFFF", 1, 0xFFFF}, {"+0x1", 1, 0x1},
    };
    for (const auto& c : cases) {
        uint16_t id = 0x7777;
        EXPECT_EQ(ParseHexId(c.text, &id), c.converted) << c.text;
        EXPECT_EQ(id, c.id) << c.text;
    }
}

TEST(CommandLineHelpers, UnquoteOnlyWhollyQuotedTokens)
{
    struct {
        const char* token;
        const char* unquoted;
    } const cases[] = {
        {"\"-p1234\"", "-p1234"}, {"\"-p1234\" ", "\"-p1234\" "}, {"-p\"1\"", "-p\"1\""},
        {"\"\"", ""}, {"\"", ""}, {"\"a", "\"a"}, {"", ""},
    };
    for (const auto& c : cases) {
        std::string token = c.token;
        UnquoteArgument(&token[0]);
        EXPECT_STREQ(token.c_str(), c.unquoted) << c.token;
    }
}

TEST(CommandLineHelpers, ArgumentsBeginAfterTheFirstUnquotedSpace)
{
    struct {
        const char* text;
        const char* rest;
    } const cases[] = {
        {"a b c", "b c"}, {"\"a b\" c", "c"}, {"a\tb", ""}, {"a", ""}, {"a ", ""},
        {" a", "a"}, {"\"a b", ""}, {"a\"b c\" d", "d"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_STREQ(SkipToNextArgument(&text[0]), c.rest) << c.text;
    }
}

}  // namespace
