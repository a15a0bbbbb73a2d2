// The stamping tool, run as the download site runs it: on a copy of a built
// program, then the program is run to see what it reads.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/stamped_parameters.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

using namespace std::string_literals;
using app::StampedSlot;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
namespace fs = std::filesystem;

const std::string kBinDir = WEBSETUP_BIN_DIR;
const std::string kStamp = kBinDir + "/stamp";
const std::string kProbe = kBinDir + "/stamp_probe";
const std::string kInstaller = kBinDir + "/websetup";

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs `args` (no shell) with stdout and stderr caught in files of a
// private folder.
RunResult RunProgram(const std::vector<std::string>& args) {
  TempDir scratch;
  const std::string outPath = scratch / "out", errPath = scratch / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  RunResult result;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << args[0] << ": " << std::strerror(spawned);
    return result;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

RunResult Stamp(const std::string& file, const std::string& key, const std::string& value) {
  return RunProgram({kStamp, file, key, value});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Starts of every place where all ten keys sit at their offsets; found here
// independently of the tool.
std::vector<size_t> BlockStarts(const std::string& bytes) {
  std::vector<size_t> starts;
  for (size_t start = 0; start + app::kStampedBlockSize <= bytes.size(); ++start) {
    bool all = true;
    for (size_t i = 0; i < app::kStampedSlotCount && all; ++i) {
      const app::StampedSlotLayout& slot = app::SlotLayout(static_cast<StampedSlot>(i));
      all = bytes.compare(start + slot.offset, std::strlen(slot.key), slot.key) == 0;
    }
    if (all) starts.push_back(start);
  }
  return starts;
}

// The value area of `slot` and its final zero byte.
std::string SlotArea(const std::string& bytes, size_t blockStart, StampedSlot slot) {
  const app::StampedSlotLayout& layout = app::SlotLayout(slot);
  return bytes.substr(blockStart + layout.offset + std::strlen(layout.key), layout.capacity + 1);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

class StampToolTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kStamp)) << kStamp << " is built with the tests";
    ASSERT_TRUE(fs::exists(kProbe)) << kProbe << " is built with the tests";
    original_ = ReadFile(kProbe);
    const std::vector<size_t> starts = BlockStarts(original_);
    ASSERT_EQ(starts.size(), 1u);
    blockStart_ = starts.front();
    defaults_ = Lines(RunProgram({kProbe}).out);
    ASSERT_EQ(defaults_.size(), app::kStampedSlotCount);
  }

  // A fresh copy of the probe in the test's folder.
  std::string CopyProbe(const std::string& name = "probe") {
    const std::string path = dir / name;
    fs::copy_file(kProbe, path, fs::copy_options::overwrite_existing);
    return path;
  }

  TempDir dir;
  std::string original_;
  size_t blockStart_ = 0;
  std::vector<std::string> defaults_;
};

struct SlotBytesCase {
  StampedSlot slot;
  std::string area;  // value area and final zero as built
  size_t padding;
};

// The block as linked into a program keeps the file format: values with
// their filler, the final zero of each slot and zero padding.
TEST_F(StampToolTest, UnstampedBlockInTheProgramFile) {
  const std::vector<SlotBytesCase> rows = {
      {StampedSlot::Param1, std::string(100, '@') + "\0"s, 3},
      {StampedSlot::AffiliateSub, "tessmark\0"s + std::string(31, ' ') + "\0"s, 0},
      {StampedSlot::Affiliate, "orbelta\0"s + std::string(92, ' ') + "\0"s, 0},
      {StampedSlot::EName, "Quorix\0"s + std::string(13, ' ') + "\0"s, 0},
      {StampedSlot::AName, "Quorix\0"s + std::string(13, ' ') + "\0"s, 0},
      {StampedSlot::Serial, "K7TQ2M9XRB4HZ0WLC8NVJ5PDAE3GY61FSUQ0ZK2M\0"s, 7},
      {StampedSlot::WebDomain, std::string(100, '^') + "\0"s, 0},
      {StampedSlot::AppId, ":::::\0"s, 0},
  };
  for (const SlotBytesCase& row : rows) {
    SCOPED_TRACE(app::SlotLayout(row.slot).key);
    EXPECT_EQ(SlotArea(original_, blockStart_, row.slot), row.area);
    const app::StampedSlotLayout& layout = app::SlotLayout(row.slot);
    const size_t end = blockStart_ + layout.offset + std::strlen(layout.key) + layout.capacity + 1;
    EXPECT_EQ(original_.substr(end, row.padding), std::string(row.padding, '\0'));
  }
}

TEST_F(StampToolTest, StampedNameIsWhatTheProgramReads) {
  const std::string copy = CopyProbe();
  const fs::perms mode = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
  fs::permissions(copy, mode);
  const RunResult stamped = Stamp(copy, "ANAME", "Zentor");
  ASSERT_EQ(stamped.exitCode, 0) << stamped.err;
  EXPECT_EQ(stamped.err, "");
  EXPECT_EQ(fs::status(copy).permissions(), mode);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"probe"});  // no temporary file left

  std::vector<std::string> expected = defaults_;
  expected[static_cast<size_t>(StampedSlot::AName)] = "Zentor";
  EXPECT_EQ(Lines(RunProgram({copy}).out), expected);

  const std::string bytes = ReadFile(copy);
  ASSERT_EQ(bytes.size(), original_.size());
  EXPECT_EQ(BlockStarts(bytes), std::vector<size_t>{blockStart_});
  EXPECT_EQ(SlotArea(bytes, blockStart_, StampedSlot::AName), "Zentor\0"s + std::string(13, ' ') + "\0"s);
  // Nothing outside the value area changed.
  const app::StampedSlotLayout& layout = app::SlotLayout(StampedSlot::AName);
  const size_t areaStart = blockStart_ + layout.offset + std::strlen(layout.key);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i >= areaStart && i < areaStart + layout.capacity) continue;
    ASSERT_EQ(bytes[i], original_[i]) << "offset " << i;
  }
}

struct StampCase {
  const char* key;
  StampedSlot slot;
  std::string value;
};

std::ostream& operator<<(std::ostream& out, const StampCase& c) {
  return out << c.key << "=\"" << c.value << "\"";
}

// One copy stamped slot after slot: each value up to its slot's capacity is
// read back, a later stamp replaces the whole of an earlier value, and the
// other slots keep theirs.
TEST_F(StampToolTest, EverySlotTakesValuesUpToItsCapacity) {
  const std::vector<StampCase> rows = {
      {"PARAM1", StampedSlot::Param1, std::string(100, 'p')},
      {"PARAM1", StampedSlot::Param1, "campaign-7"},  // shorter than the value before it
      {"AFFSD", StampedSlot::AffiliateSub, ""},
      {"AFFILIATE", StampedSlot::Affiliate, "partner site "},  // trailing space is part of the value
      {"ENAME", StampedSlot::EName, std::string(20, 'e')},
      {"ANAME", StampedSlot::AName, "Zentor Online"},
      {"SERIAL", StampedSlot::Serial, std::string(40, '9')},
      {"WEBDOMAIN", StampedSlot::WebDomain, "games.example"},
      {"HELPURL", StampedSlot::HelpUrl, "https://help.example/servlet/help"},
      {"DOMAIN", StampedSlot::Domain, "secure.example"},
      {"APPID", StampedSlot::AppId, "12345"},
  };
  const std::string copy = CopyProbe();
  std::vector<std::string> expected = defaults_;
  for (const StampCase& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row));
    const RunResult stamped = Stamp(copy, row.key, row.value);
    ASSERT_EQ(stamped.exitCode, 0) << stamped.err;
    expected[static_cast<size_t>(row.slot)] = row.value;
    EXPECT_EQ(Lines(RunProgram({copy}).out), expected);
    const std::string bytes = ReadFile(copy);
    EXPECT_EQ(bytes.size(), original_.size());
    EXPECT_EQ(BlockStarts(bytes), std::vector<size_t>{blockStart_});
    const size_t capacity = app::SlotLayout(row.slot).capacity;
    std::string area = row.value;
    if (area.size() < capacity) area += '\0' + std::string(capacity - area.size() - 1, ' ');
    EXPECT_EQ(SlotArea(bytes, blockStart_, row.slot), area + '\0');
  }
}

enum class FileKind { Probe, NoBlock, BlockCutShort, BlockTwice };

struct RefusalCase {
  const char* name;
  FileKind file;
  std::string key;
  std::string value;
  std::string message;  // part of what stderr says
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c) {
  return out << c.name << ": " << c.key << "=\"" << c.value << "\"";
}

TEST_F(StampToolTest, RefusalsLeaveTheFileUntouched) {
  const std::string block = original_.substr(blockStart_, app::kStampedBlockSize);
  const std::vector<RefusalCase> rows = {
      {"ValueOverCapacity", FileKind::Probe, "ANAME", std::string(21, 'x'), "at most 20"},
      {"SerialOverCapacity", FileKind::Probe, "SERIAL", std::string(41, '1'), "at most 40"},
      {"AppIdOverCapacity", FileKind::Probe, "APPID", "123456", "at most 5"},
      {"EmptyAppName", FileKind::Probe, "ANAME", "", "may not be empty"},
      {"EmptyLauncherName", FileKind::Probe, "ENAME", "", "may not be empty"},
      {"AppNameWithSlash", FileKind::Probe, "ANAME", "a/b", "path separators"},
      {"AppNameWithBackslash", FileKind::Probe, "ANAME", "..\\x", "path separators"},
      {"LauncherWithDrive", FileKind::Probe, "ENAME", "C:x", "path separators"},
      {"AppNameWithEscape", FileKind::Probe, "ANAME", "Q\x1b[2J", "control characters"},
      {"AppNameDotDot", FileKind::Probe, "ANAME", "..", "may not be"},
      {"UnknownKey", FileKind::Probe, "NAME", "x", "unknown key"},
      {"KeyWithColon", FileKind::Probe, "ANAME:", "x", "unknown key"},
      {"KeyWithColonAndSpace", FileKind::Probe, "ANAME: ", "x", "unknown key"},
      {"LowerCaseKey", FileKind::Probe, "aname", "x", "unknown key"},
      {"NoBlock", FileKind::NoBlock, "ANAME", "x", "no stamped parameter block"},
      {"BlockCutShort", FileKind::BlockCutShort, "ANAME", "x", "no stamped parameter block"},
      {"BlockTwice", FileKind::BlockTwice, "ANAME", "x", "found 2 times"},
  };
  for (const RefusalCase& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row));
    TempDir folder;
    const std::string path = folder / "target";
    switch (row.file) {
      case FileKind::Probe:
        fs::copy_file(kProbe, path);
        break;
      case FileKind::NoBlock:
        WriteFile(path, "plain bytes with PARAM1: and ANAME: but no block\n");
        break;
      case FileKind::BlockCutShort:
        // The last key is incomplete at the end of the file.
        WriteFile(path, "head" + block.substr(0, 724));
        break;
      case FileKind::BlockTwice:
        WriteFile(path, original_ + block);
        break;
    }
    const std::string before = ReadFile(path);
    const RunResult result = Stamp(path, row.key, row.value);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("left unchanged"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"target"});
  }
}

TEST_F(StampToolTest, MissingFileAndWrongArgumentsAreRefused) {
  const RunResult missing = Stamp(dir / "absent", "ANAME", "x");
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.err.find("absent"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir / "absent"));

  const std::string copy = CopyProbe();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{kStamp}, {kStamp, copy}, {kStamp, copy, "ANAME"}, {kStamp, copy, "ANAME", "a", "b"}}) {
    SCOPED_TRACE(args.size());
    const RunResult result = RunProgram(args);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("usage: stamp <executable> <KEY> <value>"), std::string::npos) << result.err;
  }
  EXPECT_EQ(ReadFile(copy), original_);
}

// The installer itself carries exactly one block, so the tool accepts it.
TEST_F(StampToolTest, InstallerCarriesOneBlock) {
  if (!fs::exists(kInstaller)) GTEST_SKIP() << kInstaller << " is not built in this build folder";
  const std::string copy = dir / "websetup";
  fs::copy_file(kInstaller, copy);
  const std::string before = ReadFile(copy);
  const std::vector<size_t> starts = BlockStarts(before);
  ASSERT_EQ(starts.size(), 1u);

  const RunResult stamped = Stamp(copy, "SERIAL", "SN0001");
  ASSERT_EQ(stamped.exitCode, 0) << stamped.err;
  const std::string after = ReadFile(copy);
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(BlockStarts(after), starts);
  EXPECT_EQ(SlotArea(after, starts.front(), StampedSlot::Serial), "SN0001\0"s + std::string(33, ' ') + "\0"s);
}

}  // namespace
