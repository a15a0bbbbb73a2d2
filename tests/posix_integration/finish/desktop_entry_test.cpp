#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/posix/shortcuts_posix.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(DesktopEntryTest, ExecQuotesThePathAndEscapesTwice) {
  struct Row {
    std::string program, exec;
  };
  const Row rows[] = {
      {"/opt/q/Quorix.exe", R"("/opt/q/Quorix.exe")"},
      {"/opt/My Games/Quorix.exe", R"("/opt/My Games/Quorix.exe")"},
      {"/opt/$HOME/`x`/Quorix.exe", R"("/opt/\\$HOME/\\`x\\`/Quorix.exe")"},
      {R"(/opt/a"b/Q.exe)", R"("/opt/a\\"b/Q.exe")"},
      {R"(/opt/back\slash/Q.exe)", R"("/opt/back\\\\slash/Q.exe")"},
      {"/opt/100%/Q.exe", R"("/opt/100%%/Q.exe")"},
      {"/opt/~/;|&<>*?#()'/Q.exe", R"("/opt/~/;|&<>*?#()'/Q.exe")"},
  };
  for (const Row& row : rows) EXPECT_EQ(DesktopExecValue(row.program), row.exec) << row.program;
}

TEST(DesktopEntryTest, StringValuesEscapeBreaksBackslashesAndALeadingSpace) {
  struct Row {
    std::string text, stored;
  };
  const Row rows[] = {
      {"Quorix", "Quorix"},
      {" lead and inner space", R"(\slead and inner space)"},
      {"two\nlines\ttab\rcr", R"(two\nlines\ttab\rcr)"},
      {R"(C:\Games)", R"(C:\\Games)"},
      {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(DesktopStringValue(row.text), row.stored) << row.text;
}

TEST(DesktopEntryTest, EntryNamesItselfAfterTheLinkFile) {
  EXPECT_EQ(DesktopEntryText("/m/Quorix/Uninstall.desktop", "/q/Uninstall.exe", "/q", "Quorix", "/q/U.ico"),
            "[Desktop Entry]\nType=Application\nName=Uninstall\nComment=Quorix\nExec=\"/q/Uninstall.exe\"\n"
            "Path=/q\nIcon=/q/U.ico\nTerminal=false\n");
  EXPECT_EQ(DesktopEntryText("/d/Quorix.desktop", "/q/Quorix.exe", "/q", "Quorix", std::nullopt).find("Icon="),
            std::string::npos);
}

TEST(PosixShortcutsTest, WritesAnExecutableEntryReplacingAnOldOneAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string link = dir / "Quorix.desktop";
  WriteFile(link, "old entry");
  PosixShortcuts shortcuts;
  ASSERT_EQ(shortcuts.CreateShortcut(link, "/q/Quorix.exe", "/q", "Quorix", std::string("/q/AppBig.ico")), 0);
  EXPECT_EQ(ReadFile(link), DesktopEntryText(link, "/q/Quorix.exe", "/q", "Quorix", std::string("/q/AppBig.ico")));
  struct stat st {};
  ASSERT_EQ(stat(link.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(PosixShortcutsTest, MissingFolderFailsWithTheSystemsReason) {
  TempDir dir;
  PosixShortcuts shortcuts;
  errno = 0;
  EXPECT_EQ(shortcuts.CreateShortcut(dir / "absent/Quorix.desktop", "/q/Quorix.exe", "/q", "Quorix", std::nullopt), 1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace platform
