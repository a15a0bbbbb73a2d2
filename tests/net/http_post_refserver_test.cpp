// The POST client and the libcurl transport against the reference update
// server on loopback, over plain HTTP and over TLS. The server's ports are
// chosen at random, so the transport is picked explicitly through PostForm;
// the port rule of HttpPostForm is pinned by the unit tests, and the one
// exchange here that goes through the public path uses a TLS port as the
// rule demands.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_platform.h"
#include "net/http_post.h"
#include "net/request_forms.h"
#include "net/server_address.h"
#include "platform/posix/curl_http_client.h"
#include "platform/posix/posix_file_system.h"
#include "support/refserver.h"
#include "support/temp_dir.h"

namespace net {
namespace {

using testing_support::RefServer;
using testing_support::RefServerOptions;

constexpr const char* kAgent = "WebSetupTest/1.0";
constexpr const char* kUpdatePath = "/servlet/UpdateServlet";
constexpr size_t kCapacity = 10000;

platform::HttpTimeouts ShortTimeouts(int idleSeconds) {
  platform::HttpTimeouts timeouts;
  timeouts.connectSeconds = 10;
  timeouts.idleSeconds = idleSeconds;
  return timeouts;
}

class RefServerPostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The exchanges go to loopback only, never through a proxy the
    // environment may name.
    setenv("no_proxy", "127.0.0.1,localhost,::1", 1);
    platform_.system = &system_;
    platform_.files = &files_;
    platform_.http = &client_;
    platform_.dialogs = &dialogs_;
  }

  PostResult Post(const RefServer& server, bool tls, std::string_view body, std::string& reply,
                  size_t capacity = kCapacity, const std::string& directory = "UpdateServlet",
                  platform::HttpTimeouts timeouts = ShortTimeouts(10)) {
    PostTarget target;
    target.agent = kAgent;
    target.host = "127.0.0.1";
    target.directory = directory;
    target.port = tls ? server.httpsPort() : server.httpPort();
    target.secure = tls;
    target.timeouts = timeouts;
    return PostForm(platform_, target, body, reply, capacity);
  }

  fakes::FakeSystem system_;
  platform::PosixFileSystem files_;
  platform::CurlHttpClient client_;
  fakes::FakeDialogs dialogs_;
  platform::Platform platform_;
};

// Each case runs over plain HTTP and over TLS.
class RefServerTransportTest : public RefServerPostTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool Tls() const { return GetParam(); }
  void SetUp() override {
    RefServerPostTest::SetUp();
    ASSERT_TRUE(server_.started());
    client_.SetExtraCaFile(server_.caFile());
  }
  PostResult Post(std::string_view body, std::string& reply, size_t capacity = kCapacity,
                  const std::string& directory = "UpdateServlet", platform::HttpTimeouts timeouts = ShortTimeouts(10)) {
    return RefServerPostTest::Post(server_, Tls(), body, reply, capacity, directory, timeouts);
  }
  std::string NormalReply() {
    std::string reply;
    EXPECT_EQ(Post("ac=10", reply), PostResult::Ok);
    return reply;
  }

  RefServer server_;
};

INSTANTIATE_TEST_SUITE_P(Transports, RefServerTransportTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Https" : "Http"; });

TEST_P(RefServerTransportTest, OkReplyAndTheRequestAsTheServerSawIt) {
  std::string reply;
  EXPECT_EQ(Post("ac=10&sn=42", reply), PostResult::Ok);
  EXPECT_EQ(reply.rfind("~ac=10", 0), 0u) << reply;
  EXPECT_EQ(Post("ac=11", reply, kCapacity, "update.php"), PostResult::Ok);
  EXPECT_EQ(reply.rfind("~ac=11", 0), 0u) << reply;

  const std::vector<testing_support::LoggedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, kUpdatePath);
  EXPECT_EQ(requests[1].path, "/update.php");
  for (const testing_support::LoggedRequest& request : requests) {
    EXPECT_EQ(request.tls, Tls());
    EXPECT_EQ(request.userAgent, kAgent);
    EXPECT_EQ(request.contentTypeHeaders, 1);
    EXPECT_EQ(request.contentType, "application/x-www-form-urlencoded");
  }
  EXPECT_EQ(requests[0].rawBody, "ac=10&sn=42");
  EXPECT_EQ(requests[0].Field("sn"), "42");
}

TEST_P(RefServerTransportTest, EachFailureOfTheServerGivesItsResult) {
  const std::string normal = NormalReply();
  ASSERT_GT(normal.size(), 5u);
  std::string reply;

  server_.Misbehave("drop", kUpdatePath, 1, "", 0, 5);
  EXPECT_EQ(Post("ac=10", reply), PostResult::ReceiveData);
  EXPECT_EQ(reply, normal.substr(0, 5));

  server_.Misbehave("html", kUpdatePath);
  EXPECT_EQ(Post("ac=10", reply), PostResult::InternalServerError);
  EXPECT_EQ(reply.rfind("<html>", 0), 0u) << reply;

  server_.Misbehave("close", kUpdatePath);
  EXPECT_EQ(Post("ac=10", reply), PostResult::NoData);
  EXPECT_EQ(reply, "");

  server_.Misbehave("empty", kUpdatePath);
  EXPECT_EQ(Post("ac=10", reply), PostResult::NoData);
  EXPECT_EQ(reply, "");

  // Every misbehaviour was used up: the server answers normally again.
  EXPECT_EQ(Post("ac=10", reply), PostResult::Ok);
  EXPECT_EQ(reply, normal);
  EXPECT_TRUE(dialogs_.Boxes().empty());
}

TEST_P(RefServerTransportTest, LongRepliesAreCutAtTheCapacityOrReadWhole) {
  const std::string normal = NormalReply();
  std::string reply;

  server_.Misbehave("long", kUpdatePath, 1, "", 0, 50000);
  EXPECT_EQ(Post("ac=10", reply, 1000), PostResult::Ok);
  ASSERT_EQ(reply.size(), 999u);
  EXPECT_EQ(reply.substr(0, normal.size()), normal);

  // Far more than the transport holds unread at a time.
  server_.Misbehave("long", kUpdatePath, 1, "", 0, 3000000);
  EXPECT_EQ(Post("ac=10", reply, 4000000), PostResult::Ok);
  ASSERT_EQ(reply.size(), 3000000u);
  EXPECT_EQ(reply.substr(0, normal.size()), normal);
  EXPECT_EQ(reply.back(), 'x');
}

TEST_P(RefServerTransportTest, AStalledServerEndsWithinTheIdleTimeout) {
  server_.Misbehave("stall", kUpdatePath, 1, "", 60);
  std::string reply;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Post("ac=10", reply, kCapacity, "UpdateServlet", ShortTimeouts(2)), PostResult::NoData);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  std::cout << "stalled exchange ended after " << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms\n";
}

TEST_P(RefServerTransportTest, EncodedFormValuesArriveAsHeld) {
  const std::string held = "a&b=c+d%e~f\r\ng h|";
  std::string reply;
  EXPECT_EQ(Post("ac=10&sn=" + FormEncode(held) + "&pid=1", reply), PostResult::Ok);
  const std::vector<testing_support::LoggedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Field("sn"), held);
  EXPECT_EQ(requests[0].Field("pid"), "1");
  EXPECT_FALSE(requests[0].HasField("b"));
  EXPECT_EQ(requests[0].form.size(), 3u);
}

TEST_P(RefServerTransportTest, ParallelExchangesThroughOneClient) {
  constexpr int kThreads = 4;
  constexpr int kPostsEach = 3;
  std::vector<std::vector<PostResult>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &results] {
      for (int i = 0; i < kPostsEach; ++i) {
        std::string reply;
        results[t].push_back(Post("ac=10&sn=" + std::to_string(t), reply));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(results[t], std::vector<PostResult>(kPostsEach, PostResult::Ok)) << "thread " << t;
  }
  EXPECT_EQ(server_.Requests().size(), static_cast<size_t>(kThreads * kPostsEach));
}

TEST_F(RefServerPostTest, NobodyListeningGivesNoDataAndTheAlertBoxWhenSwitchedOn) {
  int httpPort = 0;
  int httpsPort = 0;
  {
    RefServer stopped;
    ASSERT_TRUE(stopped.started());
    httpPort = stopped.httpPort();
    httpsPort = stopped.httpsPort();
  }
  testing_support::TempDir dir;
  const std::string previous = files_.CurrentDirectory();
  ASSERT_TRUE(files_.SetCurrentDirectory(dir.path()));
  testing_support::WriteFile(dir / "cfg/AlertMode.cfg", "");

  std::string reply;
  EXPECT_EQ(HttpPostForm(platform_, kAgent, "127.0.0.1", "UpdateServlet", httpsPort, "ac=10", reply, kCapacity),
            PostResult::NoData);
  PostTarget plain;
  plain.agent = kAgent;
  plain.host = "127.0.0.1";
  plain.directory = "UpdateServlet";
  plain.port = httpPort;
  plain.secure = false;
  EXPECT_EQ(PostForm(platform_, plain, "ac=10", reply, kCapacity), PostResult::NoData);
  files_.SetCurrentDirectory(previous);

  const std::vector<fakes::FakeDialogs::Box> boxes = dialogs_.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Connection with the server failed.\n\nURL: 127.0.0.1\nDirectory: servlet/UpdateServlet\nPort: " +
                               std::to_string(httpsPort));
}

TEST_F(RefServerPostTest, TheServerCertificateMustBeTrustedAndNamedForTheHost) {
  RefServer server;
  ASSERT_TRUE(server.started());
  std::string reply;
  // Not trusted: the test CA is in no system store.
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::NoData);
  client_.SetExtraCaFile(server.caFile());
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::Ok);

  RefServerOptions otherHost;
  otherHost.certificate = "otherhost";
  RefServer misnamed(otherHost);
  ASSERT_TRUE(misnamed.started());
  EXPECT_EQ(Post(misnamed, true, "ac=10", reply), PostResult::NoData);

  platform::HttpPostRequest request;
  request.host = "127.0.0.1";
  request.port = misnamed.httpsPort();
  request.secure = true;
  request.objectName = "servlet/UpdateServlet";
  request.timeouts = ShortTimeouts(10);
  std::unique_ptr<platform::HttpStream> stream = client_.Post(request);
  char buffer[64];
  size_t received = 0;
  EXPECT_FALSE(stream->Read(buffer, sizeof buffer, &received));
  EXPECT_EQ(received, 0u);
  EXPECT_FALSE(stream->FailureText().empty());
  // Refused during the handshake: the request never reached the server.
  EXPECT_TRUE(misnamed.Requests().empty());
}

// With an extra CA file, the system's folder of certificates stays trusted
// too. The folder is replaced by one holding the test CA, and the extra file
// by an unrelated root, to show that each source is consulted on its own.
TEST_F(RefServerPostTest, ExtraCaFileAndSystemStoreAreTrustedTogether) {
  RefServer server;
  ASSERT_TRUE(server.started());
  std::string unrelatedRoot;
  for (const auto& entry : std::filesystem::directory_iterator("/etc/ssl/certs")) {
    if (entry.path().extension() == ".pem") {
      unrelatedRoot = entry.path().string();
      break;
    }
  }
  if (unrelatedRoot.empty()) GTEST_SKIP() << "no system certificates in /etc/ssl/certs";
  EXPECT_TRUE(std::filesystem::is_directory(client_.SystemCaFolder())) << client_.SystemCaFolder();
  testing_support::TempDir store;
  testing_support::TempDir emptyStore;
  std::filesystem::copy_file(server.caFile(), store / "test-ca.pem");
  const std::string rehash = "openssl rehash " + store.path() + " >/dev/null 2>&1";
  if (std::system(rehash.c_str()) != 0) GTEST_SKIP() << "openssl rehash is not available";

  std::string reply;
  client_.SetSystemCaFolder(store.path());
  client_.SetExtraCaFile(unrelatedRoot);
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::Ok) << "system folder not consulted";

  client_.SetSystemCaFolder(emptyStore.path());
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::NoData) << "trusted without any source";

  client_.SetExtraCaFile(server.caFile());
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::Ok) << "extra CA file not consulted";
}

// The whole path of a private server: "cfg\Updater.cfg" next to the
// executable names the server and its CA, and CommunicatePost reaches it
// over TLS by the port rule.
TEST_F(RefServerPostTest, ConfiguredPrivateServerWithItsOwnCa) {
  RefServer server;
  ASSERT_TRUE(server.started());
  testing_support::TempDir dir;
  std::filesystem::copy_file(server.caFile(), dir / "ca.pem");
  testing_support::WriteFile(dir / "bin/cfg/Updater.cfg", "~ip=127.0.0.1~srvl=UpdateServlet~po=" +
                                                              std::to_string(server.httpsPort()) +
                                                              "~pn1=mode~pv1=beta~ca=../ca.pem\n");
  system_.executablePath = dir / "bin/websetup";

  const ServerAddress address = LoadServerAddress(platform_, "unused.example", 443);
  EXPECT_EQ(address.port, server.httpsPort());
  std::string reply;
  EXPECT_EQ(CommunicatePost(platform_, kAgent, address, "ac=10", reply, kCapacity), PostResult::Ok);
  EXPECT_EQ(reply.rfind("~ac=10", 0), 0u) << reply;
  const std::vector<testing_support::LoggedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].tls);
  EXPECT_EQ(requests[0].path, kUpdatePath);
}

}  // namespace
}  // namespace net
