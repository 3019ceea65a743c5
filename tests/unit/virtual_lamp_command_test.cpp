// The virtual lamp controller's command line: what each command takes, and
// that whatever is wrong is refused with a message before anything changes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lamps/lamp_identity.h"
#include "tools/virtual-lamp/lamp_command.h"
#include "usage_test_support.h"

namespace {

bool Parse(const Args& args, LampCommand* command, std::string* error)
{
    return ParseArgs(ParseLampCommand, nullptr, args, command, error);
}

TEST(LampCommand, AddTakesTheLampsSettings)
{
    LampCommand command;
    std::string error;
    ASSERT_TRUE(Parse({"add"}, &command, &error)) << error;
    EXPECT_EQ(command.verb, kLampVerbAdd);
    EXPECT_EQ(command.vendorId, LAMP_VENDOR_ID);
    EXPECT_EQ(command.productId, LAMP_PRODUCT_ID);
    EXPECT_STREQ(command.manufacturer, LAMP_MANUFACTURER);
    EXPECT_STREQ(command.product, LAMP_PRODUCT);
    EXPECT_STREQ(command.serial, "");
    EXPECT_STREQ(command.logPath, "");
    EXPECT_EQ(command.delayMs, 0ul);
    EXPECT_FALSE(command.failReports);
    EXPECT_EQ(command.timeoutMs, kLampDefaultTimeoutMs);

    ASSERT_TRUE(Parse({"add", "--vid", "0x1234", "--pid", "abcd", "--manufacturer", "M\xC3\xBCller & Co",
                       "--product", "", "--serial", "S-1", "--delay", "20000", "--fail-reports", "--log",
                       "/tmp/lamp.log", "--timeout", "500"},
                      &command, &error))
        << error;
    EXPECT_EQ(command.vendorId, 0x1234u);
    EXPECT_EQ(command.productId, 0xABCDu);
    EXPECT_STREQ(command.manufacturer, "M\xC3\xBCller & Co");
    EXPECT_STREQ(command.product, "");
    EXPECT_STREQ(command.serial, "S-1");
    EXPECT_EQ(command.delayMs, 20000ul);
    EXPECT_TRUE(command.failReports);
    EXPECT_STREQ(command.logPath, "/tmp/lamp.log");
    EXPECT_EQ(command.timeoutMs, 500ul);

    ASSERT_TRUE(Parse({"add", "--no-wait"}, &command, &error)) << error;
    EXPECT_EQ(command.timeoutMs, 0ul);
}

TEST(LampCommand, OtherCommandsTakeLampIds)
{
    LampCommand command;
    std::string error;
    ASSERT_TRUE(Parse({"remove", "ROOT\\TOLVAREN_VLAMP\\0003", "root\\tolvaren_vlamp\\12", "7"}, &command, &error))
        << error;
    EXPECT_EQ(command.verb, kLampVerbRemove);
    ASSERT_EQ(command.idCount, 3);
    EXPECT_STREQ(command.ids[0], "ROOT\\TOLVAREN_VLAMP\\0003");
    EXPECT_STREQ(command.ids[1], "ROOT\\TOLVAREN_VLAMP\\0012");
    EXPECT_STREQ(command.ids[2], "ROOT\\TOLVAREN_VLAMP\\0007");

    ASSERT_TRUE(Parse({"set", "2", "--delay", "0", "--accept-reports"}, &command, &error)) << error;
    EXPECT_EQ(command.verb, kLampVerbSet);
    EXPECT_TRUE(command.delayGiven);
    EXPECT_EQ(command.delayMs, 0ul);
    EXPECT_TRUE(command.failGiven);
    EXPECT_FALSE(command.failReports);
    ASSERT_TRUE(Parse({"set", "2", "--fail-reports"}, &command, &error)) << error;
    EXPECT_FALSE(command.delayGiven);
    EXPECT_TRUE(command.failReports);

    ASSERT_TRUE(Parse({"path", "12345", "--timeout", "0"}, &command, &error)) << error;
    EXPECT_STREQ(command.ids[0], "ROOT\\TOLVAREN_VLAMP\\12345");
    EXPECT_EQ(command.timeoutMs, 0ul);

    const struct {
        const char* arg;
        LampVerb verb;
    } plain[] = {{"install-driver", kLampVerbInstallDriver}, {"remove-all", kLampVerbRemoveAll},
                 {"list", kLampVerbList}, {"--help", kLampVerbHelp}};
    for (const auto& c : plain) {
        ASSERT_TRUE(Parse({c.arg}, &command, &error)) << c.arg << ": " << error;
        EXPECT_EQ(command.verb, c.verb) << c.arg;
    }
    ASSERT_TRUE(Parse({}, &command, &error));
    EXPECT_EQ(command.verb, kLampVerbHelp);
}

TEST(LampCommand, RefusesWhatIsWrongWithAMessage)
{
    const RefusedCase cases[] = {
        {{"plug"}, "unknown command"},
        {{"add", "--vid"}, "--vid needs a value"},
        {{"add", "--vid", "12345"}, "1 to 4 hex digits"},
        {{"add", "--pid", "0x"}, "1 to 4 hex digits"},
        {{"add", "--pid", "-1"}, "1 to 4 hex digits"},
        {{"add", "--delay", "600001"}, "0 to 600000"},
        {{"add", "--delay", "1.5"}, "0 to 600000"},
        {{"add", "--delay", "99999999999999999999"}, "0 to 600000"},
        {{"add", "--product", std::string(127, 'p')}, "at most 126"},
        {{"add", "--product", "\xC3("}, "not valid UTF-8"},
        {{"add", "--log", ""}, "--log takes"},
        {{"add", "3"}, "not an option"},
        {{"add", "--bogus"}, "not an option"},
        {{"list", "--delay", "5"}, "not an option"},
        {{"remove"}, "give the lamp's id"},
        {{"remove", "ROOT\\OTHER\\0001"}, "is not a virtual lamp"},
        {{"remove", "ROOT\\TOLVAREN_VLAMP\\"}, "is not a virtual lamp"},
        {{"remove", "ROOT\\TOLVAREN_VLAMP\\1\\2"}, "is not a virtual lamp"},
        {{"remove", "99999999999"}, "is not a virtual lamp"},
        {{"set", "1"}, "set needs"},
        {{"set", "1", "2", "--delay", "5"}, "one lamp at a time"},
        {{"path", "1", "2"}, "path takes one lamp"},
    };
    ExpectRefused(ParseLampCommand, nullptr, cases);
}

TEST(LampCommand, ALongProductOf126CharactersIsTaken)
{
    LampCommand command;
    std::string error;
    // 126 UTF-16 units, each 3 bytes of UTF-8: exactly what the buffer holds.
    std::string text;
    for (int i = 0; i < 126; ++i) text += "\xE2\x82\xAC";
    ASSERT_TRUE(Parse({"add", "--product", text}, &command, &error)) << error;
    EXPECT_EQ(std::string(command.product), text);
    // A character outside the BMP is two units.
    std::string wide(124, 'x');
    EXPECT_TRUE(Parse({"add", "--product", wide + "\xF0\x9F\x92\xA1"}, &command, &error)) << error;
    EXPECT_FALSE(Parse({"add", "--product", wide + "x\xF0\x9F\x92\xA1"}, &command, &error));
}

}  // namespace
