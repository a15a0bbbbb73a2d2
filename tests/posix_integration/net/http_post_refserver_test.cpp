// The POST client on the libcurl transport against the reference server on
// loopback. Its ports are random, so most cases pick plain HTTP or TLS
// explicitly through PostForm; the port rule itself is pinned by the unit
// tests, and the configured-server case goes through it on a TLS port.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <memory>
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

class RefServerPostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("no_proxy", "127.0.0.1,localhost,::1", 1);  // loopback only, never through a proxy
    platform_ = {&system_, &files_, &client_, &dialogs_};
  }
  PostResult Post(const RefServer& server, bool tls, std::string_view body, std::string& reply,
                  size_t capacity = 10000, int idleSeconds = 10) {
    PostTarget target{kAgent, "127.0.0.1", "UpdateServlet", tls ? server.httpsPort() : server.httpPort(), tls, {}};
    target.timeouts.connectSeconds = 10;
    target.timeouts.idleSeconds = idleSeconds;
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
  void SetUp() override {
    RefServerPostTest::SetUp();
    ASSERT_TRUE(server_.started());
    client_.SetExtraCaFile(server_.caFile());
  }
  PostResult Post(std::string_view body, std::string& reply, size_t capacity = 10000, int idleSeconds = 10) {
    return RefServerPostTest::Post(server_, GetParam(), body, reply, capacity, idleSeconds);
  }
  RefServer server_;
};
INSTANTIATE_TEST_SUITE_P(Transports, RefServerTransportTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Https" : "Http"; });

TEST_P(RefServerTransportTest, RequestArrivesAsSentAndEncodedValuesAsHeld) {
  const std::string held = "a&b=c+d%e~f\r\ng h|";
  std::string reply;
  EXPECT_EQ(Post("ac=10&sn=" + FormEncode(held) + "&pid=1", reply), PostResult::Ok);
  EXPECT_EQ(reply.rfind("~ac=10", 0), 0u) << reply;
  const std::vector<testing_support::LoggedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, kUpdatePath);
  EXPECT_EQ(requests[0].tls, GetParam());
  EXPECT_EQ(requests[0].userAgent, kAgent);
  EXPECT_EQ(requests[0].contentTypeHeaders, 1);
  EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[0].Field("sn"), held);
  EXPECT_EQ(requests[0].form.size(), 3u);
}

TEST_P(RefServerTransportTest, EachServerFailureGivesItsResult) {
  std::string normal, reply;
  ASSERT_EQ(Post("ac=10", normal), PostResult::Ok);
  server_.Misbehave("drop", kUpdatePath, 1, "", 0, 5);
  EXPECT_EQ(Post("ac=10", reply), PostResult::ReceiveData);
  EXPECT_EQ(reply, normal.substr(0, 5));
  server_.Misbehave("html", kUpdatePath);
  EXPECT_EQ(Post("ac=10", reply), PostResult::InternalServerError);
  EXPECT_EQ(reply.rfind("<html>", 0), 0u) << reply;
  for (const char* mode : {"close", "empty"}) {
    server_.Misbehave(mode, kUpdatePath);
    EXPECT_EQ(Post("ac=10", reply), PostResult::NoData) << mode;
    EXPECT_EQ(reply, "") << mode;
  }
  server_.Misbehave("long", kUpdatePath, 1, "", 0, 50000);
  EXPECT_EQ(Post("ac=10", reply, 1000), PostResult::Ok);
  EXPECT_EQ(reply.size(), 999u);
  EXPECT_EQ(reply.substr(0, normal.size()), normal);
  // Far more than the transport holds unread at a time.
  server_.Misbehave("long", kUpdatePath, 1, "", 0, 3000000);
  EXPECT_EQ(Post("ac=10", reply, 4000000), PostResult::Ok);
  EXPECT_EQ(reply.size(), 3000000u);
}

TEST_P(RefServerTransportTest, AStalledServerEndsWithinTheIdleTime) {
  server_.Misbehave("stall", kUpdatePath, 1, "", 60);
  std::string reply;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Post("ac=10", reply, 10000, 2), PostResult::NoData);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_P(RefServerTransportTest, ParallelExchangesThroughOneClient) {
  std::vector<int> ok(4, 0);
  std::vector<std::thread> threads;
  for (int& count : ok) {
    threads.emplace_back([this, &count] {
      std::string reply;
      for (int i = 0; i < 3; ++i) count += Post("ac=10", reply) == PostResult::Ok;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(ok, std::vector<int>(4, 3));
}

TEST_F(RefServerPostTest, NobodyListeningGivesNoData) {
  auto stopped = std::make_unique<RefServer>();
  ASSERT_TRUE(stopped->started());
  const RefServer& ports = *stopped;
  PostTarget plain{kAgent, "127.0.0.1", "UpdateServlet", ports.httpPort(), false, {}};
  PostTarget tls{kAgent, "127.0.0.1", "UpdateServlet", ports.httpsPort(), true, {}};
  stopped.reset();
  std::string reply;
  EXPECT_EQ(PostForm(platform_, plain, "ac=10", reply, 100), PostResult::NoData);
  EXPECT_EQ(PostForm(platform_, tls, "ac=10", reply, 100), PostResult::NoData);
}

TEST_F(RefServerPostTest, TheCertificateMustBeTrustedAndNamedForTheHost) {
  RefServer server;
  testing_support::RefServerOptions otherHost;
  otherHost.certificate = "otherhost";
  RefServer misnamed(otherHost);
  ASSERT_TRUE(server.started() && misnamed.started());
  std::string reply;
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::NoData) << "test CA trusted without being named";
  client_.SetExtraCaFile(server.caFile());
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::Ok);
  EXPECT_EQ(Post(misnamed, true, "ac=10", reply), PostResult::NoData);
  EXPECT_TRUE(misnamed.Requests().empty()) << "refused during the handshake";
}

// With an extra CA file, the system's certificate folder stays trusted too.
// The folder is swapped for one holding the test CA, and the extra file for
// an unrelated root, to show that each source is consulted on its own.
TEST_F(RefServerPostTest, ExtraCaFileAndSystemStoreAreTrustedTogether) {
  RefServer server;
  ASSERT_TRUE(server.started());
  EXPECT_TRUE(std::filesystem::is_directory(client_.SystemCaFolder())) << client_.SystemCaFolder();
  std::string unrelatedRoot;
  for (const auto& entry : std::filesystem::directory_iterator("/etc/ssl/certs")) {
    if (entry.path().extension() == ".pem") unrelatedRoot = entry.path().string();
  }
  testing_support::TempDir store, emptyStore;
  std::filesystem::copy_file(server.caFile(), store / "test-ca.pem");
  if (unrelatedRoot.empty() || std::system(("openssl rehash " + store.path() + " >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << "needs a system certificate and openssl rehash";
  }
  std::string reply;
  client_.SetSystemCaFolder(store.path());
  client_.SetExtraCaFile(unrelatedRoot);
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::Ok) << "certificate folder not consulted";
  client_.SetSystemCaFolder(emptyStore.path());
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::NoData) << "trusted without any source";
  client_.SetExtraCaFile(server.caFile());
  EXPECT_EQ(Post(server, true, "ac=10", reply), PostResult::Ok) << "extra CA file not consulted";
}

// A private server named with its CA in "cfg\Updater.cfg", reached through
// CommunicatePost and the port rule.
TEST_F(RefServerPostTest, ConfiguredPrivateServerWithItsOwnCa) {
  RefServer server;
  ASSERT_TRUE(server.started());
  testing_support::TempDir dir;
  std::filesystem::copy_file(server.caFile(), dir / "ca.pem");
  testing_support::WriteFile(dir / "bin/cfg/Updater.cfg", "~ip=127.0.0.1~srvl=UpdateServlet~po=" +
                                                              std::to_string(server.httpsPort()) + "~ca=../ca.pem\n");
  system_.executablePath = dir / "bin/websetup";
  const ServerAddress address = LoadServerAddress(platform_, "unused.example", 443);
  std::string reply;
  EXPECT_EQ(CommunicatePost(platform_, kAgent, address, "ac=10", reply, 10000), PostResult::Ok);
  EXPECT_EQ(reply.rfind("~ac=10", 0), 0u) << reply;
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_TRUE(server.Requests()[0].tls);
}

// A failed exchange says why, in words the user can act on: the error box
// shows it as its cause.
TEST_F(RefServerPostTest, AFailedExchangeTellsItsCause) {
  RefServerOptions otherHost;
  otherHost.certificate = "otherhost";
  RefServer server(otherHost);
  ASSERT_TRUE(server.started());
  struct Row {
    const char* name;
    int port;
    std::string caFile;
    const char* cause;
  };
  const Row rows[] = {
      {"nothing listens", 1, server.caFile(), "connection refused"},
      {"certificate of another host", server.httpsPort(), server.caFile(),
       "the server's certificate is not trusted for this host"},
      {"CA file missing", server.httpsPort(), "/nonexistent/ca.pem", "the CA file named in cfg/Updater.cfg cannot be read"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    platform::CurlHttpClient client;
    client.SetExtraCaFile(row.caFile);
    platform::Platform p = platform_;
    p.http = &client;
    PostTarget target{kAgent, "127.0.0.1", "UpdateServlet", row.port, true, {}};
    target.timeouts.connectSeconds = 10;
    std::string reply;
    EXPECT_EQ(PostForm(p, target, "ac=10", reply, 1000), PostResult::NoData);
    EXPECT_EQ(LastTransportFailure().rfind(row.cause, 0), 0u) << LastTransportFailure();
  }
  std::string reply;
  RefServer good;
  client_.SetExtraCaFile(good.caFile());
  EXPECT_EQ(Post(good, true, "ac=10", reply), PostResult::Ok);
  EXPECT_EQ(LastTransportFailure(), "") << "a good exchange leaves no cause behind";
}

}  // namespace
}  // namespace net
