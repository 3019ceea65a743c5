// The virtual lamp itself, as a program sees it through the system's own
// hid.dll and hidclass.sys: its ids and strings, several lamps at once,
// what it records of each report and when. Run under Wine.
#include <gtest/gtest.h>

#include "pipe_session.h"
#include "virtual_lamp_fixture.h"

extern "C" {
#include <hidsdi.h>
}

namespace {

class OpenLamp {
public:
    explicit OpenLamp(const std::string& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL))
    {
    }
    ~OpenLamp()
    {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    OpenLamp(const OpenLamp&) = delete;
    OpenLamp& operator=(const OpenLamp&) = delete;

    bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return handle_; }

    // A device string, or "(none)" when the lamp gives none.
    std::string Text(BOOLEAN(__stdcall* read)(HANDLE, PVOID, ULONG)) const
    {
        WCHAR wide[128] = {0};
        if (!read(handle_, wide, sizeof wide)) return "(none)";
        char text[512] = "";
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, NULL, NULL);
        return text;
    }

private:
    HANDLE handle_;
};

TEST(VirtualLamp, SeveralLampsAtOnceEachWithItsIdsAndStrings)
{
    VirtualLampBench bench;
    VirtualLampSpec other;
    other.vendorId = 0x1234;
    other.productId = 0xABCD;
    other.manufacturer = "M\xC3\xBCller";
    other.product = "";
    other.serial = "S-42";
    const VirtualLampSpec specs[] = {VirtualLampSpec(), VirtualLampSpec(), other};
    for (const VirtualLampSpec& spec : specs) ASSERT_GE(bench.AddLamp(spec), 0) << bench.problem();

    std::vector<std::string> paths;
    for (int lamp = 0; lamp < 3; ++lamp) {
        SCOPED_TRACE(bench.Id(lamp));
        const std::string path = bench.Path(lamp);
        ASSERT_FALSE(path.empty());
        for (const std::string& seen : paths) EXPECT_NE(path, seen);
        paths.push_back(path);

        OpenLamp device(path);
        ASSERT_TRUE(device.open());
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = sizeof attributes;
        ASSERT_TRUE(HidD_GetAttributes(device.handle(), &attributes));
        EXPECT_EQ(attributes.VendorID, specs[lamp].vendorId);
        EXPECT_EQ(attributes.ProductID, specs[lamp].productId);
        EXPECT_EQ(device.Text(HidD_GetManufacturerString), specs[lamp].manufacturer);
        EXPECT_EQ(device.Text(HidD_GetProductString), specs[lamp].product.empty() ? "(none)" : specs[lamp].product);
        // Without one of its own, a lamp's serial number is its number.
        const std::string serial = specs[lamp].serial.empty() ? bench.Id(lamp).substr(bench.Id(lamp).rfind('\\') + 1)
                                                              : specs[lamp].serial;
        EXPECT_EQ(device.Text(HidD_GetSerialNumberString), serial);

        PHIDP_PREPARSED_DATA preparsed = NULL;
        ASSERT_TRUE(HidD_GetPreparsedData(device.handle(), &preparsed));
        HIDP_CAPS caps = {};
        EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(caps.UsagePage, 0xFF00);
        EXPECT_EQ(caps.FeatureReportByteLength, 7);
        EXPECT_EQ(caps.InputReportByteLength, 0);
        HidD_FreePreparsedData(preparsed);
    }

    // One lamp goes; the others stay.
    ASSERT_TRUE(bench.RemoveLamp(1)) << bench.problem();
    EXPECT_EQ(bench.Path(1), "");
    EXPECT_EQ(bench.Path(0), paths[0]);
    EXPECT_EQ(bench.Path(2), paths[2]);
}

TEST(VirtualLamp, RecordsEachReportAsItCameWithTheProgramsClock)
{
    VirtualLampBench bench;
    const int lamp = bench.AddLamp();
    ASSERT_GE(lamp, 0) << bench.problem();
    OpenLamp device(bench.Path(lamp));
    ASSERT_TRUE(device.open());

    BYTE report[7] = {1, 0, 0xFF, 0x00, 0, 0, 0};
    const long long before = Counter();
    ASSERT_TRUE(HidD_SetFeature(device.handle(), report, sizeof report));
    const long long after = Counter();
    // hidclass refuses a buffer shorter than the report, and cuts a longer
    // one to it: the lamp sees seven bytes or nothing.
    EXPECT_FALSE(HidD_SetFeature(device.handle(), report, 6));
    BYTE longer[9] = {1, 0, 0x12, 0x34, 0, 0, 0, 0xEE, 0xEE};
    EXPECT_TRUE(HidD_SetFeature(device.handle(), longer, sizeof longer));
    // The lamp answers GetFeature with the last report it took.
    BYTE back[7] = {1};
    EXPECT_TRUE(HidD_GetFeature(device.handle(), back, sizeof back));
    EXPECT_EQ(std::vector<BYTE>(back, back + 7), std::vector<BYTE>(longer, longer + 7));

    const std::vector<LampReportRecord> records = bench.ReportRecords(lamp);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].report, "7 01 00 FF 00 00 00 00 ok");
    EXPECT_EQ(records[1].report, "7 01 00 12 34 00 00 00 ok");
    EXPECT_GT(records[0].arrived, before);
    EXPECT_LT(records[0].arrived, after);
    EXPECT_EQ(records[0].done, 0);
    EXPECT_LT(records[0].arrived, records[1].arrived);

    // What a present lamp does can be changed for its next reports.
    ASSERT_TRUE(bench.SetFailReports(lamp, true)) << bench.problem();
    EXPECT_FALSE(HidD_SetFeature(device.handle(), report, sizeof report));
    ASSERT_TRUE(bench.SetFailReports(lamp, false)) << bench.problem();
    ASSERT_TRUE(bench.SetDelay(lamp, 200)) << bench.problem();
    const long long slow = Counter();
    EXPECT_TRUE(HidD_SetFeature(device.handle(), report, sizeof report));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    EXPECT_GE((Counter() - slow) * 1000 / frequency.QuadPart, 190);
    EXPECT_EQ(bench.Reports(lamp), (std::vector<std::string>{"7 01 00 FF 00 00 00 00 ok", "7 01 00 12 34 00 00 00 ok",
                                                             "7 01 00 FF 00 00 00 00 refused",
                                                             "7 01 00 FF 00 00 00 00 ok"}));
}

}  // namespace
