#include "test_files.h"

#include <windows.h>

#include <cstdio>

bool WriteTextFile(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    CloseHandle(file);
    return ok && written == text.size();
}

std::string ReadTextFile(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, NULL) && count > 0) text.append(buffer, count);
    CloseHandle(file);
    return text;
}

std::vector<std::string> ReadTextLines(const std::string& path)
{
    std::vector<std::string> lines;
    const std::string text = ReadTextFile(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const size_t next = end + 1;
        if (end > start && text[end - 1] == '\r') --end;
        lines.push_back(text.substr(start, end - start));
        start = next;
    }
    return lines;
}

std::string MakeTestDirectory(const char* stem)
{
    static int made = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char name[96];
    std::snprintf(name, sizeof name, "%s-%lu-%d", stem, GetCurrentProcessId(), ++made);
    const std::string directory = std::string(temp) + name;
    CreateDirectoryA(directory.c_str(), NULL);
    return directory;
}
