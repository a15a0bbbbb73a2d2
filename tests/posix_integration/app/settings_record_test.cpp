#include "app/settings_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/language_file.h"
#include "platform/posix/posix_file_system.h"
#include "support/temp_dir.h"

namespace app {
namespace {

using namespace std::literals;
using Bytes = SettingsRecord::Bytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// Every byte value, in an order where neighbours differ.
Bytes Pattern() {
  Bytes b{};
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 7 + 3);
  return b;
}

// A record as the client would write it to the file.
std::string FileImage(Bytes memory) {
  NibbleSwapRange(memory);
  return std::string(memory.begin(), memory.end());
}

void PutText(Bytes& record, size_t offset, const std::string& text) {
  std::memcpy(record.data() + offset, text.c_str(), text.size() + 1);
}

std::string TextAt(const Bytes& record, size_t offset) {
  return std::string(reinterpret_cast<const char*>(record.data() + offset));
}

uint32_t Uint32At(const Bytes& record, size_t offset) {
  return static_cast<uint32_t>(record[offset]) | static_cast<uint32_t>(record[offset + 1]) << 8 |
         static_cast<uint32_t>(record[offset + 2]) << 16 | static_cast<uint32_t>(record[offset + 3]) << 24;
}

// Each test runs with a fresh install folder as its current directory, the
// way the installer runs once the folder is prepared.
class SettingsRecordTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::create_directory(dir / "cfg");
    ASSERT_TRUE(files.ChangeCurrentDirectory(dir.path()));
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  std::string FilePath() const { return dir / "cfg/ovl.cfg"; }
  void WriteRecord(const Bytes& memory) { WriteFile(FilePath(), FileImage(memory)); }
  // The record in the file, with the exchanged range turned back.
  Bytes FileRecord() const {
    const std::string image = ReadFile(FilePath());
    EXPECT_EQ(image.size(), kSettingsRecordSize);
    Bytes b{};
    std::copy_n(image.begin(), std::min(image.size(), b.size()), b.begin());
    NibbleSwapRange(b);
    return b;
  }

  TempDir dir;
  platform::PosixFileSystem files;

 private:
  std::filesystem::path previous_;
};

struct FieldCase {
  const char* name;
  size_t offset;
  size_t width;
  size_t expectedOffset;
};

// The fields tile bytes 505..1037 in file order with no gap or overlap, and
// sit where the client expects them.
TEST(SettingsLayoutTest, FieldsTileTheInterpretedRange) {
  const std::vector<FieldCase> fields = {
      {"cv", kCvOffset, kCvWidth, 505},
      {"cb", kCbOffset, kCbWidth, 516},
      {"cleared520", kCleared520Offset, kCleared520Width, 520},
      {"cleared536", kCleared536Offset, kCleared536Width, 536},
      {"flagText", kFlagTextOffset, kFlagTextWidth, 547},
      {"cleared549", kCleared549Offset, kCleared549Width, 549},
      {"cleared552", kCleared552Offset, kCleared552Width, 552},
      {"sn", kSnOffset, kSnWidth, 555},
      {"appName", kAppNameOffset, kAppNameWidth, 596},
      {"launcherFile", kLauncherFileOffset, kLauncherFileWidth, 627},
      {"affiliateSub", kAffiliateSubOffset, kAffiliateSubWidth, 658},
      {"flagByte", kFlagByteOffset, 1, 699},
      {"lrm", kLrmOffset, kLrmWidth, 700},
      {"rmp", kRmpOffset, kRmpWidth, 702},
      {"clientPrefix", kClientPrefixOffset, kClientPrefixWidth, 704},
      {"affiliate", kAffiliateOffset, kAffiliateWidth, 735},
      {"userName", kUserNameOffset, kUserNameWidth, 836},
      {"cleared937", kCleared937Offset, kCleared937Width, 937},
  };
  size_t next = 505;
  for (const FieldCase& f : fields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.offset, f.expectedOffset);
    EXPECT_EQ(f.offset, next);
    next = f.offset + f.width;
  }
  EXPECT_EQ(next, kSwapLast + 1);
  EXPECT_EQ(kSwapFirst, 500u);
  EXPECT_EQ(kSwapLast - kSwapFirst + 1, 538u);
}

TEST_F(SettingsRecordTest, SaveAndLoadKeepEveryByte) {
  const Bytes pattern = Pattern();
  const std::string image(pattern.begin(), pattern.end());
  WriteFile(FilePath(), image);

  SettingsRecord record(files);
  EXPECT_FALSE(record.Load());
  for (size_t i = 0; i < kSettingsRecordSize; ++i) {
    const bool exchanged = i >= 500 && i <= 1037;
    ASSERT_EQ(record.bytes()[i], exchanged ? NibbleSwap(pattern[i]) : pattern[i]) << "offset " << i;
  }

  std::filesystem::remove(FilePath());
  EXPECT_EQ(record.Save(), DataResult::Ok);
  EXPECT_EQ(ReadFile(FilePath()), image);

  SettingsRecord again(files);
  EXPECT_FALSE(again.Load());
  EXPECT_EQ(again.bytes(), record.bytes());
}

TEST_F(SettingsRecordTest, UserNameIsStoredExchanged) {
  SettingsRecord record(files);
  ASSERT_EQ(app::DataResult::Ok, record.SetUserName("\x41\x62"));
  const std::string image = ReadFile(FilePath());
  ASSERT_EQ(image.size(), kSettingsRecordSize);
  EXPECT_EQ(image.substr(836, 3), "\x14\x26\x00"s);
  // A fresh record is otherwise all zero, and zero is its own exchange.
  EXPECT_EQ(std::count(image.begin(), image.end(), '\0'), static_cast<long>(kSettingsRecordSize - 2));
  EXPECT_EQ(record.ReadUserName(), "Ab");
}

TEST_F(SettingsRecordTest, ApplyServerReplyFillsVersionFieldsAndKeepsClientData) {
  Bytes before = Pattern();
  PutText(before, kUserNameOffset, "bob");
  PutText(before, kCleared937Offset, "secret");
  WriteRecord(before);

  SettingsRecord record(files);
  ASSERT_EQ(app::DataResult::Ok, record.ApplyServerReply("~ac=15~cv=1.2.3~cb=4711~sn=SN-42~lrm=1~rmp=0", "Qx"sv));
  const Bytes after = FileRecord();

  EXPECT_EQ(TextAt(after, kCvOffset), "1.2.3");
  EXPECT_EQ(Uint32At(after, kCbOffset), 4711u);
  EXPECT_EQ(TextAt(after, kSnOffset), "SN-42");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(after.data() + kFlagTextOffset), 2), "1\0"s);
  EXPECT_EQ(after[kFlagByteOffset], 1);
  EXPECT_EQ(TextAt(after, kLrmOffset), "1");
  EXPECT_EQ(TextAt(after, kRmpOffset), "0");
  EXPECT_EQ(TextAt(after, kClientPrefixOffset), "Qx");
  for (size_t cleared : {kUserNameOffset, kCleared937Offset, kCleared552Offset, kCleared549Offset,
                         kCleared520Offset, kCleared536Offset}) {
    EXPECT_EQ(after[cleared], 0) << "offset " << cleared;
  }
  // Bytes the installer does not interpret are carried through.
  for (size_t i = 0; i < 505; ++i) ASSERT_EQ(after[i], before[i]) << "offset " << i;
  for (size_t i = 1038; i < kSettingsRecordSize; ++i) ASSERT_EQ(after[i], before[i]) << "offset " << i;
  for (size_t i = kAppNameOffset; i < kFlagByteOffset; ++i) ASSERT_EQ(after[i], before[i]) << "offset " << i;
  for (size_t i = kAffiliateOffset; i < kUserNameOffset; ++i) ASSERT_EQ(after[i], before[i]) << "offset " << i;
  // Only the first byte of an emptied text is cleared.
  EXPECT_EQ(after[kUserNameOffset + 1], 'o');

  std::string request = "ac=15";
  record.AppendVersionFields(request);
  EXPECT_EQ(request, "ac=15&sn=SN-42&cv=1.2.3&cb=4711");
  EXPECT_EQ(record.ClientProgramPath("Salon.exe"), "QxSalon.exe");
}

TEST_F(SettingsRecordTest, ApplyServerReplyWithoutCbAndSnClearsThem) {
  Bytes before{};
  PutText(before, kSnOffset, "OLDSERIAL");
  before[kCbOffset] = 99;
  PutText(before, kClientPrefixOffset, "Keep");
  WriteRecord(before);

  SettingsRecord record(files);
  ASSERT_EQ(app::DataResult::Ok, record.ApplyServerReply("~cv=2.0", std::nullopt));
  const Bytes after = FileRecord();
  EXPECT_EQ(Uint32At(after, kCbOffset), 0u);
  EXPECT_EQ(TextAt(after, kSnOffset), "");
  EXPECT_EQ(TextAt(after, kCvOffset), "2.0");
  EXPECT_EQ(TextAt(after, kClientPrefixOffset), "Keep");  // no prefix given
  EXPECT_EQ(record.GetClientPrefix(), "Keep");
}

TEST_F(SettingsRecordTest, OverlongTextsAreCutLeavingNeighboursIntact) {
  Bytes before{};
  PutText(before, kCleared937Offset, "next");
  WriteRecord(before);

  SettingsRecord record(files);
  ASSERT_EQ(app::DataResult::Ok, record.ApplyServerReply("~cv=" + std::string(50, 'v') + "~cb=258~sn=" + std::string(60, 's') +
                              "~lrm=XYZ~rmp=long",
                          std::string(40, 'p')));
  const std::string longText(120, 'x');
  ASSERT_EQ(app::DataResult::Ok, record.SetIdentity(longText, longText, longText, longText));
  ASSERT_EQ(app::DataResult::Ok, record.SetUserName(std::string(200, 'u')));

  struct Row {
    const char* name;
    size_t offset;
    std::string text;
  };
  const Bytes after = FileRecord();
  for (const Row& row : {Row{"cv", kCvOffset, std::string(10, 'v')}, Row{"sn", kSnOffset, std::string(40, 's')},
                         Row{"appName", kAppNameOffset, std::string(30, 'x')},
                         Row{"launcherFile", kLauncherFileOffset, std::string(30, 'x')},
                         Row{"affiliateSub", kAffiliateSubOffset, std::string(40, 'x')},
                         Row{"lrm", kLrmOffset, "X"}, Row{"rmp", kRmpOffset, "l"},
                         Row{"clientPrefix", kClientPrefixOffset, std::string(30, 'p')},
                         Row{"affiliate", kAffiliateOffset, std::string(100, 'x')},
                         Row{"userName", kUserNameOffset, std::string(100, 'u')}}) {
    EXPECT_EQ(TextAt(after, row.offset), row.text) << row.name;
  }
  EXPECT_EQ(Uint32At(after, kCbOffset), 258u);  // right after cv
  EXPECT_EQ(after[kFlagByteOffset], 1);         // right after affiliateSub
  EXPECT_EQ(after[kCleared937Offset], 0);       // emptied by the reply, not overwritten since
  EXPECT_EQ(TextAt(after, kCleared937Offset + 1), "ext");
}

struct GetterCase {
  const char* name;
  size_t offset;
  size_t width;
  std::string (SettingsRecord::*get)() const;
};

// A corrupt file with no zero byte in a field: the getter stops at the
// field's width instead of running into the next field.
TEST_F(SettingsRecordTest, GettersStopAtTheFieldWidth) {
  const std::vector<GetterCase> rows = {
      {"userName", kUserNameOffset, kUserNameWidth, &SettingsRecord::ReadUserName},
      {"launcherFile", kLauncherFileOffset, kLauncherFileWidth, &SettingsRecord::GetLauncherFile},
      {"clientPrefix", kClientPrefixOffset, kClientPrefixWidth, &SettingsRecord::GetClientPrefix},
  };
  Bytes corrupt{};
  std::fill(corrupt.begin() + 500, corrupt.begin() + 1038, 'z');
  for (const GetterCase& c : rows) std::fill_n(corrupt.begin() + c.offset, c.width, 'f');
  WriteRecord(corrupt);

  SettingsRecord record(files);
  ASSERT_FALSE(record.Load());
  for (const GetterCase& c : rows) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ((record.*c.get)(), std::string(c.width, 'f'));
  }
  EXPECT_EQ(record.Version().serial, std::string(kSnWidth, 'z'));
  EXPECT_EQ(record.Version().clientVersion, std::string(kCvWidth, 'z'));
}

TEST_F(SettingsRecordTest, ShortFileLeavesTheRestZero) {
  Bytes full = Pattern();
  WriteFile(FilePath(), FileImage(full).substr(0, 600));
  SettingsRecord record(files);
  EXPECT_FALSE(record.Load());
  for (size_t i = 0; i < 600; ++i) ASSERT_EQ(record.bytes()[i], full[i]) << "offset " << i;
  for (size_t i = 600; i < kSettingsRecordSize; ++i) ASSERT_EQ(record.bytes()[i], 0) << "offset " << i;
}

TEST_F(SettingsRecordTest, UnreadableFileKeepsTheRecordAndSaveWritesItWhole) {
  const Bytes full = Pattern();
  WriteRecord(full);
  SettingsRecord record(files);
  ASSERT_FALSE(record.Load());

  enum class Kind { Missing, Empty, HeldByWriter };
  for (Kind kind : {Kind::Missing, Kind::Empty, Kind::HeldByWriter}) {
    SCOPED_TRACE(static_cast<int>(kind));
    std::filesystem::remove(FilePath());
    if (kind == Kind::Empty) WriteFile(FilePath(), "");
    if (kind == Kind::HeldByWriter) WriteRecord(Pattern());
    std::unique_ptr<platform::File> writer;
    if (kind == Kind::HeldByWriter) writer = files.CreateForWrite(FilePath(), nullptr);
    EXPECT_TRUE(record.Load());
    EXPECT_EQ(record.bytes(), full);
    EXPECT_EQ(record.Save(), kind == Kind::HeldByWriter ? DataResult::OpenFailed : DataResult::Ok);
  }
  EXPECT_EQ(record.Save(), DataResult::Ok);
  EXPECT_EQ(ReadFile(FilePath()), FileImage(full));
}

// A "cfg" replaced by a link to somewhere else is never written through.
TEST_F(SettingsRecordTest, LinkedSettingsFolderIsNeverWrittenThrough) {
  TempDir elsewhere;
  std::filesystem::remove_all(dir / "cfg");
  std::filesystem::create_directory_symlink(elsewhere.path(), dir / "cfg");
  SettingsRecord record(files);
  EXPECT_NE(record.Save(), DataResult::Ok);
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}

TEST_F(SettingsRecordTest, LoadFromReadsAnotherFolder) {
  TempDir other;
  Bytes installed{};
  PutText(installed, kUserNameOffset, "Player One");
  WriteFile(other / "cfg/ovl.cfg", FileImage(installed));

  for (const std::string& folder : {other.path(), other.path() + "/"}) {
    SCOPED_TRACE(folder);
    SettingsRecord record(files);
    EXPECT_FALSE(record.LoadFrom(folder));
    EXPECT_EQ(record.ReadUserName(), "Player One");
  }
  SettingsRecord record(files);
  EXPECT_TRUE(record.LoadFrom(dir / "nowhere"));
  EXPECT_EQ(record.ReadUserName(), "");
}

struct LanguageCase {
  const char* name;
  std::optional<std::string> content;
  std::string code;
};

std::ostream& operator<<(std::ostream& out, const LanguageCase& c) { return out << c.name; }

class LanguageFileTest : public testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageFileTest, ReadsTheCode) {
  const LanguageCase& c = GetParam();
  TempDir dir;
  if (c.content) WriteFile(dir / "cfg/lang.cfg", *c.content);
  platform::PosixFileSystem files;
  ReadWriteData data(files);
  EXPECT_EQ(ReadLanguageFile(data, dir.path()), c.code);
  EXPECT_EQ(ReadLanguageFile(data, dir.path() + "/"), c.code);
}

INSTANTIATE_TEST_SUITE_P(Table, LanguageFileTest,
                         testing::Values(LanguageCase{"TwoLettersAndZero", "de\0"s, "de"},
                                         LanguageCase{"TwoLettersOnly", "de"s, "de"},
                                         LanguageCase{"ThreeLetters", "eng\0"s, "eng"},
                                         LanguageCase{"LongerTextCutToThree", "english"s, "eng"},
                                         LanguageCase{"BytesAfterTheZeroIgnored", "fr\0garbage-after-zero"s, "fr"},
                                         LanguageCase{"LeadingZero", "\0en"s, ""},
                                         LanguageCase{"EmptyFile", ""s, ""},
                                         LanguageCase{"MissingFile", std::nullopt, ""}),
                         [](const testing::TestParamInfo<LanguageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace app
