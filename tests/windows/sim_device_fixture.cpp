#include "sim_device_fixture.h"

#include <cstdio>

bool NobodyHolds(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

SimDeviceBench::SimDeviceBench()
{
    directory_ = MakeTestDirectory("tolvaren-sim");
    DeleteFileA((directory_ + "\\events.log").c_str());
    WriteInterfaces();
    SetEnvironmentVariableA("TOLVAREN_SIMDEV", directory_.c_str());
}

SimDeviceBench::SimDeviceBench(const std::string& existingDirectory)
    : directory_(existingDirectory), owned_(false)
{
}

SimDeviceBench::~SimDeviceBench()
{
    if (!owned_) return;
    SetEnvironmentVariableA("TOLVAREN_SIMDEV", NULL);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((directory_ + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory_.c_str());
}

std::string SimDeviceBench::AddDevice(const SimDeviceSpec& spec)
{
    const std::string path = directory_ + "\\device" + std::to_string(++devices_);
    DescribeDevice(path, spec);
    AddInterfacePath(path);
    return path;
}

bool SimDeviceBench::DescribeDevice(const std::string& path, const SimDeviceSpec& spec)
{
    char text[512];
    std::snprintf(text, sizeof text, "vid=%04X\r\npid=%04X\r\nmanufacturer=%s\r\nproduct=%s\r\n",
                  spec.vendorId, spec.productId, spec.manufacturer.c_str(), spec.product.c_str());
    return WriteTextFile(path, text + spec.extra);
}

void SimDeviceBench::AddInterfacePath(const std::string& path)
{
    interfaces_.push_back(path);
    WriteInterfaces();
}

void SimDeviceBench::FailInterfaceSet()
{
    interfaces_.insert(interfaces_.begin(), "!fail");
    WriteInterfaces();
}

void SimDeviceBench::WriteInterfaces() const
{
    std::string text;
    for (const std::string& path : interfaces_) text += path + "\r\n";
    WriteTextFile(directory_ + "\\interfaces.txt", text);
}

std::vector<std::string> SimDeviceBench::Events() const
{
    return ReadTextLines(directory_ + "\\events.log");
}

std::vector<std::string> SimDeviceBench::Reports() const
{
    std::vector<std::string> reports;
    for (const std::string& event : Events())
        if (event.compare(0, 7, "report ") == 0) reports.push_back(event.substr(7));
    return reports;
}
