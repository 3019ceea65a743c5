// FindHidDevice against the simulated lamp device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hid/hid_finder_win32.h"
#include "sim_device_fixture.h"

namespace {

const char kHoldFlag[] = "--hold-exclusive";

LONG OpenInterfaceSets()
{
    typedef LONG(WINAPI * CountFunction)();
    HMODULE setupapi = GetModuleHandleA("setupapi.dll");
    FARPROC found = setupapi ? GetProcAddress(setupapi, "SimOpenSetCount") : NULL;
    CountFunction count = reinterpret_cast<CountFunction>(reinterpret_cast<void*>(found));
    return count ? count() : -1;
}

DeviceSelector Selector(int32_t checkStrings = 0)
{
    DeviceSelector selector = DefaultDeviceSelector();
    selector.checkStrings = checkStrings;
    return selector;
}

// The device file behind a handle, told apart by exclusive opens: only the
// one held open can't be opened without sharing.
std::string HeldAmong(const std::vector<std::string>& paths)
{
    std::string held;
    for (const std::string& path : paths)
        if (!NobodyHolds(path)) held += (held.empty() ? "" : ",") + path;
    return held;
}

class FindHidDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(OpenInterfaceSets(), -1)
            << "the simulated setupapi.dll is not loaded: run this test through ctest, which gives "
               "the Wine prefix its DLL overrides (tests/wine/wine-up.sh)";
    }

    void TearDown() override { EXPECT_EQ(OpenInterfaceSets(), 0) << "an interface set was not released"; }

    SimDeviceBench bench;
};

TEST_F(FindHidDeviceTest, NoInterfacesGiveNone)
{
    EXPECT_EQ(FindHidDevice(0, 0, Selector()), nullptr);
    EXPECT_EQ(bench.Events(), (std::vector<std::string>{"open-set", "destroy-set"}));
}

TEST_F(FindHidDeviceTest, AnInterfaceSetThatFailsGivesNone)
{
    bench.AddDevice(SimDeviceSpec());
    bench.FailInterfaceSet();
    EXPECT_EQ(FindHidDevice(0, 0, Selector()), nullptr);
    EXPECT_TRUE(bench.Events().empty());
}

TEST_F(FindHidDeviceTest, NthMatchCountsOnlyMatchingDevices)
{
    const std::string first = bench.AddDevice(SimDeviceSpec());
    SimDeviceSpec other;
    other.productId = 0x05DE;
    const std::string between = bench.AddDevice(other);
    const std::string second = bench.AddDevice(SimDeviceSpec());
    const std::vector<std::string> all = {first, between, second};

    HANDLE device = FindHidDevice(0, 0, Selector());
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(HeldAmong(all), first);
    CloseHandle(device);

    device = FindHidDevice(1, 0, Selector());
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(HeldAmong(all), second);
    CloseHandle(device);

    EXPECT_EQ(FindHidDevice(2, 0, Selector()), nullptr);
    EXPECT_EQ(HeldAmong(all), "");
}

TEST_F(FindHidDeviceTest, IdsMustMatchAsWholeValues)
{
    const unsigned ids[][2] = {{0x16C1, 0x05DF}, {0x16C0, 0x15DF}, {0x05DF, 0x16C0}, {0x0000, 0x0000}};
    for (const auto& pair : ids) {
        SimDeviceSpec spec;
        spec.vendorId = pair[0];
        spec.productId = pair[1];
        bench.AddDevice(spec);
    }
    EXPECT_EQ(FindHidDevice(0, 0, Selector()), nullptr);

    DeviceSelector zero = Selector();
    zero.vendorId = 0;
    zero.productId = 0;
    HANDLE device = FindHidDevice(0, 0, zero);
    EXPECT_NE(device, nullptr);
    if (device) CloseHandle(device);
}

TEST_F(FindHidDeviceTest, StringsCountOnlyWhenTheCheckIsOn)
{
    SimDeviceSpec stranger;
    stranger.manufacturer = "Somebody Else";
    stranger.product = "Blinkenlights";
    const std::string strangerPath = bench.AddDevice(stranger);
    SimDeviceSpec sameMaker;
    sameMaker.product = "HID-Glimmerix2";
    bench.AddDevice(sameMaker);
    SimDeviceSpec broken;
    broken.extra = "strings=fail\r\n";
    bench.AddDevice(broken);
    SimDeviceSpec runaway;
    runaway.extra = "strings=unterminated\r\n";
    bench.AddDevice(runaway);

    HANDLE device = FindHidDevice(0, 0, Selector(0));
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(NobodyHolds(strangerPath));
    CloseHandle(device);

    EXPECT_EQ(FindHidDevice(0, 0, Selector(1)), nullptr);

    const std::string genuine = bench.AddDevice(SimDeviceSpec());
    device = FindHidDevice(0, 0, Selector(1));
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(NobodyHolds(genuine));
    CloseHandle(device);
}

TEST_F(FindHidDeviceTest, CandidatesThatFailAreSkipped)
{
    bench.AddInterfacePath(bench.directory() + "\\unplugged");
    SimDeviceSpec mute;
    mute.extra = "attributes=fail\r\n";
    const std::string mutePath = bench.AddDevice(mute);
    const std::string good = bench.AddDevice(SimDeviceSpec());

    HANDLE device = FindHidDevice(0, 0, Selector());
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(HeldAmong({mutePath, good}), good);
    CloseHandle(device);
}

// A path of 259 characters is the longest the 264-byte detail record holds.
TEST_F(FindHidDeviceTest, PathsTooLongForTheDetailRecordAreSkipped)
{
    auto devicePath = [&](size_t length) {
        std::string path = "\\\\?\\" + bench.directory() + "\\dev" + std::to_string(length) + "-";
        path.append(length - path.size(), 'x');
        return path;
    };
    const std::string tooLong = devicePath(260);
    const std::string longest = devicePath(259);
    for (const std::string& path : {tooLong, longest}) {
        ASSERT_TRUE(WriteTextFile(path, "vid=16C0\r\npid=05DF\r\n"));
        bench.AddInterfacePath(path);
    }

    HANDLE device = FindHidDevice(0, 0, Selector());
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(HeldAmong({tooLong, longest}), longest);
    CloseHandle(device);
    EXPECT_EQ(FindHidDevice(1, 0, Selector()), nullptr);
    DeleteFileA(tooLong.c_str());
    DeleteFileA(longest.c_str());
}

// Another program holds the first lamp open without sharing.
TEST_F(FindHidDeviceTest, DeviceHeldExclusivelyElsewhereIsSkipped)
{
    const std::string held = bench.AddDevice(SimDeviceSpec());
    const std::string free = bench.AddDevice(SimDeviceSpec());

    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, "TolvarenTestHoldReady");
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, "TolvarenTestHoldRelease");
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string commandLine = std::string("\"") + self + "\" " + kHoldFlag + " \"" + held + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
    ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);

    HANDLE device = FindHidDevice(0, 0, Selector());
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(NobodyHolds(free));
    CloseHandle(device);
    EXPECT_EQ(FindHidDevice(1, 0, Selector()), nullptr);

    SetEvent(release);
    WaitForSingleObject(process.hProcess, 20000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(ready);
    CloseHandle(release);
    EXPECT_TRUE(NobodyHolds(held));
}

TEST_F(FindHidDeviceTest, FileFlagsReachTheOpen)
{
    bench.AddDevice(SimDeviceSpec());
    HANDLE device = FindHidDevice(0, FILE_FLAG_OVERLAPPED, Selector());
    ASSERT_NE(device, nullptr);
    char byte;
    DWORD count = 0;
    // An overlapped handle refuses a read without an OVERLAPPED record.
    EXPECT_FALSE(ReadFile(device, &byte, 1, &count, NULL));
    CloseHandle(device);
}

// The child side of DeviceHeldExclusivelyElsewhereIsSkipped.
int HoldExclusively(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "TolvarenTestHoldReady");
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "TolvarenTestHoldRelease");
    if (file == INVALID_HANDLE_VALUE || ready == NULL || release == NULL) return 1;
    SetEvent(ready);
    WaitForSingleObject(release, 30000);
    CloseHandle(file);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], kHoldFlag) == 0) return HoldExclusively(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
