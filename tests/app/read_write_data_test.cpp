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

std::ostream& operator<<(std::ostream& out, DataResult r) { return out << static_cast<int>(r); }

constexpr unsigned char kUntouched = 0xAA;  // buffer bytes before a read

struct ReadCase {
  const char* name;
  std::optional<std::string> content;  // nothing: no file
  size_t size;                          // asked for
  DataResult code;
  size_t bytesRead;
  std::string expected;  // the whole buffer of max(size, content) bytes after the read
};

std::ostream& operator<<(std::ostream& out, const ReadCase& c) {
  return out << c.name << ": size=" << c.size << " code=" << c.code << " bytesRead=" << c.bytesRead;
}

class ReadDataTest : public testing::TestWithParam<ReadCase> {
 protected:
  TempDir dir;
  platform::PosixFileSystem files;
  ReadWriteData data{files};
};

TEST_P(ReadDataTest, CodeCountAndBuffer) {
  const ReadCase& c = GetParam();
  const std::string path = dir / "data.bin";
  if (c.content) WriteFile(path, *c.content);

  std::vector<unsigned char> buffer(c.expected.size(), kUntouched);
  size_t bytesRead = 12345;
  EXPECT_EQ(data.ReadData(path, buffer.data(), c.size, &bytesRead), c.code);
  EXPECT_EQ(bytesRead, c.bytesRead);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), c.expected);
}

const std::string kAA(1, static_cast<char>(kUntouched));

INSTANTIATE_TEST_SUITE_P(
    Table, ReadDataTest,
    testing::Values(
        ReadCase{"WholeFileWithSizeZero", "hello"s, 0, DataResult::Ok, 5, "hello"},
        ReadCase{"ExactSize", "hello"s, 5, DataResult::Ok, 5, "hello"},
        // A short file: the rest of the buffer up to the size asked for is zero.
        ReadCase{"ShortFileZeroFills", "hi"s, 6, DataResult::Ok, 2, "hi\0\0\0\0"s},
        ReadCase{"ZeroBytesInContentKept", "a\0b"s, 4, DataResult::Ok, 3, "a\0b\0"s},
        // Only `size` bytes are read; the buffer after them is not written.
        ReadCase{"LongerFileReadsSizeOnly", "abcdef"s, 3, DataResult::Ok, 3, "abc" + kAA + kAA + kAA},
        ReadCase{"EmptyFileWholeRead", ""s, 0, DataResult::EmptyFile, 0, kAA + kAA},
        ReadCase{"EmptyFileSized", ""s, 2, DataResult::EmptyFile, 0, kAA + kAA},
        ReadCase{"MissingFile", std::nullopt, 0, DataResult::OpenFailed, 0, kAA + kAA},
        ReadCase{"MissingFileSized", std::nullopt, 2, DataResult::OpenFailed, 0, kAA + kAA}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

class ReadWriteDataTest : public testing::Test {
 protected:
  TempDir dir;
  platform::PosixFileSystem files;
  ReadWriteData data{files};
};

TEST_F(ReadWriteDataTest, NoBufferIsRefusedBeforeTheFileIsOpened) {
  // The file is missing: had it been opened first, the code would be 1.
  size_t bytesRead = 7;
  EXPECT_EQ(data.ReadData(dir / "missing.bin", nullptr, 4, &bytesRead), DataResult::NoBuffer);
  EXPECT_EQ(bytesRead, 0u);
  EXPECT_EQ(data.WriteData(dir / "missing.bin", nullptr, 4), DataResult::NoBuffer);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.bin"));
}

TEST_F(ReadWriteDataTest, ByteCountIsOptional) {
  WriteFile(dir / "f", "abc");
  char buffer[3] = {};
  EXPECT_EQ(data.ReadData(dir / "f", buffer, 0, nullptr), DataResult::Ok);
  EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST_F(ReadWriteDataTest, AFolderGivesAReadError) {
  // Opening a folder for reading succeeds on Linux; reading it fails.
  std::filesystem::create_directory(dir / "folder");
  char buffer[8] = {};
  EXPECT_EQ(data.ReadData(dir / "folder", buffer, sizeof buffer, nullptr), DataResult::ReadFailed);
}

TEST_F(ReadWriteDataTest, FileHeldByAWriterIsRefusedToAReader) {
  const std::string path = dir / "held.cfg";
  WriteFile(path, "content");
  std::unique_ptr<platform::File> writer = files.CreateForWrite(path, nullptr);
  ASSERT_TRUE(writer);
  char buffer[16] = {};
  EXPECT_EQ(data.ReadData(path, buffer, sizeof buffer, nullptr), DataResult::OpenFailed);
  writer.reset();
  EXPECT_EQ(data.WriteData(path, "new", 3), DataResult::Ok);
  EXPECT_EQ(data.ReadData(path, buffer, sizeof buffer, nullptr), DataResult::Ok);
  EXPECT_EQ(std::string(buffer), "new");
}

TEST_F(ReadWriteDataTest, FileHeldByAReaderIsRefusedToAWriterAndKept) {
  const std::string path = dir / "held.cfg";
  WriteFile(path, "content");
  std::unique_ptr<platform::File> reader = files.OpenForRead(path, nullptr);
  ASSERT_TRUE(reader);
  EXPECT_EQ(data.WriteData(path, "new", 3), DataResult::OpenFailed);
  EXPECT_EQ(ReadFile(path), "content");
}

TEST_F(ReadWriteDataTest, WriteCreatesAndTruncates) {
  const std::string path = dir / "out.bin";
  const std::string first = "a much longer first content\0with a zero"s;
  ASSERT_EQ(data.WriteData(path, first.data(), first.size()), DataResult::Ok);
  EXPECT_EQ(ReadFile(path), first);
  ASSERT_EQ(data.WriteData(path, "xy", 2), DataResult::Ok);
  EXPECT_EQ(ReadFile(path), "xy");
}

TEST_F(ReadWriteDataTest, WriteOfZeroBytesCreatesNothing) {
  EXPECT_EQ(data.WriteData(dir / "zero.bin", "x", 0), DataResult::NoBytes);
  EXPECT_FALSE(std::filesystem::exists(dir / "zero.bin"));
  // An existing file is not truncated either.
  WriteFile(dir / "kept.bin", "kept");
  EXPECT_EQ(data.WriteData(dir / "kept.bin", "x", 0), DataResult::NoBytes);
  EXPECT_EQ(ReadFile(dir / "kept.bin"), "kept");
}

TEST_F(ReadWriteDataTest, WriteIntoAMissingFolderFailsToOpen) {
  EXPECT_EQ(data.WriteData(dir / "no/such/folder/f.bin", "x", 1), DataResult::OpenFailed);
}

// A file layer whose files hand out data two bytes per call and can fail on
// request, for the paths a real disk does not produce on demand. Everything
// but opening files is the real layer's.
class ScriptedFiles : public platform::PosixFileSystem {
 public:
  std::string content;
  bool readFails = false;
  bool sizeUnknown = false;
  bool writeFails = false;
  std::string written;

  class ScriptedFile : public platform::File {
   public:
    explicit ScriptedFile(ScriptedFiles& owner) : owner_(owner) {}
    bool Read(void* buffer, size_t size, size_t* received) override {
      if (owner_.readFails) return false;
      const size_t n = std::min({size, size_t{2}, owner_.content.size() - position_});
      std::memcpy(buffer, owner_.content.data() + position_, n);
      position_ += n;
      *received = n;
      return true;
    }
    bool Write(const void* data, size_t size) override {
      if (owner_.writeFails) return false;
      owner_.written.append(static_cast<const char*>(data), size);
      return true;
    }
    int64_t Size() override { return owner_.sizeUnknown ? -1 : static_cast<int64_t>(owner_.content.size()); }

   private:
    ScriptedFiles& owner_;
    size_t position_ = 0;
  };

  std::unique_ptr<platform::File> OpenForRead(const std::string&, std::string*) override {
    return std::make_unique<ScriptedFile>(*this);
  }
  std::unique_ptr<platform::File> CreateForWrite(const std::string&, std::string*) override {
    written.clear();
    return std::make_unique<ScriptedFile>(*this);
  }
};

TEST(ReadWriteDataLayerTest, ReadsOnUntilTheFileEnds) {
  ScriptedFiles files;
  files.content = "0123456789";
  ReadWriteData data(files);
  char buffer[12];
  std::memset(buffer, 'z', sizeof buffer);
  size_t n = 0;
  ASSERT_EQ(data.ReadData("f", buffer, sizeof buffer, &n), DataResult::Ok);
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(std::string(buffer, sizeof buffer), "0123456789\0\0"s);
}

TEST(ReadWriteDataLayerTest, LayerFailuresGiveTheirCodes) {
  ScriptedFiles files;
  files.content = "abc";
  ReadWriteData data(files);
  char buffer[4] = {};
  size_t n = 99;

  files.readFails = true;
  EXPECT_EQ(data.ReadData("f", buffer, sizeof buffer, &n), DataResult::ReadFailed);
  EXPECT_EQ(n, 0u);
  files.readFails = false;

  files.sizeUnknown = true;
  EXPECT_EQ(data.ReadData("f", buffer, 0, &n), DataResult::ReadFailed);
  files.sizeUnknown = false;

  files.writeFails = true;
  EXPECT_EQ(data.WriteData("f", "abc", 3), DataResult::WriteFailed);
  files.writeFails = false;
  EXPECT_EQ(data.WriteData("f", "abc", 3), DataResult::Ok);
  EXPECT_EQ(files.written, "abc");
}

}  // namespace
}  // namespace app
