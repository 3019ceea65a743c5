#include "sim_device_fixture.h"

#include <cstdio>

namespace {

std::string ReadTextFile(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, NULL) && count > 0) text.append(buffer, count);
    CloseHandle(file);
    return text;
}

}  // namespace

bool WriteTextFile(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    CloseHandle(file);
    return ok && written == text.size();
}

bool NobodyHolds(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

SimDeviceBench::SimDeviceBench()
{
    static int benches = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char name[64];
    std::snprintf(name, sizeof name, "tolvaren-sim-%lu-%d", GetCurrentProcessId(), ++benches);
    directory_ = std::string(temp) + name;
    CreateDirectoryA(directory_.c_str(), NULL);
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
    std::vector<std::string> events;
    const std::string text = ReadTextFile(directory_ + "\\events.log");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        events.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return events;
}

std::vector<std::string> SimDeviceBench::Reports() const
{
    std::vector<std::string> reports;
    for (const std::string& event : Events())
        if (event.compare(0, 7, "report ") == 0) reports.push_back(event.substr(7));
    return reports;
}
