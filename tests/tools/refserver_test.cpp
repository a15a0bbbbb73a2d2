// The reference update server as a client sees it: replies per action code,
// the request log, every misbehaviour mode and the TLS certificates; the
// sample client file set, its file list and its programs.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <set>
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
using testing_support::ReadFile;
using testing_support::SampleClientDir;
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
  // A minimal system may have no hosts file: "localhost" is loopback all the
  // same (the certificate is still checked for the name).
  client->set_hostname_addr_map({{"localhost", "127.0.0.1"}});
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

// A second server on a port in use fails with a clear message instead of
// sharing the port and taking half of the first server's connections.
TEST(RefServerStart, PortInUseIsRefused) {
  RefServer first;
  ASSERT_TRUE(first.started());
  TempDir dir;
  const std::string certs = WEBSETUP_TEST_CERT_DIR;
  const std::string command = "timeout 10 " + std::string(WEBSETUP_BIN_DIR) + "/refserver --http-port 0 --https-port " +
                              std::to_string(first.httpsPort()) + " --cert " + certs + "/server.pem --key " +
                              certs + "/server.key --log " + (dir / "log.txt") + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << output;
  EXPECT_NE(output.find("the port is in use"), std::string::npos) << output;
  EXPECT_EQ(output.find("listening"), std::string::npos) << output;
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
  systemStoreOnly->set_hostname_addr_map({{"localhost", "127.0.0.1"}});
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

namespace {

// ---------------------------------------------------------------------------
// The sample client file set and its file list.

// One record of a file list.
struct ListEntry {
  std::string fn, fo, rd, fs, url;
  // The path below the installation: the folder parts joined by "/".
  std::string Path() const {
    std::string folder = rd;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder.empty() ? fn : folder + "/" + fn;
  }
};

// The records between "~fl=" and "||"; fails the test when the list is not
// closed.
std::vector<ListEntry> ParseList(const std::string& reply) {
  std::vector<ListEntry> entries;
  const size_t start = reply.find("~fl=");
  const size_t end = reply.find("||", start);
  EXPECT_NE(start, std::string::npos) << reply;
  EXPECT_NE(end, std::string::npos) << "list not closed: " << reply;
  if (start == std::string::npos || end == std::string::npos) return entries;
  const std::string list = reply.substr(start + 4, end - start - 4);
  for (size_t open = list.find('|'); open != std::string::npos;) {
    const size_t next = list.find('|', open + 1);
    const std::string record = "|" + list.substr(open + 1, next == std::string::npos ? next : next - open - 1);
    entries.push_back({ValueOf(record, "~fn="), ValueOf(record, "~fo="), ValueOf(record, "~rd="),
                       ValueOf(record, "~fs="), ValueOf(record, "~url=")});
    open = next;
  }
  return entries;
}

struct Ran {
  bool ended = false;  // within the time limit
  int exitCode = -1;
};

// Runs `program` with `args` in `folder` the way the installer does: the
// file gets its owner's execute bit and the kernel starts it, interpreter
// line and all, with no shell of ours in between. `logFile` goes to the
// programs in WEBSETUP_SAMPLE_LOG. Waits at most 10 s.
Ran RunIn(const std::string& folder, const std::string& program, const std::vector<std::string>& args,
          const std::string& logFile) {
  std::filesystem::permissions(folder + "/" + program, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  std::vector<std::string> argStore = {folder + "/" + program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argStore) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string logSetting = "WEBSETUP_SAMPLE_LOG=" + logFile;

  const pid_t pid = fork();
  if (pid == 0) {
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    if (chdir(folder.c_str()) != 0) _exit(126);
    putenv(const_cast<char*>(logSetting.c_str()));
    execv(argv[0], argv.data());
    _exit(127);
  }
  Ran ran;
  if (pid < 0) return ran;
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidFd >= 0) {
    pollfd ended{pidFd, POLLIN, 0};
    ran.ended = poll(&ended, 1, 10000) == 1;
    close(pidFd);
  }
  if (!ran.ended) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (ran.ended && WIFEXITED(status)) ran.exitCode = WEXITSTATUS(status);
  return ran;
}

class SampleClientSetTest : public ::testing::Test {
 protected:
  static RefServerOptions Options() {
    RefServerOptions options;
    options.filesDir = SampleClientDir();
    options.clientSet = SampleClientDir() + "/client";
    return options;
  }

  void SetUp() override {
    ASSERT_TRUE(server_.started());
    const auto reply = PlainClient(server_)->Post(kUpdate, "ac=11&sn=S1", kForm);
    ASSERT_TRUE(reply) << httplib::to_string(reply.error());
    reply_ = reply->body;
    entries_ = ParseList(reply_);
    ASSERT_FALSE(entries_.empty()) << reply_;
  }

  const ListEntry* Find(const std::string& path) const {
    for (const ListEntry& entry : entries_) {
      if (entry.Path() == path) return &entry;
    }
    return nullptr;
  }

  // Fetches a listed address into `target`.
  void Download(const ListEntry& entry, const std::string& target) {
    const std::string base = "http://127.0.0.1:" + std::to_string(server_.httpPort());
    ASSERT_EQ(entry.url.rfind(base, 0), 0u) << entry.url;
    const auto file = PlainClient(server_)->Get(entry.url.substr(base.size()));
    ASSERT_TRUE(file) << entry.url;
    ASSERT_EQ(file->status, 200) << entry.url;
    WriteFile(target, file->body);
  }

  RefServer server_{Options()};
  std::string reply_;
  std::vector<ListEntry> entries_;
  TempDir work_;
};

TEST_F(SampleClientSetTest, FileListNamesEveryFileOnceWithTheSizeThatIsServed) {
  const size_t list = reply_.find("~fl=");
  for (const char* key : {"~ac=11", "~sn=", "~cv=", "~cb=", "~lrm=", "~rmp="}) {
    const size_t at = reply_.find(key);
    EXPECT_LT(at, list) << key << " stands before the list: " << reply_;
  }
  EXPECT_TRUE(reply_.ends_with("||"));

  std::set<std::string> onDisk;
  const std::string clientDir = SampleClientDir() + "/client";
  for (const auto& file : std::filesystem::recursive_directory_iterator(clientDir)) {
    if (file.is_regular_file()) onDisk.insert(std::filesystem::relative(file.path(), clientDir).generic_string());
  }
  onDisk.erase(".operations");
  std::set<std::string> listed;
  for (const ListEntry& entry : entries_) {
    SCOPED_TRACE(entry.Path());
    EXPECT_TRUE(listed.insert(entry.Path()).second) << "listed twice";
    EXPECT_EQ(entry.url.substr(entry.url.rfind('/') + 1), entry.fn) << "address ends with the file's name";
    const std::string base = "http://127.0.0.1:" + std::to_string(server_.httpPort());
    const auto served = PlainClient(server_)->Get(entry.url.substr(base.size()));
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200);
    EXPECT_EQ(std::to_string(served->body.size()), entry.fs);
    EXPECT_TRUE(served->body == ReadFile(clientDir + "/" + entry.Path()));
  }
  EXPECT_EQ(listed, onDisk);
  for (const char* movie : {"DlgUpdater", "mcLogo", "mcLang"}) {  // the installer's, outside the set
    const auto served = PlainClient(server_)->Get(std::string("/files/movies/") + movie + ".qrx");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->body.rfind("<!DOCTYPE html>", 0), 0u) << movie;
    EXPECT_EQ(served->get_header_value("Content-Type"), "text/html; charset=utf-8") << movie;
  }
}

TEST_F(SampleClientSetTest, ArchiveComesFirstTheStagingProgramLastAndTheClientFilesAreWritten) {
  EXPECT_EQ(entries_.front().fn, "bundle.exe");
  EXPECT_EQ(entries_.front().fo, "X");
  EXPECT_EQ(entries_.back().fn, "prepare.exe");
  EXPECT_EQ(entries_.back().fo, "R");
  std::vector<std::string> written;
  for (size_t i = 1; i + 1 < entries_.size(); ++i) {
    EXPECT_EQ(entries_[i].fo, "W") << entries_[i].Path();
    written.push_back(entries_[i].Path());
  }
  EXPECT_TRUE(std::is_sorted(written.begin(), written.end()));
  // What the finished installation is looked for by.
  for (const char* path : {"Salon.exe", "Wirex.dll", "Tavrel.dll", "WebPane.exe", "Updater.exe", "Uninstall.exe",
                           "AppSmall.ico", "UninstallSmall.ico", "AppBig.ico", "qrx/DlgMsg.qrx", "qrx/mcLang.qrx"}) {
    EXPECT_NE(Find(path), nullptr) << path;
  }
  const ListEntry* map = Find("data/maps/map1.dat");
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->rd, "data\\maps");
}

TEST_F(SampleClientSetTest, ArchiveUnpacksTheFilesThatLaterEntriesTakeFromTheExtractFolder) {
  const std::string extract = work_ / "Extract";
  Download(entries_.front(), extract + "/bundle.exe");
  const Ran ran = RunIn(extract, "bundle.exe", {}, work_ / "ran.log");
  ASSERT_TRUE(ran.ended);
  EXPECT_EQ(ran.exitCode, 0);
  EXPECT_EQ(ReadFile(work_ / "ran.log"), "bundle.exe " + extract + " \n");

  // Where the installer looks for an entry's file: the entry's folder in the
  // extract folder and the last part of its address.
  int supplied = 0;
  for (const ListEntry& entry : entries_) {
    std::string folder = entry.rd;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    const std::string extracted =
        extract + "/" + (folder.empty() ? "" : folder + "/") + entry.url.substr(entry.url.rfind('/') + 1);
    if (entry.fo != "W" || !std::filesystem::exists(extracted)) continue;
    SCOPED_TRACE(entry.Path());
    ++supplied;
    EXPECT_EQ(std::to_string(std::filesystem::file_size(extracted)), entry.fs) << "usable instead of a download";
    EXPECT_TRUE(ReadFile(extracted) == ReadFile(SampleClientDir() + "/client/" + entry.Path()));
  }
  EXPECT_EQ(supplied, 2) << "data/maps/map1.dat and map2.dat";
}

TEST_F(SampleClientSetTest, ProgramsRunFromTheirFolderAndLeaveTheirMarks) {
  struct Row {
    std::string program;
    std::string runAs;  // the name it carries in the folder
    std::vector<std::string> args;
    std::string mark;
    int exitCode;
  };
  const std::vector<Row> rows = {
      {"Salon.exe", "QuorixSalon.exe", {"-lobby", "two words"}, "salon-started.txt", 0},
      {"WebPane.exe", "QuorixWebPane.exe", {}, "webpane-started.txt", 0},
      {"Uninstall.exe", "Uninstall.exe", {}, "uninstall-ran.txt", 0},
      {"prepare.exe", "prepare.exe", {}, "prepare-ran.txt", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.runAs);
    const ListEntry* entry = Find(row.program);
    ASSERT_NE(entry, nullptr);
    TempDir folder;
    Download(*entry, folder / row.runAs);
    const Ran ran = RunIn(folder.path(), row.runAs, row.args, folder / "ran.log");
    ASSERT_TRUE(ran.ended);
    EXPECT_EQ(ran.exitCode, row.exitCode);
    std::string args;
    for (const std::string& arg : row.args) args += (args.empty() ? "" : " ") + arg;
    EXPECT_EQ(ReadFile(folder / row.mark), "args=" + args + "\nfolder=" + folder.path() + "\n");
    EXPECT_EQ(ReadFile(folder / "ran.log"), row.program + " " + folder.path() + " " + args + "\n");
  }
}

TEST_F(SampleClientSetTest, LauncherStartsTheClientUnderItsInstalledName) {
  Download(*Find("Updater.exe"), work_ / "Quorix.exe");
  Download(*Find("Salon.exe"), work_ / "QuorixSalon.exe");  // no execute bit yet
  TempDir elsewhere;
  const Ran ran = RunIn(elsewhere.path(), "../" + std::filesystem::path(work_.path()).filename().string() + "/Quorix.exe",
                        {"play"}, work_ / "ran.log");
  ASSERT_TRUE(ran.ended);
  EXPECT_EQ(ran.exitCode, 0);
  EXPECT_EQ(ReadFile(work_ / "launcher-started.txt"), "args=play\nfolder=" + work_.path() + "\n");
  EXPECT_EQ(ReadFile(work_ / "salon-started.txt"), "args=play\nfolder=" + work_.path() + "\n")
      << "the client runs in the installation folder";
  EXPECT_FALSE(std::filesystem::exists(elsewhere / "salon-started.txt"));

  std::filesystem::remove(work_ / "QuorixSalon.exe");
  const Ran alone = RunIn(work_.path(), "Quorix.exe", {}, work_ / "ran.log");
  ASSERT_TRUE(alone.ended);
  EXPECT_NE(alone.exitCode, 0) << "no client to start";
}

// A client folder of one test: its files, its operations file, and the
// reply the server makes of it.
TEST(RefServerClientSet, EntriesComeArchivesFirstThenFilesInPathOrderThenDeletionsThenPrograms) {
  TempDir set;
  WriteFile(set / "b.dat", "bb");
  WriteFile(set / "a/z.dat", "zzz");
  WriteFile(set / "A.dat", "A");
  WriteFile(set / "setup.exe", "#!/bin/sh\n");
  WriteFile(set / "run.exe", "#!/bin/sh\nexit 0\n");
  WriteFile(set / "tools/second.exe", "2");
  WriteFile(set / ".operations", "# test set\nR run.exe\r\nX tools/second.exe\nD old/gone.dll\nX setup.exe\n");
  RefServerOptions options;
  options.clientSet = set.path();
  RefServer server(options);
  ASSERT_TRUE(server.started());
  const auto reply = PlainClient(server)->Post(kUpdate, "ac=11", kForm);
  ASSERT_TRUE(reply);
  const std::string base = "http://127.0.0.1:" + std::to_string(server.httpPort()) + "/files/client/";
  EXPECT_TRUE(reply->body.ends_with(
      "~fl="
      "|~fn=second.exe~fo=X~rd=tools~fs=1~url=" + base + "tools/second.exe"
      "|~fn=setup.exe~fo=X~rd=~fs=10~url=" + base + "setup.exe"
      "|~fn=A.dat~fo=W~rd=~fs=1~url=" + base + "A.dat"
      "|~fn=z.dat~fo=W~rd=a~fs=3~url=" + base + "a/z.dat"
      "|~fn=b.dat~fo=W~rd=~fs=2~url=" + base + "b.dat"
      "|~fn=gone.dll~fo=D~rd=old~fs=0~url=" + base + "old/gone.dll"
      "|~fn=run.exe~fo=R~rd=~fs=17~url=" + base + "run.exe"
      "||"))
      << reply->body;
  const auto served = PlainClient(server)->Get("/files/client/a/z.dat");
  ASSERT_TRUE(served);
  EXPECT_EQ(served->body, "zzz");
}

TEST(RefServerClientSet, BadOperationsOrMissingFolderStopTheStart) {
  struct Row {
    std::string name;
    std::string operations;  // empty: no client folder at all
  };
  const std::vector<Row> rows = {
      {"unknown letter", "Q setup.exe\n"},
      {"no path", "X\n"},
      {"archive not in the folder", "X missing.exe\n"},
      {"program not in the folder", "R missing.exe\n"},
      {"no folder", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir set;
    WriteFile(set / "setup.exe", "x");
    static RefServerOptions options;
    options.clientSet = row.operations.empty() ? set / "nonexistent" : set.path();
    if (!row.operations.empty()) WriteFile(set / ".operations", row.operations);
    EXPECT_NONFATAL_FAILURE({ RefServer server(options); }, "did not come up");
  }
}

TEST(RefServerReplies, ReplyFileIsServedByteForByteAndWinsOverTheClientSet) {
  TempDir dir;
  const std::string list = "~ac=11~sn=7~fl=|~fn=a\\new.dat~rd=data\\tab~url={base}/files/a|\n~fn=b~fo=W||";
  WriteFile(dir / "lists/list.txt", list);
  WriteFile(dir / "replies.txt", "acfile=11 lists/list.txt\nacfile=15 " + (dir / "lists/list.txt") + "\n");
  WriteFile(dir / "client/file.dat", "data");
  RefServerOptions options;
  options.replySet = dir / "replies.txt";
  options.clientSet = dir / "client";
  RefServer server(options);
  ASSERT_TRUE(server.started());
  const std::string base = "http://127.0.0.1:" + std::to_string(server.httpPort());
  std::string expected = list;
  expected.replace(expected.find("{base}"), 6, base);
  for (const char* body : {"ac=11", "ac=15"}) {
    SCOPED_TRACE(body);
    const auto reply = PlainClient(server)->Post(kUpdate, body, kForm);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, expected);
  }
}

// ---------------------------------------------------------------------------
// Misbehaviour of file downloads.

class FileMisbehaviourTest : public ::testing::Test {
 protected:
  static RefServerOptions Options(const TempDir& files) {
    WriteFile(files / "f/data.bin", std::string(5000, 'd'));
    WriteFile(files / "f/other.bin", "other");
    RefServerOptions options;
    options.filesDir = files.path();
    return options;
  }
  void SetUp() override { ASSERT_TRUE(server_.started()); }

  TempDir files_;
  RefServer server_{Options(files_)};
};

TEST_F(FileMisbehaviourTest, EachModeAnswersAsArmedAndOnlyForItsPathAndTimes) {
  struct Row {
    std::string mode;
    int bytes;
    int status;             // 0: no reply completes
    size_t received;        // body bytes that arrived
    std::string location;   // expected Location header
  };
  const std::vector<Row> rows = {
      {"wronglength", 100, 200, 5100, ""},
      {"wronglength", -100, 200, 4900, ""},
      {"wronglength", -6000, 200, 0, ""},
      {"dropafter", 1000, 0, 1000, ""},
      {"dropafter", 0, 0, 0, ""},
      {"404", 0, 404, 10, ""},
      {"redirect", 0, 302, 0, "/files/f/data.bin"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode + " " + std::to_string(row.bytes));
    server_.Misbehave(row.mode, "/files/f/data.bin", 2, "", 0, row.bytes);
    for (int request = 0; request < 3; ++request) {
      SCOPED_TRACE("request " + std::to_string(request));
      const bool armed = request < 2;
      std::string received;
      auto client = PlainClient(server_);
      const auto result = client->Get("/files/f/data.bin", [&](const char* data, size_t size) {
        received.append(data, size);
        return true;
      });
      EXPECT_EQ(received.size(), armed ? row.received : 5000u);
      if (armed && row.status == 0) {
        EXPECT_FALSE(result) << "the connection dropped";
        continue;
      }
      ASSERT_TRUE(result) << httplib::to_string(result.error());
      EXPECT_EQ(result->status, armed ? row.status : 200);
      if (armed && !row.location.empty()) {
        EXPECT_EQ(result->get_header_value("Location"), row.location);
      }
      const auto other = client->Get("/files/f/other.bin");
      ASSERT_TRUE(other);
      EXPECT_EQ(other->body, "other") << "another file is answered normally";
    }
  }
}

// Stall and trickle are met through the download client's own tests, which
// time them over both ports.
TEST_F(FileMisbehaviourTest, EndlessSendsChunksUntilTheClientHangsUp) {
  server_.Misbehave("endless", "/files/f/data.bin");
  std::string encoding, length;
  size_t received = 0;
  const auto result = PlainClient(server_)->Get(
      "/files/f/data.bin",
      [&](const httplib::Response& response) {
        encoding = response.get_header_value("Transfer-Encoding");
        length = response.get_header_value("Content-Length");
        return true;
      },
      [&](const char* data, size_t size) {
        EXPECT_EQ(std::count(data, data + size, 'd'), static_cast<std::ptrdiff_t>(size)) << "the file, repeated";
        received += size;
        return received < 4u * 1024 * 1024;
      });
  EXPECT_FALSE(result) << "only the client ends it";
  EXPECT_EQ(encoding, "chunked");
  EXPECT_EQ(length, "");
  EXPECT_GE(received, 4u * 1024 * 1024);
  const auto next = PlainClient(server_)->Get("/files/f/data.bin");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->body.size(), 5000u);
}

}  // namespace
