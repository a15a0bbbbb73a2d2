// The confinement check of file-list names and folders, with the rules of
// both systems whichever system runs it, and the check of a whole list.
#include "update/file_list.h"

#include <gtest/gtest.h>

#include <string>

namespace update {
namespace {

using namespace std::string_literals;

TEST(StaysInsideTest, HostileNamesOfEitherSystemAreRefused) {
  struct Row {
    std::string path;
    bool inside;
  };
  const Row rows[] = {
      {"", true},
      {"Salon.exe", true},
      {"bin/tools\\x.dll", true},
      {"./qrx/DlgMsg.qrx", true},
      {"a..b/c.d.e", true},
      {"console.log", true},  // CON only as the whole base name
      {"COM10", true},
      {"LPT0.txt", true},
      {"nulls/x", true},
      {"..", false},
      {"a/../../b", false},
      {"a\\..\\b", false},
      {"/etc/passwd", false},
      {"\\Windows\\x", false},
      {"C:\\Windows\\x", false},
      {"c:x", false},
      {"d:", false},
      {"file.txt:stream", false},
      {"a/b:$DATA", false},
      {"\\\\server\\share\\x", false},
      {"//server/share/x", false},
      {"\\\\?\\C:\\x", false},
      {"\\\\.\\PhysicalDrive0", false},
      {".. /x", false},
      {"... ", false},
      {"a/.. ./b", false},
      {"name.", false},
      {"name ", false},
      {"dir./x", false},
      {"CON", false},
      {"con.txt", false},
      {"x/Prn.log", false},
      {"aux", false},
      {"NUL.tar.gz", false},
      {"COM1", false},
      {"com9.bin", false},
      {"LPT1", false},
      {"lpt9.x", false},
      {"CON .txt", false},
      {"bin/NUL", false},
      {"a\tb", false},
      {"a\rb", false},
      {"esc\x1b]0;title\x07", false},
      {"del\x7f", false},
      {"zero\0byte"s, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(StaysInside(row.path), row.inside) << "path \"" << row.path << "\"";
  }
}

TEST(StaysInsideTest, WorkFoldersAreRecognisedInAnyLetterCase) {
  struct Row {
    const char* path;
    bool work;
  };
  const Row rows[] = {
      {"Update", true},        {"extract/a.dll", true}, {"./UPDATE\\x", true}, {"/Update/x", true},
      {"Updates/x", false},    {"bin/Update", false},   {"", false},           {"Extractor", false},
  };
  for (const Row& row : rows) EXPECT_EQ(InWorkFolder(row.path), row.work) << row.path;
}

TEST(CheckFileListTest, EmptyListsAndPlacesNamedTwiceAreFound) {
  struct Row {
    const char* name;
    std::string list;  // the records of "~fl=|...||"
    bool installs;
    ListFault fault;
    const char* place;
  };
  const Row rows[] = {
      {"one file", "~fn=a.dll~fo=W", true, ListFault::None, ""},
      {"same name in two folders", "~fn=a.dll~fo=W~rd=x|~fn=a.dll~fo=W~rd=y", true, ListFault::None, ""},
      {"deleted then written", "~fn=a.dll~fo=D|~fn=a.dll~fo=W", true, ListFault::None, ""},
      {"archive and its file", "~fn=a.exe~fo=X|~fn=a.exe~fo=W~rd=bin", true, ListFault::None, ""},
      {"nothing at all", "", true, ListFault::NoFiles, ""},
      {"nothing, no installation", "", false, ListFault::None, ""},
      {"only programs and deletions", "~fn=p.exe~fo=R|~fn=old.dll~fo=D|~fn=n~fo=Q", true, ListFault::NoFiles, ""},
      {"written twice", "~fn=a.dll~fo=W|~fn=b~fo=W|~fn=a.dll~fo=W", true, ListFault::NamedTwice, "a.dll"},
      {"letter case and separators", "~fn=A.DLL~fo=W~rd=bin/x|~fn=a.dll~fo=W~rd=.\\Bin\\\\X\\", true,
       ListFault::NamedTwice, ".\\Bin\\\\X\\/a.dll"},
      {"folder in the name", "~fn=bin/a.dll~fo=W|~fn=a.dll~fo=W~rd=bin", true, ListFault::NamedTwice, "bin/a.dll"},
      {"program over a written file", "~fn=setup.exe~fo=W|~fn=setup.exe~fo=R~rd=any", true, ListFault::NamedTwice,
       "setup.exe"},
  };
  for (const Row& row : rows) {
    std::string reply = "~ac=11~fl=|" + row.list + "||";
    const ListCheck check = CheckFileList(ParseFileList(reply).entries, row.installs);
    EXPECT_EQ(check.fault, row.fault) << row.name;
    EXPECT_EQ(check.name, row.place) << row.name;
  }
}

}  // namespace
}  // namespace update
