#include "platform/posix/system_error_posix.h"

#include <errno.h>

#include <gtest/gtest.h>

namespace {

TEST(SystemErrorPosixTest, MessagesEndWithALineEndAndUnknownCodesHaveNone) {
  struct Row {
    int code;
    const char* expected;
  };
  const Row rows[] = {
      {ENOENT, "No such file or directory\r\n"},
      {EACCES, "Permission denied\r\n"},
      {EBADMSG, "Bad message\r\n"},
      {999999, ""},
      {-1, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected, platform::SystemErrorText(row.code)) << "code " << row.code;
  }
}

TEST(SystemErrorPosixTest, LastErrorIsTheThreadsErrnoAndSurvivesTheMessageLookup) {
  platform::SetLastErrorCode(EEXIST);
  EXPECT_EQ(EEXIST, errno);
  EXPECT_EQ("File exists\r\n", platform::SystemErrorText(platform::LastErrorCode()));
  EXPECT_EQ(EEXIST, platform::LastErrorCode());
}

}  // namespace
