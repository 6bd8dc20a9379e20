// The built .exe's version resource and manifest, read back the way Windows (and Explorer's
// Properties > Details) reads them, against the version CMakeLists.txt gives.

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "launch.hpp"

namespace e2e {
namespace {

// The whole version block of a file; empty when it has none.
std::vector<unsigned char> version_block(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        block.clear();
    }
    return block;
}

// One string of the block, in the first language it lists.
std::optional<std::wstring> version_string(std::vector<unsigned char>& block, const wchar_t* name) {
    struct Translation {
        WORD language;
        WORD code_page;
    };
    Translation* translations = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translations), &bytes) ||
        bytes < sizeof(Translation)) {
        return std::nullopt;
    }
    wchar_t query[128];
    swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language,
             translations[0].code_page, name);
    wchar_t* value = nullptr;
    UINT units = 0;
    if (!VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &units) ||
        value == nullptr) {
        return std::nullopt;
    }
    return std::wstring(value);
}

std::wstring widened(const char* text) { return std::wstring(text, text + strlen(text)); }

TEST(WindowsExecutable, VersionResourceCarriesTheProjectVersion) {
    std::vector<unsigned char> block = version_block(tool_path());
    ASSERT_FALSE(block.empty()) << "no version resource in " << narrow(tool_path());

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT bytes = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes));
    ASSERT_GE(bytes, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD high = MAKELONG(ZUL_VERSION_MINOR, ZUL_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, ZUL_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    const struct {
        const wchar_t* name;
        std::wstring expected;
    } strings[] = {
        {L"FileVersion", widened(ZUL_VERSION)},
        {L"ProductVersion", widened(ZUL_VERSION)},
        {L"ProductName", L"zul-process"},
        {L"OriginalFilename", L"zul-process.exe"},
    };
    for (const auto& s : strings) {
        EXPECT_EQ(version_string(block, s.name), s.expected) << narrow(s.name);
    }
    for (const wchar_t* name : {L"FileDescription", L"LegalCopyright"}) {
        const auto value = version_string(block, name);
        ASSERT_TRUE(value.has_value()) << narrow(name);
        EXPECT_NE(value->find(L"zul-process"), std::wstring::npos) << narrow(*value);
    }
}

TEST(WindowsExecutable, ManifestAsksForNoElevationAndNamesWindows7To11) {
    HMODULE image = LoadLibraryExW(tool_path().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << narrow(tool_path());
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no application manifest";
    HGLOBAL loaded = LoadResource(image, found);
    ASSERT_NE(loaded, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(image, found));
    FreeLibrary(image);

    EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos) << manifest;
    for (const char* windows : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",    // 7
                                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",    // 8
                                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",    // 8.1
                                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // 10 and 11
        EXPECT_NE(manifest.find(std::string(R"(<supportedOS Id=")") + windows), std::string::npos)
            << windows;
    }
}

}  // namespace
}  // namespace e2e
