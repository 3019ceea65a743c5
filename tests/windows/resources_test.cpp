// The resources as the built executables carry them, read back with the
// system's own resource and version calls: the string table, the icon and
// the version record, in the 64-bit and the 32-bit program alike.
#include <gtest/gtest.h>

#include "program_driver.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> programs;

#pragma pack(push, 2)
struct IconDirEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconDir {
    WORD reserved, type, count;
    IconDirEntry entries[1];
};
#pragma pack(pop)

class Resources : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        path = GetParam();
        module = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << "can't read " << path << ": build the windows-x64 and windows-x86 presets";
    }
    void TearDown() override
    {
        if (module) FreeLibrary(module);
    }

    const void* Resource(LPCSTR name, LPCSTR type, DWORD* size = nullptr)
    {
        HRSRC found = FindResourceA(module, name, type);
        if (!found) return nullptr;
        if (size) *size = SizeofResource(module, found);
        return LockResource(LoadResource(module, found));
    }

    std::string path;
    HMODULE module = NULL;
};

TEST_P(Resources, StringTableInUsEnglish)
{
    const struct {
        UINT id;
        const char* text;
    } strings[] = {
        {100, "CreateNamedPipe will only work on Windows NT."},
        {101, "Tolvaren Glimmerix (VID=%X, PID=%X)"},
        {102, "Error return code from CreateNamedPipe = %li."},
        {103, "Debug Window"},
    };
    for (const auto& s : strings) {
        char text[256] = {0};
        EXPECT_GT(LoadStringA(module, s.id, text, sizeof text), 0) << s.id;
        EXPECT_STREQ(text, s.text);
    }
    // Strings 96 to 111 share block 7, which is there in US English.
    EXPECT_NE(FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA(7), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              nullptr);
}

TEST_P(Resources, OneIconOf32By32In16Colours)
{
    const IconDir* group = static_cast<const IconDir*>(Resource("NPSERVER", RT_GROUP_ICON));
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->count, 1);
    const IconDirEntry& entry = group->entries[0];
    EXPECT_EQ(entry.width, 32);
    EXPECT_EQ(entry.height, 32);
    EXPECT_EQ(entry.colourCount, 16);
    EXPECT_EQ(entry.bitCount, 4);

    DWORD size = 0;
    const BYTE* image = static_cast<const BYTE*>(Resource(MAKEINTRESOURCEA(entry.id), RT_ICON, &size));
    ASSERT_NE(image, nullptr);
    ASSERT_GE(size, sizeof(BITMAPINFOHEADER) + 16 * 4 + 32 * 16);
    BITMAPINFOHEADER header;
    std::memcpy(&header, image, sizeof header);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 64);  // the image and its mask
    EXPECT_EQ(header.biBitCount, 4);

    // A lamp in the panel's yellow: that colour is in the palette and drawn.
    const RGBQUAD* palette = reinterpret_cast<const RGBQUAD*>(image + header.biSize);
    int yellow = -1;
    for (int i = 0; i < 16; ++i)
        if (palette[i].rgbRed == 255 && palette[i].rgbGreen == 255 && palette[i].rgbBlue == 0) yellow = i;
    ASSERT_GE(yellow, 0);
    const BYTE* pixels = reinterpret_cast<const BYTE*>(palette + 16);
    int yellowPixels = 0;
    for (int i = 0; i < 32 * 16; ++i)
        yellowPixels += ((pixels[i] >> 4) == yellow) + ((pixels[i] & 0x0F) == yellow);
    EXPECT_GT(yellowPixels, 100);
}

std::string VersionString(const std::vector<BYTE>& info, const char* name)
{
    char* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
        return "(none)";
    return value;
}

TEST_P(Resources, VersionRecord)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04E4);

    EXPECT_EQ(VersionString(info, "FileDescription"), "Tolvaren for WinAmp Glimmerix Plugin");
    EXPECT_EQ(VersionString(info, "ProductName"), "Tolvaren for WinAmp Glimmerix Plugin");
    EXPECT_EQ(VersionString(info, "FileVersion"), "Version 1.00");
    EXPECT_EQ(VersionString(info, "ProductVersion"), "Version 1.00");
    EXPECT_EQ(VersionString(info, "OriginalFilename"), "tolvaren.exe");
    for (const char* name : {"CompanyName", "LegalCopyright", "InternalName"})
        EXPECT_NE(VersionString(info, name), "(none)") << name;
}

INSTANTIATE_TEST_SUITE_P(BuiltPrograms, Resources, ::testing::ValuesIn(programs),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.index == 0 ? std::string("x64") : std::string("x86");
                         });

}  // namespace

int main(int argc, char** argv)
{
    // The paths come last; they must be known before the parameterised
    // tests are registered, which InitGoogleTest does.
    if (argc < 3 || argv[argc - 1][0] == '-' || argv[argc - 2][0] == '-') {
        std::fprintf(stderr, "usage: resources_test [GTEST FLAGS] PATH_TO_64BIT_EXE PATH_TO_32BIT_EXE\n");
        return 2;
    }
    programs = {WindowsPath(argv[argc - 2]), WindowsPath(argv[argc - 1])};
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
