#pragma once
// Sets up simulated lamp devices for a test: a fresh directory named by
// TOLVAREN_SIMDEV (inherited by programs the test starts), with the
// interface list, one description file for each device, and the event log
// that the simulated hid.dll and setupapi.dll write.
#include <windows.h>

#include <string>
#include <vector>

#include "lamps/lamp_identity.h"
#include "test_files.h"

struct SimDeviceSpec {
    unsigned vendorId = LAMP_VENDOR_ID;
    unsigned productId = LAMP_PRODUCT_ID;
    std::string manufacturer = LAMP_MANUFACTURER;
    std::string product = LAMP_PRODUCT;
    std::string extra;  // more key=value lines, such as "reports=fail\r\n"
};

class SimDeviceBench {
public:
    SimDeviceBench();
    // Reads back a directory that something else set up and keeps it.
    explicit SimDeviceBench(const std::string& existingDirectory);
    ~SimDeviceBench();

    // Describes a device in a file of its own and lists its path as the
    // next interface. Returns the path.
    std::string AddDevice(const SimDeviceSpec& spec);
    // Describes the device at path anew, as AddDevice did; fails while a
    // program holds it open.
    static bool DescribeDevice(const std::string& path, const SimDeviceSpec& spec);
    // Lists a path as the next interface without any file behind it.
    void AddInterfacePath(const std::string& path);
    // Makes the interface set itself fail.
    void FailInterfaceSet();

    const std::string& directory() const { return directory_; }
    std::vector<std::string> Events() const;
    std::vector<std::string> Reports() const;  // the "report ..." events

private:
    void WriteInterfaces() const;

    std::string directory_;
    std::vector<std::string> interfaces_;
    int devices_ = 0;
    bool owned_ = true;
};

// True when nobody holds the file open: opening it without sharing works.
bool NobodyHolds(const std::string& path);
