// The reference update server as a client sees it: replies per action code,
// the request log, every misbehaviour mode and the TLS certificates.
#include <cctype>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include "support/refserver.h"
#include "support/temp_dir.h"

namespace {

using testing_support::RefServer;
using testing_support::RefServerOptions;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr const char* kUpdate = "/servlet/UpdateServlet";
constexpr const char* kForm = "application/x-www-form-urlencoded";

std::unique_ptr<httplib::Client> PlainClient(const RefServer& server, int readSeconds = 5) {
  auto client = std::make_unique<httplib::Client>("http://127.0.0.1:" + std::to_string(server.httpPort()));
  client->set_connection_timeout(std::chrono::seconds(5));
  client->set_read_timeout(std::chrono::seconds(readSeconds));
  return client;
}

std::unique_ptr<httplib::Client> SecureClient(const RefServer& server, const std::string& host) {
  auto client = std::make_unique<httplib::Client>("https://" + host + ":" + std::to_string(server.httpsPort()));
  client->set_ca_cert_path(server.caFile().c_str());
  client->enable_server_certificate_verification(true);
  client->set_connection_timeout(std::chrono::seconds(5));
  client->set_read_timeout(std::chrono::seconds(5));
  return client;
}

// The value of `key` ("~url=") in a key-value text, up to the next "~" or "|".
std::string ValueOf(const std::string& text, const std::string& key, size_t from = 0) {
  const size_t start = text.find(key, from);
  if (start == std::string::npos) return {};
  const size_t end = text.find_first_of("~|", start + key.size());
  return text.substr(start + key.size(), end == std::string::npos ? std::string::npos : end - start - key.size());
}

std::string PercentEncode(const std::string& value) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_') {
      out += c;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

class RefServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.started()); }

  httplib::Result PostForm(const std::string& body, const std::string& path = kUpdate) {
    return PlainClient(server_)->Post(path, body, kForm);
  }

  RefServer server_;
};

TEST_F(RefServerTest, AnswersEachActionCodeWithItsReply) {
  struct Row {
    std::string body;
    std::string replyStart;
    std::string replyEnd;
  };
  const std::vector<Row> rows = {
      {"ac=10&sn=S1", "~ac=10~url=", "||"},
      {"ac=11&sn=S1&langID=en", "~ac=11~sn=", "~fl=||"},
      {"ac=12&sn=100001&pid=1", "~ac=12~pix1=", ".html"},
      {"ac=15&param1=p&pid=1", "~ac=15", "~ac=15"},
      {"ac=101&sn=S1&txt=START", "~ac=101", "~ac=101"},
      {"ac=13", "~ac=30", "~ac=30"},
      {"sn=no-action-code", "~ac=30", "~ac=30"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body);
    const auto result = PostForm(row.body);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body.rfind(row.replyStart, 0), 0u) << result->body;
    EXPECT_TRUE(result->body.ends_with(row.replyEnd)) << result->body;
  }
  const auto fileList = PostForm("ac=11");
  ASSERT_TRUE(fileList);
  for (const char* key : {"~sn=", "~cv=", "~cb=", "~lrm=", "~rmp=", "~pix1=", "~pix2="}) {
    EXPECT_FALSE(ValueOf(fileList->body, key).empty()) << key << " in " << fileList->body;
  }
}

TEST(RefServerFiles, InitialPostNamesMovieFilesThatTheServerServes) {
  TempDir files;
  for (const char* name : {"DlgUpdater.qrx", "mcLogo.qrx", "mcLang.qrx"}) {
    WriteFile(files / (std::string("movies/") + name), std::string("movie ") + name);
  }
  RefServerOptions options;
  options.filesDir = files.path();
  RefServer server(options);
  ASSERT_TRUE(server.started());
  auto client = SecureClient(server, "localhost");
  const auto reply = client->Post(kUpdate, "ac=10&sn=S1", kForm);
  ASSERT_TRUE(reply) << httplib::to_string(reply.error());

  const std::string base = "https://localhost:" + std::to_string(server.httpsPort());
  EXPECT_EQ(ValueOf(reply->body, "~url="), base + "/servlet/Dispatcher");
  const size_t list = reply->body.find("~fl=|");
  ASSERT_NE(list, std::string::npos);
  for (const char* name : {"DlgUpdater.qrx", "mcLogo.qrx", "mcLang.qrx"}) {
    SCOPED_TRACE(name);
    const size_t item = reply->body.find(std::string("~fn=") + name, list);
    ASSERT_NE(item, std::string::npos) << reply->body;
    const std::string url = ValueOf(reply->body, "~url=", item);
    ASSERT_EQ(url.rfind(base, 0), 0u) << url;
    const auto movie = client->Get(url.substr(base.size()));
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->status, 200);
    EXPECT_EQ(movie->body, std::string("movie ") + name);
  }
}

TEST(RefServerFiles, RefusesNamesOutsideTheFilesFolder) {
  TempDir root;
  WriteFile(root / "secret.txt", "secret");
  WriteFile(root / "files/inside.txt", "inside");
  std::filesystem::create_symlink(root / "secret.txt", root / "files/link.txt");
  RefServerOptions options;
  options.filesDir = root / "files";
  RefServer server(options);
  ASSERT_TRUE(server.started());
  auto client = PlainClient(server);

  const auto inside = client->Get("/files/inside.txt");
  ASSERT_TRUE(inside);
  EXPECT_EQ(inside->body, "inside");
  for (const char* path : {"/files/../secret.txt", "/files/%2e%2e/secret.txt", "/files/link.txt",
                           "/files/missing.txt", "/files//etc/passwd"}) {
    SCOPED_TRACE(path);
    const auto result = client->Get(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 404);
    EXPECT_EQ(result->body.find("secret"), std::string::npos);
  }
}

TEST(RefServerReplies, ReplySetFileReplacesChosenReplies) {
  TempDir dir;
  WriteFile(dir / "replies.txt",
            "# file list for one test\n"
            "ac=11 ~ac=11~sn={form:sn}~fl=|~fn=a.dll~url={base}/files/a.dll||\n"
            "\n"
            "ac=other ~ac=31\n"
            "pixel PIXEL\\nOK\r\n");
  RefServerOptions options;
  options.replySet = dir / "replies.txt";
  RefServer server(options);
  ASSERT_TRUE(server.started());
  auto client = PlainClient(server);
  const std::string base = "http://127.0.0.1:" + std::to_string(server.httpPort());

  const auto fileList = client->Post(kUpdate, "ac=11&sn=X%7E1", kForm);
  ASSERT_TRUE(fileList);
  EXPECT_EQ(fileList->body, "~ac=11~sn=X~1~fl=|~fn=a.dll~url=" + base + "/files/a.dll||");
  const auto initial = client->Post(kUpdate, "ac=10", kForm);
  ASSERT_TRUE(initial);
  EXPECT_EQ(initial->body.rfind("~ac=10~url=", 0), 0u) << "built-in reply kept";
  const auto unknown = client->Post(kUpdate, "ac=15", kForm);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->body, "~ac=15") << "built-in reply kept";
  const auto other = client->Post(kUpdate, "ac=77", kForm);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->body, "~ac=31");
  const auto pixel = client->Post("/servlet/PixelServlet", "ac=1", kForm);
  ASSERT_TRUE(pixel);
  EXPECT_EQ(pixel->body, "PIXEL\nOK");
}

TEST(RefServerReplies, StartFailsOnUnreadableReplySet) {
  static RefServerOptions options;
  options.replySet = "/nonexistent/replies.txt";
  EXPECT_NONFATAL_FAILURE({ RefServer server(options); }, "did not come up");
}

TEST_F(RefServerTest, PhpDirectoryIsAnsweredLikeTheUpdateServlet) {
  const auto result = PostForm("ac=15&param1=p", "/cgi/update.php");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, "~ac=15");
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].path, "/cgi/update.php");
}

TEST_F(RefServerTest, LogHoldsEachRequestWithItsFormDecodedExactly) {
  const std::string tricky = "a&b=c+d e%f~g\nh\r\x01\xE9|";
  const std::string body = "ac=101&txt=" + PercentEncode(tricky) + "&empty=&sn=S%201";
  auto client = PlainClient(server_);
  client->set_default_headers({{"User-Agent", "Test Installer"}});
  ASSERT_TRUE(client->Post(kUpdate, body, kForm));
  ASSERT_TRUE(SecureClient(server_, "127.0.0.1")->Post("/servlet/PixelServlet", "ac=1&sn=S", kForm));
  server_.Misbehave("html", kUpdate);  // control requests stay out of the log

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto& update = requests[0];
  EXPECT_EQ(update.method, "POST");
  EXPECT_EQ(update.path, kUpdate);
  EXPECT_EQ(update.userAgent, "Test Installer");
  EXPECT_EQ(update.contentType, kForm);
  EXPECT_EQ(update.contentTypeHeaders, 1);
  EXPECT_FALSE(update.tls);
  EXPECT_EQ(update.rawBody, body);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"ac", "101"}, {"txt", tricky}, {"empty", ""}, {"sn", "S 1"}};
  EXPECT_EQ(update.form, expected);
  EXPECT_EQ(update.Field("txt"), tricky);
  EXPECT_TRUE(update.HasField("empty"));
  EXPECT_FALSE(update.HasField("pid"));
  EXPECT_TRUE(update.misbehave.empty());

  EXPECT_EQ(requests[1].path, "/servlet/PixelServlet");
  EXPECT_TRUE(requests[1].tls);
  EXPECT_EQ(requests[1].Field("sn"), "S");
}

// Each misbehaviour as the client meets it; the request after it is
// answered normally again.
class MisbehaviourTest : public RefServerTest {
 protected:
  void ExpectNormalAfterwards() {
    const auto next = PostForm("ac=15");
    ASSERT_TRUE(next) << httplib::to_string(next.error());
    EXPECT_EQ(next->body, "~ac=15");
  }
};

TEST_F(MisbehaviourTest, CloseEndsTheConnectionWithoutAReply) {
  server_.Misbehave("close", kUpdate);
  const auto result = PostForm("ac=15");
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error(), httplib::Error::Read);
  ExpectNormalAfterwards();
  ASSERT_EQ(server_.Requests().size(), 2u);
  EXPECT_EQ(server_.Requests()[0].misbehave, "close");
}

TEST_F(MisbehaviourTest, CloseWorksOnTheSecurePort) {
  server_.Misbehave("close", kUpdate);
  auto client = SecureClient(server_, "localhost");
  const auto closed = client->Post(kUpdate, "ac=15", kForm);
  EXPECT_FALSE(closed);
  const auto next = client->Post(kUpdate, "ac=15", kForm);
  ASSERT_TRUE(next) << httplib::to_string(next.error());
  EXPECT_EQ(next->body, "~ac=15");
}

TEST_F(MisbehaviourTest, StallOutlastsAShortClientTimeout) {
  server_.Misbehave("stall", kUpdate, 1, "", 4);
  const auto start = std::chrono::steady_clock::now();
  const auto result = PlainClient(server_, 1)->Post(kUpdate, "ac=15", kForm);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(result);
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(4));
}

TEST_F(MisbehaviourTest, StallThenCloseGivesNoReply) {
  server_.Misbehave("stall", kUpdate, 1, "", 1);
  const auto start = std::chrono::steady_clock::now();
  const auto result = PostForm("ac=15");
  EXPECT_FALSE(result);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  ExpectNormalAfterwards();
}

TEST_F(MisbehaviourTest, HtmlIsAnErrorPage) {
  server_.Misbehave("html", kUpdate);
  const auto result = PostForm("ac=10");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 500);
  ASSERT_FALSE(result->body.empty());
  EXPECT_EQ(result->body[0], '<');
  ExpectNormalAfterwards();
}

TEST_F(MisbehaviourTest, LongReplyHasTheAskedSizeAndLooksValid) {
  server_.Misbehave("long", kUpdate, 1, "", 0, 150000);
  const auto result = PostForm("ac=11");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body.size(), 150000u);
  EXPECT_EQ(result->body.rfind("~ac=11~sn=", 0), 0u);
  EXPECT_NE(result->body.find("~fl=||"), std::string::npos);
}

TEST_F(MisbehaviourTest, DropDeliversPartOfTheAnnouncedReply) {
  server_.Misbehave("drop", kUpdate, 1, "", 0, 7);
  httplib::Request request;
  request.method = "POST";
  request.path = kUpdate;
  request.body = "ac=10";
  request.set_header("Content-Type", kForm);
  std::string received;
  request.content_receiver = [&](const char* data, size_t size, uint64_t, uint64_t) {
    received.append(data, size);
    return true;
  };
  const auto result = PlainClient(server_)->send(request);
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error(), httplib::Error::Read);
  EXPECT_EQ(received, "~ac=10~");
  ExpectNormalAfterwards();
}

TEST_F(MisbehaviourTest, BadAcReplacesOnlyTheActionCode) {
  const auto normal = PostForm("ac=10");
  server_.Misbehave("badac", kUpdate);
  const auto bad = PostForm("ac=10");
  ASSERT_TRUE(normal);
  ASSERT_TRUE(bad);
  const std::string code = ValueOf(bad->body, "~ac=");
  EXPECT_FALSE(code.empty());
  for (const char* known : {"10", "11", "12", "15", "30", "101"}) EXPECT_NE(code, known);
  EXPECT_EQ(bad->body.substr(bad->body.find("~url=")), normal->body.substr(normal->body.find("~url=")));
}

TEST_F(MisbehaviourTest, EmptyIsAnEmptySuccess) {
  server_.Misbehave("empty", kUpdate);
  const auto result = PostForm("ac=11");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_TRUE(result->body.empty());
  ExpectNormalAfterwards();
}

TEST_F(MisbehaviourTest, ControlRefusesUnknownModesAndMissingToken) {
  static RefServer* server;
  server = &server_;
  EXPECT_NONFATAL_FAILURE(server->Misbehave("explode", kUpdate), "answered 400");
  const auto withoutToken = PostForm("mode=empty&path=%2Fservlet%2FUpdateServlet", "/control/misbehave");
  ASSERT_TRUE(withoutToken);
  EXPECT_EQ(withoutToken->status, 403);
  ExpectNormalAfterwards();
}

TEST_F(MisbehaviourTest, MatchesByActionCodeAndCountsTimes) {
  server_.Misbehave("empty", kUpdate, 2, "11");
  const std::vector<std::pair<std::string, bool>> sequence = {
      {"ac=15", false}, {"ac=11", true}, {"ac=101", false}, {"ac=11", true}, {"ac=11", false}};
  for (const auto& [body, misbehaves] : sequence) {
    SCOPED_TRACE(body);
    const auto result = PostForm(body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->body.empty(), misbehaves);
  }
  const auto pixel = PostForm("ac=11", "/servlet/PixelServlet");
  ASSERT_TRUE(pixel);
  EXPECT_FALSE(pixel->body.empty()) << "another path is not matched";
}

TEST_F(MisbehaviourTest, FolderPathCoversFilesAndResetDisarms) {
  server_.Misbehave("html", "/files/", 5);
  const auto file = PlainClient(server_)->Get("/files/any/name.bin");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->status, 500);
  server_.ResetMisbehaviour();
  const auto after = PlainClient(server_)->Get("/files/any/name.bin");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 404);
}

TEST(RefServerStop, StopCutsAStallShort) {
  std::future<httplib::Result> stalled;
  const auto start = std::chrono::steady_clock::now();
  {
    RefServer server;
    ASSERT_TRUE(server.started());
    server.Misbehave("stall", kUpdate, 1, "", 60);
    const int port = server.httpPort();
    stalled = std::async(std::launch::async, [port] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(std::chrono::seconds(30));
      return client.Post(kUpdate, "ac=15", kForm);
    });
    // The stall has begun once the server has logged the request.
    while (server.Requests().empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(server.Requests().size(), 1u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(stalled.get()) << "the stalled request got no reply";
}

TEST_F(RefServerTest, TestCaVerifiesTheServerForLoopbackNames) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    const auto result = SecureClient(server_, host)->Post(kUpdate, "ac=15", kForm);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->body, "~ac=15");
  }
  auto systemStoreOnly = std::make_unique<httplib::Client>("https://localhost:" + std::to_string(server_.httpsPort()));
  systemStoreOnly->enable_server_certificate_verification(true);
  const auto refused = systemStoreOnly->Post(kUpdate, "ac=15", kForm);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.error(), httplib::Error::SSLServerVerification);
}

TEST(RefServerCertificates, CertificateForAnotherHostIsRefused) {
  RefServerOptions options;
  options.certificate = "otherhost";
  RefServer server(options);
  ASSERT_TRUE(server.started());
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    const auto result = SecureClient(server, host)->Post(kUpdate, "ac=15", kForm);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error(), httplib::Error::SSLServerVerification);
  }
  EXPECT_TRUE(server.Requests().empty()) << "nothing reached the server";
}

}  // namespace
