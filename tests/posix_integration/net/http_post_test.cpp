#include "net/http_post.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_http.h"
#include "fakes/fake_platform.h"
#include "net/server_address.h"
#include "platform/path.h"
#include "platform/posix/posix_file_system.h"
#include "support/temp_dir.h"

namespace net {
namespace {

using fakes::Chunk;
using fakes::ReadFails;

class HttpPostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The alert switch is looked up in the current directory.
    previousDir_ = files_.CurrentDirectory();
    ASSERT_TRUE(files_.ChangeCurrentDirectory(dir_.path()));
    system_.executablePath = dir_ / "bin/websetup";
    platform_ = {&system_, &files_, &http_, &dialogs_};
  }
  void TearDown() override { files_.ChangeCurrentDirectory(previousDir_); }

  PostResult Post(std::string_view directory, int port, size_t capacity, std::string_view body = "ac=10") {
    return HttpPostForm(platform_, "Agent", "srv.example", directory, port, body, reply_, capacity);
  }

  testing_support::TempDir dir_;
  std::string previousDir_;
  fakes::FakeSystem system_;
  platform::PosixFileSystem files_;
  fakes::FakeHttpClient http_;
  fakes::FakeDialogs dialogs_;
  platform::Platform platform_;
  std::string reply_;
};

TEST_F(HttpPostTest, ClassifiesWhatTheTransportDelivers) {
  struct Row {
    const char* name;
    std::vector<fakes::HttpStep> script;
    size_t capacity;
    PostResult expected;
    std::string reply;
  };
  const std::vector<Row> rows = {
      {"empty reply", {}, 100, PostResult::NoData, ""},
      {"key-value reply", {Chunk("~ac=1"), Chunk("0~url=x")}, 100, PostResult::Ok, "~ac=10~url=x"},
      {"html keeps the first chunk", {Chunk("<html>"), Chunk("<body>")}, 100, PostResult::InternalServerError, "<html>"},
      {"html then failure", {Chunk("<"), ReadFails()}, 100, PostResult::InternalServerError, "<"},
      {"'<' in a later chunk", {Chunk("~ac=10"), Chunk("<b>")}, 100, PostResult::Ok, "~ac=10<b>"},
      {"failure after data", {Chunk("~ac="), ReadFails()}, 100, PostResult::ReceiveData, "~ac="},
      {"failure first", {ReadFails()}, 100, PostResult::NoData, ""},
      {"overflow in one chunk", {Chunk("abcdefgh")}, 5, PostResult::Ok, "abcd"},
      {"overflow across chunks", {Chunk("abc"), Chunk("defgh"), Chunk("ij")}, 6, PostResult::Ok, "abcde"},
      {"full buffer ends before a failure", {Chunk("abc"), ReadFails()}, 4, PostResult::Ok, "abc"},
      {"no room for a reply", {Chunk("abc")}, 1, PostResult::NoData, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    http_.script = row.script;
    reply_ = "stale";
    EXPECT_EQ(Post("UpdateServlet", 443, row.capacity), row.expected);
    EXPECT_EQ(reply_, row.reply);
  }
  EXPECT_EQ(http_.Requests().size(), rows.size() - 1) << "a post without room for a reply is not sent";
  EXPECT_TRUE(dialogs_.Boxes().empty());
}

TEST_F(HttpPostTest, EachReadAsksForAtMostTheRemainingRoom) {
  http_.script = {Chunk("abc"), Chunk("de")};
  EXPECT_EQ(Post("UpdateServlet", 443, 10), PostResult::Ok);
  EXPECT_EQ(http_.ReadCapacities(), (std::vector<size_t>{9, 6, 4}));
}

TEST_F(HttpPostTest, RequestFollowsDirectoryAndPort) {
  struct Row {
    const char* directory;
    int port;
    const char* objectName;
    bool secure;
  };
  const std::vector<Row> rows = {
      {"UpdateServlet", 443, "servlet/UpdateServlet", true}, {"x/y.php", 80, "x/y.php", false},
      {"update.php?x=1", 8443, "update.php?x=1", true},      {"a.phpx/b", 81, "a.phpx/b", true},
      {"Update.PHP", 80, "servlet/Update.PHP", false},       {"PixelServlet", 8080, "servlet/PixelServlet", false},
      {"UpdateServlet", 0, "servlet/UpdateServlet", true},
  };
  const std::string body(20000, 'x');  // longer than the forms of old: sent as it stands
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.directory) + " port " + std::to_string(row.port));
    EXPECT_EQ(Post(row.directory, row.port, 100, body), PostResult::NoData);
    const platform::HttpPostRequest request = http_.Requests().back();
    EXPECT_EQ(request.objectName, row.objectName);
    EXPECT_EQ(request.secure, row.secure);
    EXPECT_EQ(request.port, row.port);
    EXPECT_EQ(request.host, "srv.example");
    EXPECT_EQ(request.agent, "Agent");
    EXPECT_EQ(request.contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(request.body, body);
    EXPECT_EQ(request.timeouts.connectSeconds, 60);
    EXPECT_EQ(request.timeouts.idleSeconds, 30);
  }
}

TEST_F(HttpPostTest, AlertBoxOnlyWithTheSwitchFileAndOnlyOnAFailedRead) {
  http_.script = {ReadFails()};
  EXPECT_EQ(Post("UpdateServlet", 8443, 100), PostResult::NoData);
  testing_support::WriteFile(dir_ / "cfg/AlertMode.cfg", "");
  http_.script = {};
  EXPECT_EQ(Post("UpdateServlet", 8443, 100), PostResult::NoData);
  EXPECT_TRUE(dialogs_.Boxes().empty());

  http_.script = {ReadFails()};
  EXPECT_EQ(Post("UpdateServlet", 8443, 100), PostResult::NoData);
  http_.script = {Chunk("~ac="), ReadFails()};
  EXPECT_EQ(Post("a.php", 80, 100), PostResult::ReceiveData);
  const std::vector<fakes::FakeDialogs::Box> boxes = dialogs_.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text,
            "Connection with the server failed.\n\nURL: srv.example\nDirectory: servlet/UpdateServlet\nPort: 8443");
  EXPECT_EQ(boxes[0].style, platform::BoxStyle::Plain);
  EXPECT_EQ(boxes[1].text, "Connection with the server failed.\n\nURL: srv.example\nDirectory: a.php\nPort: 80");
}

TEST_F(HttpPostTest, LoadServerAddressFromTheFileNextToTheExecutable) {
  const std::string sep(1, platform::PathSeparator());
  struct Row {
    std::optional<std::string> file;  // none: no file next to the executable
    ServerAddress expected;
  };
  const std::vector<Row> rows = {
      {std::nullopt, {"secure.example", "UpdateServlet", "", "", 8443, ""}},
      {"~ip=srv1~srvl=x/y.php~po=80~pn1=mode~pv1=beta", {"srv1", "x/y.php", "mode", "beta", 80, ""}},
      {"", {"", "", "", "", 0, ""}},
      {"~ip=srv1" + std::string(992, ' ') + "~po=80", {"srv1" + std::string(992, ' '), "", "", "", 0, ""}},
      {"~ip=srv1~ca=certs\\ca.pem~po=443", {"srv1", "", "", "", 443, dir_.path() + sep + "bin" + sep + "certs" + sep + "ca.pem"}},
      {"~ca=/etc/private/ca.pem\r\n", {"", "", "", "", 0, "/etc/private/ca.pem"}},
      // A drive names no file on a system without drives.
      {"~ca=C:\\certs\\ca.pem",
       {"", "", "", "", 0, platform::IsAbsolutePath("C:\\certs") ? platform::NativePath("C:\\certs\\ca.pem") : ""}},
  };
  testing_support::WriteFile(dir_ / "cfg/Updater.cfg", "~ip=wrong");  // the current directory does not count
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file.value_or("(no file)"));
    std::filesystem::remove(dir_ / "bin/cfg/Updater.cfg");
    if (row.file) testing_support::WriteFile(dir_ / "bin/cfg/Updater.cfg", *row.file);
    const size_t handedBefore = http_.ExtraCaFiles().size();
    const ServerAddress address = LoadServerAddress(platform_, "secure.example", 8443);
    EXPECT_EQ(address.host, row.expected.host);
    EXPECT_EQ(address.directory, row.expected.directory);
    EXPECT_EQ(address.extraName, row.expected.extraName);
    EXPECT_EQ(address.extraValue, row.expected.extraValue);
    EXPECT_EQ(address.port, row.expected.port);
    EXPECT_EQ(address.caFile, row.expected.caFile);
    const std::vector<std::string> handed = http_.ExtraCaFiles();
    EXPECT_EQ(handed.size(), handedBefore + (row.expected.caFile.empty() ? 0 : 1));
    if (!row.expected.caFile.empty() && !handed.empty()) {
      EXPECT_EQ(handed.back(), row.expected.caFile);
    }
  }

  // The php server of the file is reached over plain HTTP at its own path.
  testing_support::WriteFile(dir_ / "bin/cfg/Updater.cfg", "~ip=srv1~srvl=x/y.php~po=80");
  http_.script = {Chunk("~ac=11")};
  const ServerAddress address = LoadServerAddress(platform_, "secure.example", 8443);
  EXPECT_EQ(CommunicatePost(platform_, "Agent", address, "ac=11", reply_, 100), PostResult::Ok);
  const platform::HttpPostRequest request = http_.Requests().back();
  EXPECT_EQ(request.host, "srv1");
  EXPECT_EQ(request.objectName, "x/y.php");
  EXPECT_FALSE(request.secure);
  EXPECT_EQ(reply_, "~ac=11");
}

}  // namespace
}  // namespace net

namespace net {
namespace {

// A server that brought nothing back costs the next exchange (the closing
// report above all) only the short bound; any reply restores the normal one.
TEST(SilentServerTest, NothingBackShortensTheNextExchangeUntilAReply) {
  fakes::FakeHttpClient http;
  platform::Platform platform;
  platform.http = &http;
  ServerAddress address{"update.test", "UpdateServlet", "", "", 443, ""};
  address.silent = std::make_shared<std::atomic<bool>>(false);
  const ServerAddress copy = address;  // the reports' copy shares the state
  std::string reply;
  const std::vector<std::pair<std::vector<fakes::HttpStep>, bool>> exchanges = {
      {{fakes::ReadFails()}, false}, {{fakes::Chunk("~ac=11")}, true}, {{}, false}, {{fakes::Chunk("x")}, true}};
  for (const auto& [script, answers] : exchanges) {
    http.script = script;
    const bool silentBefore = ServerSilent(copy);
    (void)CommunicatePost(platform, "Quorix", address, "ac=101", reply, 100);
    const platform::HttpTimeouts used = http.Requests().back().timeouts;
    EXPECT_EQ(used.connectSeconds, silentBefore ? kSilentServerTimeouts.connectSeconds : 60);
    EXPECT_EQ(used.idleSeconds, silentBefore ? kSilentServerTimeouts.idleSeconds : 30);
    EXPECT_EQ(ServerSilent(copy), !answers);
  }
}

}  // namespace
}  // namespace net
