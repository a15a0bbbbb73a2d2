// Names outside ASCII in the system's code page pass through the Windows
// layer's ANSI calls as the characters they stand for. Runs with code page
// 1251 (Wine started with LC_ALL=ru_RU.UTF-8).
#include <gtest/gtest.h>

#include "platform/win32/registry_win32.h"
#include "platform/win32/shortcuts_win32.h"
#include "platform/win32/win32_file_system.h"
#include "win32/win32_test_folder.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

namespace {

using testing_support::Win32TestFolder;
using testing_support::WriteText;

constexpr const char* kGames = "\xC8\xE3\xF0\xFB";  // "Игры" in code page 1251
constexpr const wchar_t* kGamesWide = L"\u0418\u0433\u0440\u044B";

// The names in `folder` as the system stores them.
std::vector<std::wstring> WideNames(const std::string& folder) {
  std::vector<std::wstring> names;
  wchar_t pattern[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, (folder + "\\*").c_str(), -1, pattern, MAX_PATH);
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(pattern, &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (entry.cFileName[0] != L'.') names.push_back(entry.cFileName);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

TEST(Win32AnsiNamesTest, CodePageNamesSurviveFilesTreesRegistryAndLinks) {
  if (GetACP() != 1251) GTEST_SKIP() << "needs code page 1251: run under Wine with LC_ALL=ru_RU.UTF-8";
  Win32TestFolder folder;
  platform::Win32FileSystem files;
  const std::string games = folder / kGames;
  ASSERT_TRUE(files.MakeDirectory(games));
  ASSERT_TRUE(WriteText(games + "\\" + kGames + ".exe", "MZ"));
  EXPECT_EQ(WideNames(folder.path()), std::vector<std::wstring>{kGamesWide});

  ASSERT_EQ(platform::Win32Shell().CopyTree(games, folder / "copy"), 0);
  EXPECT_EQ(WideNames(folder / "copy"), std::vector<std::wstring>{std::wstring(kGamesWide) + L".exe"});

  platform::Win32Registry registry;
  const std::string key = std::string("Software\\WebsetupTest\\") + kGames;
  ASSERT_EQ(registry.WriteString(platform::Hive::CurrentUser, key, "AppDirectory", games), 0);
  std::string value;
  EXPECT_EQ(registry.ReadString(platform::Hive::CurrentUser, key, "AppDirectory", &value), 0);
  EXPECT_EQ(value, games);
  wchar_t wideValue[MAX_PATH] = {};
  DWORD size = sizeof wideValue;
  wchar_t wideKey[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, key.c_str(), -1, wideKey, MAX_PATH);
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, wideKey, L"AppDirectory", RRF_RT_REG_SZ, nullptr, wideValue, &size),
            ERROR_SUCCESS);
  EXPECT_NE(std::wstring(wideValue).find(kGamesWide), std::wstring::npos);
  (void)registry.DeleteKey(platform::Hive::CurrentUser, key);
  (void)registry.DeleteKey(platform::Hive::CurrentUser, "Software\\WebsetupTest");

  const std::string link = folder / (std::string(kGames) + ".lnk");
  ASSERT_EQ(platform::Win32Shortcuts().CreateShortcut(link, games + "\\" + kGames + ".exe", games, kGames,
                                                      std::nullopt),
            0);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* shellLink = nullptr;
  IPersistFile* file = nullptr;
  wchar_t wideLink[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wideLink, MAX_PATH);
  wchar_t target[MAX_PATH] = {};
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&shellLink))) &&
      SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(wideLink, STGM_READ))) {
    shellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
  }
  if (file) file->Release();
  if (shellLink) shellLink->Release();
  CoUninitialize();
  EXPECT_NE(std::wstring(target).find(std::wstring(kGamesWide) + L"\\" + kGamesWide + L".exe"), std::wstring::npos);
}

}  // namespace
