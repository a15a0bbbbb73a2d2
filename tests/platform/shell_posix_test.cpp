#include "platform/posix/shell_posix.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/system_error.h"
#include "support/temp_dir.h"

namespace {

using platform::PosixShell;
using platform::SpecialFolder;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

void MakeFolder(const std::string& path) { std::filesystem::create_directories(path); }

class ShellPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"}) unsetenv(name);
    setenv("HOME", (tree_ / "home").c_str(), 1);
  }
  void TearDown() override {
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"}) unsetenv(name);
  }

  TempDir tree_;
  PosixShell shell_;
};

TEST_F(ShellPosixTest, SpecialFoldersFollowTheXdgSettings) {
  struct Row {
    const char* name;
    std::optional<std::string> dataHome;
    std::optional<std::string> desktopDir;
    std::optional<std::string> userDirs;  // content of $XDG_CONFIG_HOME/user-dirs.dirs
    std::string programs;                 // expected, relative to the tree
    std::string desktop;
  };
  const Row rows[] = {
      {"defaults", {}, {}, {}, "home/.local/share/applications", "home/Desktop"},
      {"data home set", tree_ / "d/", {}, {}, "d/applications", "home/Desktop"},
      {"relative data home ignored", "rel/data", {}, {}, "home/.local/share/applications", "home/Desktop"},
      {"desktop variable", {}, tree_ / "desk/", {}, "home/.local/share/applications", "desk"},
      {"user-dirs with $HOME", {}, {}, "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Dl\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n",
       "home/.local/share/applications", "home/Schreibtisch"},
      {"user-dirs absolute", {}, {}, "XDG_DESKTOP_DIR=\"" + (tree_ / "abs") + "\"\n", "home/.local/share/applications", "abs"},
      {"user-dirs relative ignored", {}, {}, "XDG_DESKTOP_DIR=\"Desk\"\n", "home/.local/share/applications", "home/Desktop"},
      {"variable wins over user-dirs", {}, tree_ / "desk", "XDG_DESKTOP_DIR=\"$HOME/Other\"\n",
       "home/.local/share/applications", "desk"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    unlink((tree_ / "home/.config/user-dirs.dirs").c_str());
    if (row.dataHome) setenv("XDG_DATA_HOME", row.dataHome->c_str(), 1);
    if (row.desktopDir) setenv("XDG_DESKTOP_DIR", row.desktopDir->c_str(), 1);
    if (row.userDirs) WriteFile(tree_ / "home/.config/user-dirs.dirs", *row.userDirs);
    EXPECT_EQ(tree_ / row.programs, shell_.SpecialFolderPath(SpecialFolder::CommonPrograms));
    EXPECT_EQ(tree_ / row.desktop, shell_.SpecialFolderPath(SpecialFolder::CommonDesktop));
  }
  EXPECT_EQ("", shell_.SpecialFolderPath(static_cast<SpecialFolder>(5)));
}

// A tree with nested folders, a read-only folder, and links that lead out
// of it to a folder and a file that must survive.
class DeleteTreeTest : public ShellPosixTest {
 protected:
  void SetUp() override {
    ShellPosixTest::SetUp();
    WriteFile(tree_ / "outside/keep.txt", "keep");
    WriteFile(tree_ / "install/cfg/ovl.cfg", "record");
    WriteFile(tree_ / "install/qrx/deep/er/file.qrx", "movie");
    WriteFile(tree_ / "install/locked/inner.txt", "x");
    chmod((tree_ / "install/locked").c_str(), 0500);
    ASSERT_EQ(0, symlink((tree_ / "outside").c_str(), (tree_ / "install/link-to-folder").c_str()));
    ASSERT_EQ(0, symlink((tree_ / "outside/keep.txt").c_str(), (tree_ / "install/qrx/link-to-file").c_str()));
  }
  void ExpectOutsideUntouched() {
    EXPECT_EQ("keep", ReadFile(tree_ / "outside/keep.txt"));
  }
};

TEST_F(DeleteTreeTest, ContentsOnlyEmptiesTheFolderAndKeepsIt) {
  EXPECT_EQ(0, shell_.DeleteTree(tree_ / "install", true));
  EXPECT_TRUE(std::filesystem::is_directory(tree_ / "install"));
  EXPECT_TRUE(std::filesystem::is_empty(tree_ / "install"));
  ExpectOutsideUntouched();
}

TEST_F(DeleteTreeTest, WholeTreeGoesButNotWhatItsLinksPointAt) {
  EXPECT_EQ(0, shell_.DeleteTree(tree_ / "install", false));
  EXPECT_FALSE(Exists(tree_ / "install"));
  ExpectOutsideUntouched();
}

TEST_F(DeleteTreeTest, ALinkNamedDirectlyIsRemovedAsALink) {
  ASSERT_EQ(0, symlink((tree_ / "outside").c_str(), (tree_ / "alias").c_str()));
  EXPECT_EQ(ENOTDIR, shell_.DeleteTree(tree_ / "alias", true));
  EXPECT_EQ(0, shell_.DeleteTree(tree_ / "alias", false));
  EXPECT_FALSE(Exists(tree_ / "alias"));
  ExpectOutsideUntouched();
}

TEST_F(DeleteTreeTest, MissingPathIsAnErrorThatChangesNothing) {
  EXPECT_EQ(ENOENT, shell_.DeleteTree(tree_ / "nothing-here", false));
  EXPECT_EQ(ENOENT, platform::LastErrorCode());
  EXPECT_EQ(ENOENT, shell_.DeleteTree(tree_ / "nothing-here", true));
  EXPECT_EQ(ENOENT, shell_.DeleteTree("", false));
  EXPECT_EQ("record", ReadFile(tree_ / "install/cfg/ovl.cfg"));
}

class CopyTreeTest : public ShellPosixTest {};

TEST_F(CopyTreeTest, CopiesNestedFoldersOverwritesFilesAndKeepsModes) {
  WriteFile(tree_ / "update/Salon.exe", "new program");
  chmod((tree_ / "update/Salon.exe").c_str(), 0755);
  WriteFile(tree_ / "update/cfg/lang.cfg", "short");
  chmod((tree_ / "update/cfg/lang.cfg").c_str(), 0600);
  WriteFile(tree_ / "update/qrx/a/b/c.qrx", "deep");
  MakeFolder(tree_ / "update/empty");
  WriteFile(tree_ / "install/cfg/lang.cfg", "a much longer old language file");
  chmod((tree_ / "install/cfg/lang.cfg").c_str(), 0444);
  WriteFile(tree_ / "install/cfg/ovl.cfg", "record stays");

  EXPECT_EQ(0, shell_.CopyTree(tree_ / "update", tree_ / "install"));

  EXPECT_EQ("new program", ReadFile(tree_ / "install/Salon.exe"));
  EXPECT_EQ(0755u, ModeOf(tree_ / "install/Salon.exe"));
  EXPECT_EQ("short", ReadFile(tree_ / "install/cfg/lang.cfg"));
  EXPECT_EQ(0600u, ModeOf(tree_ / "install/cfg/lang.cfg"));
  EXPECT_EQ("deep", ReadFile(tree_ / "install/qrx/a/b/c.qrx"));
  EXPECT_TRUE(std::filesystem::is_directory(tree_ / "install/empty"));
  EXPECT_EQ("record stays", ReadFile(tree_ / "install/cfg/ovl.cfg"));
  EXPECT_EQ("new program", ReadFile(tree_ / "update/Salon.exe"));  // the source stays
}

TEST_F(CopyTreeTest, LinksAreCopiedAsLinksAndNeverWrittenThrough) {
  WriteFile(tree_ / "outside/target.txt", "outside");
  WriteFile(tree_ / "update/Salon.exe", "program");
  ASSERT_EQ(0, symlink("Salon.exe", (tree_ / "update/alias").c_str()));
  // The destination holds a link where the source has a file.
  MakeFolder(tree_ / "install");
  ASSERT_EQ(0, symlink((tree_ / "outside/target.txt").c_str(), (tree_ / "install/Salon.exe").c_str()));

  EXPECT_EQ(0, shell_.CopyTree(tree_ / "update", tree_ / "install"));
  EXPECT_EQ("outside", ReadFile(tree_ / "outside/target.txt"));
  EXPECT_FALSE(std::filesystem::is_symlink(tree_ / "install/Salon.exe"));
  EXPECT_EQ("program", ReadFile(tree_ / "install/Salon.exe"));
  ASSERT_TRUE(std::filesystem::is_symlink(tree_ / "install/alias"));
  EXPECT_EQ("Salon.exe", std::filesystem::read_symlink(tree_ / "install/alias").string());
}

// The staging tree lives inside the installation it is copied over.
TEST_F(CopyTreeTest, StagingFolderInsideTheDestinationIsCopiedOnce) {
  WriteFile(tree_ / "install/Update/Salon.exe", "program");
  WriteFile(tree_ / "install/Update/Update/nested.txt", "nested");
  const int result = shell_.CopyTree(tree_ / "install/Update", tree_ / "install");
  EXPECT_EQ(ELOOP, result);  // the nested "Update" would be the source itself
  EXPECT_EQ("program", ReadFile(tree_ / "install/Salon.exe"));
  EXPECT_EQ("program", ReadFile(tree_ / "install/Update/Salon.exe"));
  EXPECT_EQ("nested", ReadFile(tree_ / "install/Update/Update/nested.txt"));
}

TEST_F(CopyTreeTest, DestinationInsideTheSourceIsNotCopiedIntoItself) {
  WriteFile(tree_ / "src/a.txt", "a");
  WriteFile(tree_ / "src/sub/b.txt", "b");
  EXPECT_EQ(0, shell_.CopyTree(tree_ / "src", tree_ / "src/copy"));
  EXPECT_EQ("a", ReadFile(tree_ / "src/copy/a.txt"));
  EXPECT_EQ("b", ReadFile(tree_ / "src/copy/sub/b.txt"));
  EXPECT_FALSE(Exists(tree_ / "src/copy/copy"));
}

TEST_F(CopyTreeTest, MissingSourceOrUnusableDestinationIsAnError) {
  EXPECT_EQ(ENOENT, shell_.CopyTree(tree_ / "none", tree_ / "install"));
  EXPECT_FALSE(Exists(tree_ / "install"));
  WriteFile(tree_ / "update/a.txt", "a");
  WriteFile(tree_ / "file", "x");
  EXPECT_NE(0, shell_.CopyTree(tree_ / "update", tree_ / "file"));
  EXPECT_EQ(ENOENT, shell_.CopyTree(tree_ / "update", tree_ / "no/parent"));
}

}  // namespace
