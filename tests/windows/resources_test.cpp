// Both programs as Explorer and the system see them: the version resource (product SKAV, the
// project's version), the manifest (per-monitor DPI awareness, common controls 6) and the
// application icon, read from the built skav.exe and skav-gui.exe.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Program {
  const wchar_t* path;
  const wchar_t* file_name;
};

const Program kPrograms[] = {
    {SKAV_CLI_PROGRAM, L"skav.exe"},
    {SKAV_GUI_PROGRAM, L"skav-gui.exe"},
};

std::wstring version_text(const std::vector<char>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || length == 0) return {};
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(ProgramResources, TheVersionResourceNamesTheProductAndTheProjectsVersion) {
  for (const Program& program : kPrograms) {
    SCOPED_TRACE(program.file_name);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program.path, &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(program.path, 0, size, info.data()));
    EXPECT_EQ(version_text(info, L"ProductName"), L"SKAV");
    EXPECT_EQ(version_text(info, L"FileVersion"), SKAV_VERSION_TEXT);
    EXPECT_EQ(version_text(info, L"ProductVersion"), SKAV_VERSION_TEXT);
    EXPECT_EQ(version_text(info, L"OriginalFilename"), program.file_name);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(SKAV_VERSION_MAJOR << 16 | SKAV_VERSION_MINOR));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  }
}

TEST(ProgramResources, TheManifestAsksForPerMonitorDpiAndCommonControlsSix) {
  for (const Program& program : kPrograms) {
    SCOPED_TRACE(program.file_name);
    HMODULE module = LoadLibraryExW(program.path, nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no manifest";
    HGLOBAL loaded = LoadResource(module, found);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(module, found));
    for (const char* wanted : {"<dpiAwareness", "PerMonitorV2", "true/pm",
                               "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                               "level=\"asInvoker\""})
      EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;

    HICON icon = static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(128), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    EXPECT_NE(icon, nullptr) << "no application icon";
    ICONINFO info{};
    if (icon != nullptr && GetIconInfo(icon, &info)) {
      BITMAP bitmap{};
      GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
      EXPECT_EQ(bitmap.bmWidth, 32);
      DeleteObject(info.hbmColor);
      DeleteObject(info.hbmMask);
    }
    if (icon != nullptr) DestroyIcon(icon);
    FreeLibrary(module);
  }
}

}  // namespace
