// Files, folder trees, special folders and shell links of the Windows layer,
// run under Wine.
#include <gtest/gtest.h>

#include "platform/win32/system_error_win32.h"
#include "platform/win32/shortcuts_win32.h"
#include "platform/win32/win32_file_system.h"
#include "win32/win32_test_folder.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

namespace {

using platform::SpecialFolder;
using testing_support::ReadText;
using testing_support::Win32TestFolder;
using testing_support::WriteText;

class Win32FilesTest : public ::testing::Test {
 protected:
  Win32TestFolder folder;
  platform::Win32FileSystem files;
  platform::Win32Shell shell;
};

TEST_F(Win32FilesTest, AWriterExcludesReadersAndAReaderExcludesWriters) {
  std::string error;
  auto writer = files.CreateForWrite(folder / "held.bin", &error);
  ASSERT_NE(writer, nullptr) << error;
  EXPECT_EQ(files.OpenForRead(folder / "held.bin", &error), nullptr);
  EXPECT_EQ(platform::LastErrorCode(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(error.empty()) << "the system's text of the sharing violation";
  ASSERT_TRUE(writer->Write("abc", 3));
  ASSERT_TRUE(writer->Close());

  auto reader = files.OpenForRead(folder / "held.bin", &error);
  ASSERT_NE(reader, nullptr) << error;
  EXPECT_NE(files.OpenForRead(folder / "held.bin", &error), nullptr) << "readers share";
  EXPECT_EQ(files.CreateForWrite(folder / "held.bin", &error), nullptr);
  EXPECT_EQ(reader->Size(), 3) << "a refused writer truncates nothing";
}

TEST_F(Win32FilesTest, MoveReplacesAndCopyOverwritesAReadOnlyTarget) {
  ASSERT_TRUE(WriteText(folder / "a.txt", "new"));
  ASSERT_TRUE(WriteText(folder / "b.txt", "old"));
  ASSERT_TRUE(files.MoveOneFile(folder / "a.txt", folder / "b.txt"));
  EXPECT_EQ(ReadText(folder / "b.txt"), "new");
  EXPECT_FALSE(files.Exists(folder / "a.txt"));

  ASSERT_TRUE(WriteText(folder / "locked.txt", "locked"));
  SetFileAttributesA((folder / "locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(files.CopyOneFile(folder / "b.txt", folder / "locked.txt"));
  EXPECT_EQ(ReadText(folder / "locked.txt"), "new");
  EXPECT_FALSE(files.CopyOneFile(folder / "absent.txt", folder / "c.txt"));
  EXPECT_EQ(platform::LastErrorCode(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Win32FilesTest, FolderQueries) {
  EXPECT_TRUE(files.IsEmptyDirectory(folder.path()));
  ASSERT_TRUE(files.MakeDirectory(folder / "sub"));
  EXPECT_FALSE(files.MakeDirectory(folder / "sub"));
  EXPECT_FALSE(files.IsEmptyDirectory(folder.path()));
  EXPECT_TRUE(files.IsDirectory(folder / "sub"));
  EXPECT_EQ(files.FileSize(folder / "sub"), -1);
  ASSERT_TRUE(WriteText(folder / "sub\\f.txt", "12345"));
  EXPECT_EQ(files.FileSize(folder / "sub\\f.txt"), 5);
  ASSERT_TRUE(files.ChangeCurrentDirectory(folder / "sub"));
  EXPECT_TRUE(files.Exists("f.txt"));
  EXPECT_EQ(files.CurrentDirectory(), folder / "sub");
}

// Copying a folder that holds one entry into a missing target must make the
// target a folder holding that entry (the shell's own copy makes the entry
// the target).
TEST_F(Win32FilesTest, CopyTreeOfOneEntryIntoAMissingTargetMakesTheFolder) {
  ASSERT_TRUE(files.MakeDirectory(folder / "from"));
  ASSERT_TRUE(WriteText(folder / "from\\only.txt", "only"));
  EXPECT_EQ(shell.CopyTree(folder / "from", folder / "to"), 0);
  EXPECT_EQ(ReadText(folder / "to\\only.txt"), "only");
  EXPECT_EQ(ReadText(folder / "from\\only.txt"), "only");
}

TEST_F(Win32FilesTest, MoveTreeMergesAndDeleteTreeEmptiesOrRemoves) {
  for (const char* sub : {"from", "from\\bin", "to", "to\\bin"}) ASSERT_TRUE(files.MakeDirectory(folder / sub));
  ASSERT_TRUE(WriteText(folder / "from\\bin\\game.exe", "v2"));
  ASSERT_TRUE(WriteText(folder / "to\\bin\\game.exe", "v1"));
  SetFileAttributesA((folder / "to\\bin\\game.exe").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(WriteText(folder / "to\\keep.txt", "keep"));

  EXPECT_EQ(shell.MoveTree(folder / "from", folder / "to"), 0);
  EXPECT_EQ(ReadText(folder / "to\\bin\\game.exe"), "v2");
  EXPECT_EQ(ReadText(folder / "to\\keep.txt"), "keep");
  EXPECT_FALSE(files.Exists(folder / "from\\bin"));

  SetFileAttributesA((folder / "to\\keep.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(shell.DeleteTree(folder / "to", true), 0);
  EXPECT_TRUE(files.IsEmptyDirectory(folder / "to"));
  ASSERT_TRUE(files.MakeDirectory(folder / "to\\cwd"));
  ASSERT_TRUE(files.ChangeCurrentDirectory(folder / "to\\cwd"));
  EXPECT_EQ(shell.DeleteTree(folder / "to", false), 0) << "a current directory inside does not keep the tree";
  EXPECT_FALSE(files.Exists(folder / "to"));
  EXPECT_EQ(files.CurrentDirectory(), folder.path());
  EXPECT_NE(shell.DeleteTree(folder / "to", false), 0) << "a missing tree is an error";
}

struct LinkFields {
  std::string target, workingFolder, description, icon;
};

// Reads a shell link back through the shell's own link object.
std::optional<LinkFields> ReadLink(const std::string& path) {
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link)))) {
    return std::nullopt;
  }
  std::optional<LinkFields> fields;
  IPersistFile* file = nullptr;
  wchar_t widePath[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(widePath, STGM_READ))) {
    char text[MAX_PATH] = {};
    int iconIndex = 0;
    fields.emplace();
    link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
    fields->target = text;
    link->GetWorkingDirectory(text, MAX_PATH);
    fields->workingFolder = text;
    link->GetDescription(text, MAX_PATH);
    fields->description = text;
    link->GetIconLocation(text, MAX_PATH, &iconIndex);
    fields->icon = text;
  }
  if (file) file->Release();
  link->Release();
  return fields;
}

TEST_F(Win32FilesTest, ShortcutsInTheCommonProgramsAndDesktopFoldersReadBack) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  platform::Win32Shortcuts shortcuts;
  ASSERT_TRUE(WriteText(folder / "Game.exe", "MZ"));
  for (const SpecialFolder special : {SpecialFolder::CommonPrograms, SpecialFolder::CommonDesktop}) {
    const std::string place = shell.SpecialFolderPath(special);
    ASSERT_FALSE(place.empty()) << static_cast<int>(special);
    CreateDirectoryA(place.c_str(), nullptr);
    const std::string link = platform::JoinPath(place, "Websetup Test Game.lnk");
    ASSERT_EQ(shortcuts.CreateShortcut(link, folder / "Game.exe", folder.path(), "Play the game",
                                       std::string(folder / "game.ico")),
              0)
        << platform::LastErrorCode();
    const auto fields = ReadLink(link);
    DeleteFileA(link.c_str());
    ASSERT_TRUE(fields.has_value()) << link;
    EXPECT_EQ(fields->target, folder / "Game.exe");
    EXPECT_EQ(fields->workingFolder, folder.path());
    EXPECT_EQ(fields->description, "Play the game");
    EXPECT_EQ(fields->icon, folder / "game.ico");
    EXPECT_FALSE(files.Exists(link + ".new")) << "no temporary link left";
  }
  EXPECT_EQ(shortcuts.CreateShortcut(folder / "missing\\x.lnk", folder / "Game.exe", folder.path(), "", std::nullopt),
            1);
  EXPECT_NE(platform::LastErrorCode(), 0);
  CoUninitialize();
}

}  // namespace
