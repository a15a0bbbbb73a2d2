#include "net/http_post.h"

#include <gtest/gtest.h>

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
using fakes::HttpStep;
using fakes::ReadFails;

class HttpPostFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The alert switch is looked up in the current directory: run each case
    // in a folder of its own.
    previousDir_ = files_.CurrentDirectory();
    ASSERT_TRUE(files_.SetCurrentDirectory(dir_.path()));
    platform_.system = &system_;
    platform_.files = &files_;
    platform_.http = &http_;
    platform_.dialogs = &dialogs_;
  }
  void TearDown() override { files_.SetCurrentDirectory(previousDir_); }

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
  std::string reply_ = "left over from an earlier call";
};

struct ClassifyRow {
  const char* name;
  std::vector<HttpStep> script;
  size_t capacity;
  PostResult expected;
  std::string expectedReply;
};

TEST_F(HttpPostFormTest, ClassifiesWhatTheTransportDelivers) {
  const std::vector<ClassifyRow> rows = {
      {"empty reply", {}, 100, PostResult::NoData, ""},
      {"key-value reply", {Chunk("~ac=1"), Chunk("0~url=x")}, 100, PostResult::Ok, "~ac=10~url=x"},
      {"html page keeps the first chunk", {Chunk("<html>"), Chunk("<body>")}, 100,
       PostResult::InternalServerError, "<html>"},
      {"html page followed by a failure", {Chunk("<"), ReadFails()}, 100, PostResult::InternalServerError, "<"},
      {"'<' in a later chunk", {Chunk("~ac=10"), Chunk("<b>")}, 100, PostResult::Ok, "~ac=10<b>"},
      {"failure after data", {Chunk("~ac="), ReadFails()}, 100, PostResult::ReceiveData, "~ac="},
      {"failure first", {ReadFails()}, 100, PostResult::NoData, ""},
      {"overflow in one chunk", {Chunk("abcdefgh")}, 5, PostResult::Ok, "abcd"},
      {"overflow across chunks", {Chunk("abc"), Chunk("defgh"), Chunk("ij")}, 6, PostResult::Ok, "abcde"},
      {"full buffer ends before a failure", {Chunk("abc"), ReadFails()}, 4, PostResult::Ok, "abc"},
      {"html page cut at the capacity", {Chunk("<html>")}, 3, PostResult::InternalServerError, "<h"},
      {"no room for a reply", {Chunk("abc")}, 1, PostResult::NoData, ""},
      {"no buffer at all", {Chunk("abc")}, 0, PostResult::NoData, ""},
  };
  for (const ClassifyRow& row : rows) {
    SCOPED_TRACE(row.name);
    http_.script = row.script;
    reply_ = "stale";
    EXPECT_EQ(Post("UpdateServlet", 443, row.capacity), row.expected);
    EXPECT_EQ(reply_, row.expectedReply);
  }
  EXPECT_TRUE(dialogs_.Boxes().empty());
}

TEST_F(HttpPostFormTest, NothingIsSentWithoutRoomForAReply) {
  http_.script = {Chunk("abc")};
  EXPECT_EQ(Post("UpdateServlet", 443, 1), PostResult::NoData);
  EXPECT_TRUE(http_.Requests().empty());
}

TEST_F(HttpPostFormTest, EachReadAsksForAtMostTheRemainingRoom) {
  http_.script = {Chunk("abc"), Chunk("de")};
  EXPECT_EQ(Post("UpdateServlet", 443, 10), PostResult::Ok);
  EXPECT_EQ(http_.ReadCapacities(), (std::vector<size_t>{9, 6, 4}));
}

struct TargetRow {
  const char* directory;
  int port;
  const char* objectName;
  bool secure;
};

TEST_F(HttpPostFormTest, ObjectNameAndTransportFollowDirectoryAndPort) {
  const std::vector<TargetRow> rows = {
      {"UpdateServlet", 443, "servlet/UpdateServlet", true},
      {"PixelServlet", 443, "servlet/PixelServlet", true},
      {"x/y.php", 80, "x/y.php", false},
      {"update.php?x=1", 8443, "update.php?x=1", true},
      {"a.phpx/b", 81, "a.phpx/b", true},
      {"Update.PHP", 80, "servlet/Update.PHP", false},
      {"UpdateServlet", 8080, "servlet/UpdateServlet", false},
      {"UpdateServlet", 8443, "servlet/UpdateServlet", true},
      {"UpdateServlet", 0, "servlet/UpdateServlet", true},
      {"", 79, "servlet/", true},
  };
  for (const TargetRow& row : rows) {
    SCOPED_TRACE(std::string(row.directory) + " port " + std::to_string(row.port));
    const size_t before = http_.Requests().size();
    EXPECT_EQ(Post(row.directory, row.port, 100), PostResult::NoData);
    ASSERT_EQ(http_.Requests().size(), before + 1);
    const platform::HttpPostRequest request = http_.Requests().back();
    EXPECT_EQ(request.objectName, row.objectName);
    EXPECT_EQ(request.secure, row.secure);
    EXPECT_EQ(request.port, row.port);
  }
}

TEST_F(HttpPostFormTest, RequestCarriesAgentHostFormHeaderAndDefaultTimeouts) {
  const std::string body(20000, 'x');  // longer than any fixed form buffer: sent as it stands
  http_.script = {Chunk("~ac=10")};
  EXPECT_EQ(Post("UpdateServlet", 443, 100, body), PostResult::Ok);
  ASSERT_EQ(http_.Requests().size(), 1u);
  const platform::HttpPostRequest request = http_.Requests()[0];
  EXPECT_EQ(request.agent, "Agent");
  EXPECT_EQ(request.host, "srv.example");
  EXPECT_EQ(request.contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(request.body, body);
  EXPECT_EQ(request.timeouts.connectSeconds, 60);
  EXPECT_EQ(request.timeouts.idleSeconds, 30);
}

TEST_F(HttpPostFormTest, OverlongHostAndObjectNameAreCutToTheirWidth) {
  const std::string host(300, 'h');
  const std::string directory(300, 'd');
  EXPECT_EQ(HttpPostForm(platform_, "Agent", host, directory, 443, "", reply_, 10), PostResult::NoData);
  ASSERT_EQ(http_.Requests().size(), 1u);
  EXPECT_EQ(http_.Requests()[0].host, std::string(259, 'h'));
  EXPECT_EQ(http_.Requests()[0].objectName, "servlet/" + std::string(251, 'd'));
}

TEST_F(HttpPostFormTest, CommunicatePostGoesToTheConfiguredServer) {
  ServerAddress address;
  address.host = "srv1";
  address.directory = "x/y.php";
  address.port = 80;
  address.extraName = "mode";  // the extra field belongs to the file-list form, never to the transport
  http_.script = {Chunk("~ac=11")};
  EXPECT_EQ(CommunicatePost(platform_, "Agent", address, "ac=11", reply_, 100), PostResult::Ok);
  ASSERT_EQ(http_.Requests().size(), 1u);
  const platform::HttpPostRequest request = http_.Requests()[0];
  EXPECT_EQ(request.host, "srv1");
  EXPECT_EQ(request.objectName, "x/y.php");
  EXPECT_EQ(request.port, 80);
  EXPECT_FALSE(request.secure);
  EXPECT_EQ(request.body, "ac=11");
  EXPECT_EQ(reply_, "~ac=11");
}

TEST_F(HttpPostFormTest, AlertBoxOnlyWithTheSwitchFileAndOnlyOnAFailedRead) {
  http_.script = {ReadFails()};
  EXPECT_EQ(Post("UpdateServlet", 8443, 100), PostResult::NoData);
  EXPECT_TRUE(dialogs_.Boxes().empty());

  testing_support::WriteFile(dir_ / "cfg/AlertMode.cfg", "");
  http_.script = {Chunk("~ac=10")};
  EXPECT_EQ(Post("UpdateServlet", 8443, 100), PostResult::Ok);
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

class LoadServerAddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system_.executablePath = dir_ / "bin/websetup";
    platform_.system = &system_;
    platform_.files = &files_;
    platform_.http = &http_;
  }
  void WriteConfig(const std::string& text) { testing_support::WriteFile(dir_ / "bin/cfg/Updater.cfg", text); }
  ServerAddress Load() { return LoadServerAddress(platform_, "secure.example", 8443); }

  testing_support::TempDir dir_;
  fakes::FakeSystem system_;
  platform::PosixFileSystem files_;
  fakes::FakeHttpClient http_;
  platform::Platform platform_;
};

TEST_F(LoadServerAddressTest, WithoutTheFileTheBuiltInServerIsUsed) {
  testing_support::WriteFile(dir_ / "cfg/Updater.cfg", "~ip=wrong~po=80");  // not next to the executable
  const ServerAddress address = Load();
  EXPECT_EQ(address.host, "secure.example");
  EXPECT_EQ(address.directory, "UpdateServlet");
  EXPECT_EQ(address.port, 8443);
  EXPECT_EQ(address.extraName, "");
  EXPECT_EQ(address.extraValue, "");
  EXPECT_EQ(address.caFile, "");
  EXPECT_TRUE(http_.ExtraCaFiles().empty());
}

TEST_F(LoadServerAddressTest, TheFileSetsEveryField) {
  WriteConfig("~ip=srv1~srvl=x/y.php~po=80~pn1=mode~pv1=beta");
  const ServerAddress address = Load();
  EXPECT_EQ(address.host, "srv1");
  EXPECT_EQ(address.directory, "x/y.php");
  EXPECT_EQ(address.port, 80);
  EXPECT_EQ(address.extraName, "mode");
  EXPECT_EQ(address.extraValue, "beta");
  EXPECT_EQ(address.caFile, "");
  EXPECT_TRUE(http_.ExtraCaFiles().empty());
}

TEST_F(LoadServerAddressTest, AnEmptyFileGivesEmptyTextsAndPortZero) {
  WriteConfig("");
  const ServerAddress address = Load();
  EXPECT_EQ(address.host, "");
  EXPECT_EQ(address.directory, "");
  EXPECT_EQ(address.port, 0);
  EXPECT_EQ(address.extraName, "");
  EXPECT_EQ(address.extraValue, "");
}

TEST_F(LoadServerAddressTest, OnlyTheFirstThousandBytesCount) {
  WriteConfig("~ip=srv1" + std::string(1000 - 8, ' ') + "~po=80");
  const ServerAddress address = Load();
  EXPECT_EQ(address.host.substr(0, 4), "srv1");
  EXPECT_EQ(address.port, 0);
}

TEST_F(LoadServerAddressTest, CaFileIsTakenFromTheExecutableFolderAndHandedToTheTransport) {
  struct Row {
    const char* text;
    std::string caFile;
  };
  const std::string sep(1, platform::PathSeparator());
  const std::vector<Row> rows = {
      {"~ip=srv1~ca=certs\\test-ca.pem~po=443", dir_.path() + sep + "bin" + sep + "certs" + sep + "test-ca.pem"},
      {"~ip=srv1~ca=/etc/private/ca.pem\r\n", "/etc/private/ca.pem"},
      {"~ip=srv1~ca=", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    WriteConfig(row.text);
    const size_t before = http_.ExtraCaFiles().size();
    const ServerAddress address = Load();
    EXPECT_EQ(address.host, "srv1");
    EXPECT_EQ(address.caFile, row.caFile);
    const std::vector<std::string> handed = http_.ExtraCaFiles();
    if (row.caFile.empty()) {
      EXPECT_EQ(handed.size(), before);
    } else {
      ASSERT_EQ(handed.size(), before + 1);
      EXPECT_EQ(handed.back(), row.caFile);
    }
  }
}

}  // namespace
}  // namespace net
