#include "app/read_write_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/posix_file_system.h"
#include "support/temp_dir.h"

namespace app {
namespace {

using namespace std::string_literals;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kUntouched = "\xAA";  // buffer bytes before a read

struct ReadCase {
  const char* name;
  std::optional<std::string> content;  // nothing: no file
  size_t size;                          // asked for
  int code;
  size_t bytesRead;
  std::string buffer;  // the whole buffer after the read
};

std::ostream& operator<<(std::ostream& out, const ReadCase& c) { return out << c.name; }

class ReadDataTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadDataTest, CodeCountAndBuffer) {
  const ReadCase& c = GetParam();
  TempDir dir;
  if (c.content) WriteFile(dir / "f", *c.content);
  platform::PosixFileSystem files;
  std::string buffer(c.buffer.size(), kUntouched[0]);
  size_t bytesRead = 12345;
  EXPECT_EQ(static_cast<int>(ReadWriteData(files).ReadData(dir / "f", buffer.data(), c.size, &bytesRead)), c.code);
  EXPECT_EQ(bytesRead, c.bytesRead);
  EXPECT_EQ(buffer, c.buffer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadDataTest,
    testing::Values(ReadCase{"WholeFileWithSizeZero", "hello"s, 0, 0, 5, "hello"},
                    // A short file: the rest of the buffer up to the size asked for is zero.
                    ReadCase{"ShortFileZeroFills", "a\0b"s, 6, 0, 3, "a\0b\0\0\0"s},
                    // Only `size` bytes are read; the buffer after them is not written.
                    ReadCase{"LongerFileReadsSizeOnly", "abcdef"s, 3, 0, 3, "abc" + kUntouched},
                    ReadCase{"EmptyFileWholeRead", ""s, 0, 6, 0, kUntouched},
                    ReadCase{"EmptyFileSized", ""s, 1, 6, 0, kUntouched},
                    ReadCase{"MissingFile", std::nullopt, 1, 1, 0, kUntouched}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

class ReadWriteDataTest : public testing::Test {
 protected:
  TempDir dir;
  platform::PosixFileSystem files;
  ReadWriteData data{files};
};

TEST_F(ReadWriteDataTest, MissingBuffersAndEmptyWritesTouchNoFile) {
  // The file is missing: had it been opened first, the read would give 1.
  size_t bytesRead = 7;
  EXPECT_EQ(data.ReadData(dir / "f", nullptr, 4, &bytesRead), DataResult::NoBuffer);
  EXPECT_EQ(bytesRead, 0u);
  EXPECT_EQ(data.WriteData(dir / "f", nullptr, 4), DataResult::NoBuffer);
  EXPECT_EQ(data.WriteData(dir / "f", "x", 0), DataResult::NoBytes);
  EXPECT_FALSE(std::filesystem::exists(dir / "f"));
  WriteFile(dir / "kept", "kept");
  EXPECT_EQ(data.WriteData(dir / "kept", "x", 0), DataResult::NoBytes);
  EXPECT_EQ(ReadFile(dir / "kept"), "kept");
}

TEST_F(ReadWriteDataTest, WriteCreatesAndTruncates) {
  const std::string first = "a longer first content\0with a zero"s;
  ASSERT_EQ(data.WriteData(dir / "f", first.data(), first.size()), DataResult::Ok);
  EXPECT_EQ(ReadFile(dir / "f"), first);
  ASSERT_EQ(data.WriteData(dir / "f", "xy", 2), DataResult::Ok);
  EXPECT_EQ(ReadFile(dir / "f"), "xy");
  EXPECT_EQ(data.WriteData(dir / "no/folder/f", "x", 1), DataResult::OpenFailed);
  // Opening a folder for reading succeeds on Linux; reading it fails.
  char buffer[8];
  EXPECT_EQ(data.ReadData(dir.path(), buffer, sizeof buffer, nullptr), DataResult::ReadFailed);
}

TEST_F(ReadWriteDataTest, ReplaceIsAtomicAndAWriterExcludesOthers) {
  WriteFile(dir / "f", "content");
  char buffer[16] = {};
  {
    // A reader keeps the file it opened; the new content replaces it whole.
    std::unique_ptr<platform::File> reader = files.OpenForRead(dir / "f", nullptr);
    ASSERT_TRUE(reader);
    EXPECT_EQ(data.WriteData(dir / "f", "new", 3), DataResult::Ok);
    size_t got = 0;
    ASSERT_TRUE(reader->Read(buffer, sizeof buffer, &got));
    EXPECT_EQ(std::string(buffer, got), "content");
    EXPECT_EQ(ReadFile(dir / "f"), "new");
  }
  std::unique_ptr<platform::File> writer = files.CreateForWrite(dir / "f", nullptr);
  ASSERT_TRUE(writer);
  EXPECT_EQ(data.ReadData(dir / "f", buffer, sizeof buffer, nullptr), DataResult::OpenFailed);
  EXPECT_EQ(data.WriteData(dir / "f", "other", 5), DataResult::OpenFailed);
  EXPECT_FALSE(std::filesystem::exists(dir / ("f" + std::string(ReadWriteData::kTemporarySuffix))));
}

// A save that cannot complete leaves the old file as it was; a link planted
// where the temporary goes is not written through.
TEST_F(ReadWriteDataTest, FailedReplaceKeepsTheOldFile) {
  WriteFile(dir / "f", "content");
  WriteFile(dir / "target", "outside");
  std::filesystem::create_symlink(dir / "target", dir / ("f" + std::string(ReadWriteData::kTemporarySuffix)));
  EXPECT_NE(data.WriteData(dir / "f", "new", 3), DataResult::Ok);
  EXPECT_EQ(ReadFile(dir / "f"), "content");
  EXPECT_EQ(ReadFile(dir / "target"), "outside");
}

// Files that hand out two bytes per read and fail on request: the paths a
// real disk does not produce on demand. Everything else is the real layer.
class ScriptedFiles : public platform::PosixFileSystem {
 public:
  std::string content;
  bool fail = false;

  class ScriptedFile : public platform::File {
   public:
    explicit ScriptedFile(ScriptedFiles& owner) : owner_(owner) {}
    bool Read(void* buffer, size_t size, size_t* received) override {
      *received = std::min({size, size_t{2}, owner_.content.size() - position_});
      std::memcpy(buffer, owner_.content.data() + position_, *received);
      position_ += *received;
      return !owner_.fail;
    }
    bool Write(const void*, size_t) override { return !owner_.fail; }
    int64_t Size() override { return owner_.fail ? -1 : static_cast<int64_t>(owner_.content.size()); }

   private:
    ScriptedFiles& owner_;
    size_t position_ = 0;
  };

  std::unique_ptr<platform::File> OpenForRead(const std::string&, std::string*) override {
    return std::make_unique<ScriptedFile>(*this);
  }
  std::unique_ptr<platform::File> CreateForWrite(const std::string&, std::string*) override {
    return std::make_unique<ScriptedFile>(*this);
  }
};

TEST(ReadWriteDataLayerTest, ReadsOnUntilTheFileEndsAndMapsLayerFailures) {
  ScriptedFiles files;
  files.content = "0123456789";
  ReadWriteData data(files);
  char buffer[12];
  size_t n = 0;
  ASSERT_EQ(data.ReadData("f", buffer, sizeof buffer, &n), DataResult::Ok);
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(std::string(buffer, sizeof buffer), "0123456789\0\0"s);

  files.fail = true;
  EXPECT_EQ(data.ReadData("f", buffer, sizeof buffer, &n), DataResult::ReadFailed);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(data.ReadData("f", buffer, 0, &n), DataResult::ReadFailed);  // length unknown
  EXPECT_EQ(data.WriteData("f", "abc", 3), DataResult::WriteFailed);
}

}  // namespace
}  // namespace app
