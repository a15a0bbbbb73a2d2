#include "platform/posix/shell_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/system_error_posix.h"
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

// Trees moved with MoveTree. Files get fixed times so that two trees built
// one after the other are alike to the nanosecond.
class MoveTreeTest : public ShellPosixTest {
 protected:
  static void Write(const std::string& path, const std::string& content, mode_t mode = 0644) {
    WriteFile(path, content);
    chmod(path.c_str(), mode);
    const struct timespec times[2] = {{1600000000, 123456789}, {1500000000, 987654321}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }

  // Every entry below `root` by relative path: type, mode, and content, link
  // target or the file's modification time.
  static std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    std::function<void(const std::string&)> walk = [&](const std::string& relative) {
      for (const auto& item : std::filesystem::directory_iterator(root + "/" + relative)) {
        const std::string name =
            relative.empty() ? item.path().filename().string() : relative + "/" + item.path().filename().string();
        struct stat st;
        ASSERT_EQ(0, lstat(item.path().c_str(), &st)) << name;
        std::string text = std::to_string(st.st_mode & 07777) + " ";
        if (S_ISLNK(st.st_mode)) {
          text += "link " + std::filesystem::read_symlink(item.path()).string();
        } else if (S_ISDIR(st.st_mode)) {
          text += "folder";
          walk(name);
        } else {
          text += "file " + ReadFile(item.path()) + " mtime " + std::to_string(st.st_mtim.tv_sec) + "." +
                  std::to_string(st.st_mtim.tv_nsec);
        }
        entries[name] = text;
      }
    };
    walk("");
    return entries;
  }
};

TEST_F(MoveTreeTest, MergesNestedFoldersReplacesFilesAndKeepsModesAndTimes) {
  Write(tree_ / "update/Salon.exe", "new program", 0755);
  Write(tree_ / "update/cfg/lang.cfg", "short", 0600);
  Write(tree_ / "update/qrx/a/b/c.qrx", "deep");
  MakeFolder(tree_ / "update/empty");
  Write(tree_ / "install/cfg/lang.cfg", "a much longer old language file", 0444);
  Write(tree_ / "install/cfg/ovl.cfg", "record stays");
  Write(tree_ / "install/qrx/a/old.qrx", "old movie stays");

  EXPECT_EQ(0, shell_.MoveTree(tree_ / "update", tree_ / "install"));

  EXPECT_EQ("new program", ReadFile(tree_ / "install/Salon.exe"));
  EXPECT_EQ(0755u, ModeOf(tree_ / "install/Salon.exe"));
  EXPECT_EQ("short", ReadFile(tree_ / "install/cfg/lang.cfg"));
  EXPECT_EQ(0600u, ModeOf(tree_ / "install/cfg/lang.cfg"));
  EXPECT_EQ("record stays", ReadFile(tree_ / "install/cfg/ovl.cfg"));
  EXPECT_EQ("deep", ReadFile(tree_ / "install/qrx/a/b/c.qrx"));
  EXPECT_EQ("old movie stays", ReadFile(tree_ / "install/qrx/a/old.qrx"));
  EXPECT_TRUE(std::filesystem::is_directory(tree_ / "install/empty"));
  struct stat st;
  ASSERT_EQ(0, stat((tree_ / "install/qrx/a/b/c.qrx").c_str(), &st));
  EXPECT_EQ(1500000000, st.st_mtim.tv_sec);
  EXPECT_EQ(987654321, st.st_mtim.tv_nsec);
  // Everything was moved, so the staging folder is left empty.
  EXPECT_TRUE(std::filesystem::is_directory(tree_ / "update"));
  EXPECT_TRUE(std::filesystem::is_empty(tree_ / "update"));
}

TEST_F(MoveTreeTest, LinksMoveAsLinksAndNeverLeadOutOfTheTree) {
  Write(tree_ / "outside/target.txt", "outside");
  Write(tree_ / "outside/folder/inner.txt", "inner");
  Write(tree_ / "update/Salon.exe", "program");
  Write(tree_ / "update/data/file.txt", "data");
  ASSERT_EQ(0, symlink("Salon.exe", (tree_ / "update/alias").c_str()));
  ASSERT_EQ(0, symlink((tree_ / "outside/folder").c_str(), (tree_ / "update/away").c_str()));
  // The destination holds a link where the source has a file, and a link to
  // an outside folder where the source has a folder.
  MakeFolder(tree_ / "install");
  ASSERT_EQ(0, symlink((tree_ / "outside/target.txt").c_str(), (tree_ / "install/Salon.exe").c_str()));
  ASSERT_EQ(0, symlink((tree_ / "outside/folder").c_str(), (tree_ / "install/data").c_str()));

  const int result = shell_.MoveTree(tree_ / "update", tree_ / "install");

  EXPECT_NE(0, result);  // "data" cannot be merged through a link
  EXPECT_EQ("outside", ReadFile(tree_ / "outside/target.txt"));
  EXPECT_FALSE(Exists(tree_ / "outside/folder/file.txt"));
  EXPECT_EQ("inner", ReadFile(tree_ / "outside/folder/inner.txt"));
  EXPECT_FALSE(std::filesystem::is_symlink(tree_ / "install/Salon.exe"));
  EXPECT_EQ("program", ReadFile(tree_ / "install/Salon.exe"));
  ASSERT_TRUE(std::filesystem::is_symlink(tree_ / "install/alias"));
  EXPECT_EQ("Salon.exe", std::filesystem::read_symlink(tree_ / "install/alias").string());
  ASSERT_TRUE(std::filesystem::is_symlink(tree_ / "install/away"));
  EXPECT_EQ(tree_ / "outside/folder", std::filesystem::read_symlink(tree_ / "install/away").string());
  EXPECT_EQ("data", ReadFile(tree_ / "update/data/file.txt"));  // the entry that failed stays put
}

TEST_F(MoveTreeTest, AFailingEntryDoesNotStopTheOthers) {
  Write(tree_ / "update/a.txt", "a");
  Write(tree_ / "update/blocked", "a file where a folder is");
  Write(tree_ / "update/z/z.txt", "z");
  MakeFolder(tree_ / "install/blocked/keep");

  EXPECT_EQ(EISDIR, shell_.MoveTree(tree_ / "update", tree_ / "install"));
  EXPECT_EQ(EISDIR, platform::LastErrorCode());
  EXPECT_EQ("a", ReadFile(tree_ / "install/a.txt"));
  EXPECT_EQ("z", ReadFile(tree_ / "install/z/z.txt"));
  EXPECT_TRUE(std::filesystem::is_directory(tree_ / "install/blocked/keep"));
  EXPECT_EQ("a file where a folder is", ReadFile(tree_ / "update/blocked"));
}

// The staging tree lives inside the installation it is moved over.
TEST_F(MoveTreeTest, StagingFolderInsideTheDestinationIsNotMovedIntoItself) {
  Write(tree_ / "install/Update/Salon.exe", "program");
  Write(tree_ / "install/Update/Update/nested.txt", "nested");
  EXPECT_EQ(ELOOP, shell_.MoveTree(tree_ / "install/Update", tree_ / "install"));
  EXPECT_EQ("program", ReadFile(tree_ / "install/Salon.exe"));
  EXPECT_EQ("nested", ReadFile(tree_ / "install/Update/Update/nested.txt"));

  Write(tree_ / "src/a.txt", "a");
  Write(tree_ / "src/sub/b.txt", "b");
  EXPECT_EQ(0, shell_.MoveTree(tree_ / "src", tree_ / "src/moved"));
  EXPECT_EQ("a", ReadFile(tree_ / "src/moved/a.txt"));
  EXPECT_EQ("b", ReadFile(tree_ / "src/moved/sub/b.txt"));
  EXPECT_FALSE(Exists(tree_ / "src/moved/moved"));
}

TEST_F(MoveTreeTest, MissingSourceOrUnusableDestinationIsAnError) {
  EXPECT_EQ(ENOENT, shell_.MoveTree(tree_ / "none", tree_ / "install"));
  EXPECT_FALSE(Exists(tree_ / "install"));
  Write(tree_ / "update/a.txt", "a");
  Write(tree_ / "file", "x");
  EXPECT_EQ(ENOTDIR, shell_.MoveTree(tree_ / "update", tree_ / "file"));
  EXPECT_EQ(ENOENT, shell_.MoveTree(tree_ / "update", tree_ / "no/parent"));
  EXPECT_EQ("a", ReadFile(tree_ / "update/a.txt"));
}

// The same pair of trees, once copied and once moved, must end alike: same
// entries, types, modes, contents, link targets and file times, and the same
// result code.
TEST_F(MoveTreeTest, EndsInTheSameStateAsCopyTree) {
  struct Row {
    const char* name;
    std::function<void(const std::string& root)> build;  // fills root/update and root/install
  };
  const Row rows[] = {
      {"fresh destination",
       [](const std::string& root) {
         Write(root + "/update/Salon.exe", "program", 0755);
         Write(root + "/update/qrx/a/b/c.qrx", "deep", 0600);
         MakeFolder(root + "/update/empty");
         ASSERT_EQ(0, symlink("../Salon.exe", (root + "/update/qrx/alias").c_str()));
       }},
      {"merge over an earlier installation",
       [](const std::string& root) {
         Write(root + "/update/cfg/lang.cfg", "new", 0640);
         Write(root + "/update/Salon.exe", "program", 0755);
         Write(root + "/update/qrx/new.qrx", "new movie");
         Write(root + "/install/cfg/lang.cfg", "older and longer", 0444);
         Write(root + "/install/cfg/ovl.cfg", "record");
         Write(root + "/install/qrx/old.qrx", "old movie");
         ASSERT_EQ(0, symlink("cfg/ovl.cfg", (root + "/install/Salon.exe").c_str()));
         ASSERT_EQ(0, symlink("Salon.exe", (root + "/update/link-over-file").c_str()));
         Write(root + "/install/link-over-file", "replaced by a link");
       }},
      {"folder modes",
       [](const std::string& root) {
         Write(root + "/update/private/key.dat", "k", 0600);
         chmod((root + "/update/private").c_str(), 0700);
         Write(root + "/update/shared/readme.txt", "r");
         chmod((root + "/update/shared").c_str(), 0555);
         Write(root + "/install/shared/old.txt", "o");
         chmod((root + "/install/shared").c_str(), 0750);
         Write(root + "/update/new-read-only/file.txt", "f");
         chmod((root + "/update/new-read-only").c_str(), 0555);
       }},
      {"failing entries",
       [](const std::string& root) {
         Write(root + "/update/blocked", "file onto a folder");
         MakeFolder(root + "/install/blocked/inner");
         Write(root + "/update/notdir/x.txt", "folder onto a file");
         Write(root + "/install/notdir", "a file");
         Write(root + "/update/fine.txt", "fine");
       }},
      {"staging inside the installation",
       [](const std::string& root) {
         Write(root + "/install/cfg/ovl.cfg", "record");
         Write(root + "/install/Update/Salon.exe", "program", 0755);
         Write(root + "/install/Update/cfg/lang.cfg", "lang");
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir copied;
    TempDir moved;
    row.build(copied.path());
    row.build(moved.path());
    const bool inside = Exists(copied / "install/Update");
    const std::string from = inside ? "install/Update" : "update";
    ASSERT_EQ(Snapshot(copied.path()), Snapshot(moved.path()));

    const int copyResult = shell_.CopyTree(copied / from, copied / "install");
    const int moveResult = shell_.MoveTree(moved / from, moved / "install");

    EXPECT_EQ(copyResult, moveResult);
    std::map<std::string, std::string> afterCopy = Snapshot(copied / "install");
    std::map<std::string, std::string> afterMove = Snapshot(moved / "install");
    if (inside) {
      // The staging folder itself is the worker's to delete; only what it
      // put in place is compared.
      std::erase_if(afterCopy, [](const auto& entry) { return entry.first.rfind("Update", 0) == 0; });
      std::erase_if(afterMove, [](const auto& entry) { return entry.first.rfind("Update", 0) == 0; });
    }
    EXPECT_EQ(afterCopy, afterMove);
    EXPECT_GT(afterMove.size(), 1u);
  }
}

// An entry on another file system cannot be renamed: it is copied instead.
TEST_F(MoveTreeTest, EntriesOnAnotherFileSystemAreCopied) {
  std::string other = "/dev/shm/websetup-move-XXXXXX";
  if (mkdtemp(other.data()) == nullptr) GTEST_SKIP() << "no /dev/shm to stand for another file system";
  struct Cleanup {
    std::string path;
    ~Cleanup() { std::filesystem::remove_all(path); }
  } cleanup{other};
  struct stat here;
  struct stat there;
  ASSERT_EQ(0, stat(tree_.path().c_str(), &here));
  ASSERT_EQ(0, stat(other.c_str(), &there));
  if (here.st_dev == there.st_dev) GTEST_SKIP() << "/dev/shm is on the temporary folder's file system";

  Write(other + "/Salon.exe", "program", 0750);
  Write(other + "/cfg/lang.cfg", "lang");
  ASSERT_EQ(0, symlink("Salon.exe", (other + "/alias").c_str()));
  Write(tree_ / "install/cfg/lang.cfg", "old language file", 0444);

  EXPECT_EQ(0, shell_.MoveTree(other, tree_ / "install"));

  EXPECT_EQ("program", ReadFile(tree_ / "install/Salon.exe"));
  EXPECT_EQ(0750u, ModeOf(tree_ / "install/Salon.exe"));
  EXPECT_EQ("lang", ReadFile(tree_ / "install/cfg/lang.cfg"));
  ASSERT_TRUE(std::filesystem::is_symlink(tree_ / "install/alias"));
  EXPECT_EQ("Salon.exe", std::filesystem::read_symlink(tree_ / "install/alias").string());
}

}  // namespace
