// HTTP of the Windows layer through WinINet under Wine, against the
// reference server running on Linux: form posts and downloads over HTTP and
// HTTPS with the extra CA, trust failures, error statuses, a stalled server
// and reads that return what has arrived.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "platform/win32/wininet_http_client.h"
#include "support/refserver.h"
#include "win32/wine_paths.h"
#include "win32/win32_test_folder.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::HttpStream;
using testing_support::RefServer;
using testing_support::RefServerOptions;
using testing_support::WindowsPathOf;

constexpr const char* kAgent = "WebsetupTest";
// A WinINet host must be a name: an address fails the certificate's name
// check even where the certificate lists it.
constexpr const char* kHost = "localhost";

struct Body {
  bool ok = true;
  std::string text;
};

Body ReadAll(HttpStream& stream, size_t chunk = 4096) {
  Body body;
  std::string buffer(chunk, '\0');
  for (;;) {
    size_t got = 0;
    if (!stream.Read(buffer.data(), buffer.size(), &got)) {
      body.ok = false;
      return body;
    }
    if (got == 0) return body;
    body.text.append(buffer.data(), got);
  }
}

class WinInetTest : public ::testing::Test {
 protected:
  explicit WinInetTest(const std::string& certificate = "server")
      : filesDir_(testing_support::NewLinuxScratchFolder("files")), server_(Options(certificate, filesDir_)) {}

  static RefServerOptions Options(const std::string& certificate, const std::string& filesDir) {
    RefServerOptions options;
    options.certificate = certificate;
    options.filesDir = filesDir;
    return options;
  }

  void SetUp() override {
    ASSERT_TRUE(server_.started());
    http_.SetExtraCaFile(server_.caFile());
  }

  // Puts a file of `size` bytes under "/files/<name>"; its address.
  std::string ServeFile(const std::string& name, size_t size, bool secure) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>('a' + i % 26);
    EXPECT_TRUE(testing_support::WriteText(FilesFolder() + "\\" + name, content));
    return Address(secure, "/files/" + name);
  }

  std::string Address(bool secure, const std::string& path) const {
    return std::string(secure ? "https://" : "http://") + kHost + ":" +
           std::to_string(secure ? server_.httpsPort() : server_.httpPort()) + path;
  }

  std::string FilesFolder() const { return WindowsPathOf(filesDir_); }

  platform::HttpPostRequest PostTo(bool secure, const std::string& body) const {
    platform::HttpPostRequest request;
    request.agent = kAgent;
    request.host = kHost;
    request.port = secure ? server_.httpsPort() : server_.httpPort();
    request.secure = secure;
    request.objectName = "servlet/UpdateServlet";
    request.contentType = "application/x-www-form-urlencoded";
    request.body = body;
    return request;
  }

  ~WinInetTest() override {
    if (!filesDir_.empty()) (void)platform::Win32Shell().DeleteTree(FilesFolder(), false);
  }

  std::string filesDir_;  // Linux path
  RefServer server_;
  platform::WinInetHttpClient http_;
};

class WinInetPostTest : public WinInetTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WinInetPostTest, AFormPostArrivesWhole) {
  const bool secure = GetParam();
  auto reply = http_.Post(PostTo(secure, "ac=10&note=a%26b%3Dc"));
  const Body body = ReadAll(*reply);
  ASSERT_TRUE(body.ok) << reply->FailureText();
  EXPECT_FALSE(body.text.empty());
  EXPECT_NE(body.text.front(), '<');
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/servlet/UpdateServlet");
  EXPECT_EQ(requests[0].tls, secure);
  EXPECT_EQ(requests[0].userAgent, kAgent);
  EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[0].contentTypeHeaders, 1);
  EXPECT_EQ(requests[0].Field("note"), "a&b=c");
}

INSTANTIATE_TEST_SUITE_P(PlainAndSecure, WinInetPostTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? std::string("Https") : std::string("Http"); });

// Reports are posted on threads of their own while the update exchange
// posts: each post must read its own reply, never another thread's.
TEST_F(WinInetTest, PostsOfTwoThreadsEachReadTheirOwnReply) {
  std::vector<std::string> mismatches[2];
  auto postMany = [this](const std::string& ac, std::vector<std::string>* mismatch) {
    for (int i = 0; i < 15; ++i) {
      auto reply = http_.Post(PostTo(true, "ac=" + ac));
      const Body body = ReadAll(*reply);
      if (!body.ok || body.text != "~ac=" + ac) mismatch->push_back(body.text + " / " + reply->FailureText());
    }
  };
  std::thread reports(postMany, "101", &mismatches[0]);
  postMany("15", &mismatches[1]);
  reports.join();
  EXPECT_TRUE(mismatches[0].empty()) << ::testing::PrintToString(mismatches[0]);
  EXPECT_TRUE(mismatches[1].empty()) << ::testing::PrintToString(mismatches[1]);
  EXPECT_EQ(server_.Requests().size(), 30u);
}

// The update exchange, the downloads and the report threads of one process
// all reach the same secure server at once, each trusting it through the
// extra CA. WinINet keeps one record per server, with the certificate
// chain of its last handshake, shared by every thread: no exchange may
// fail or crash for another's handshake.
TEST_F(WinInetTest, SecureExchangesOfManyThreadsAtOnceAreAllTrusted) {
  constexpr int kThreads = 4;
  constexpr int kExchanges = 25;
  std::vector<platform::WinInetHttpClient> clients(kThreads);
  std::vector<std::string> failures[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    clients[t].SetExtraCaFile(server_.caFile());
    threads.emplace_back([&, t] {
      for (int i = 0; i < kExchanges; ++i) {
        auto reply = clients[t].Post(PostTo(true, "ac=101"));
        const Body body = ReadAll(*reply);
        if (!body.ok) failures[t].push_back(reply->FailureText());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(failures[t].empty()) << ::testing::PrintToString(failures[t]);
  EXPECT_EQ(server_.Requests().size(), static_cast<size_t>(kThreads * kExchanges));
}

TEST_F(WinInetTest, DownloadsOfOneSessionShareTheirConnection) {
  for (const bool secure : {false, true}) {
    auto session = http_.OpenSession(kAgent, {});
    for (const char* name : {"one.bin", "two.bin"}) {
      std::string error;
      auto stream = session->OpenUrl(ServeFile(name, 100000, secure), &error);
      ASSERT_NE(stream, nullptr) << error;
      const Body body = ReadAll(*stream, 30720);
      ASSERT_TRUE(body.ok) << stream->FailureText();
      EXPECT_EQ(body.text.size(), 100000u);
    }
  }
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].remotePort, requests[1].remotePort) << "plain: the second file came over the same connection";
  EXPECT_EQ(requests[2].remotePort, requests[3].remotePort) << "secure: the second file came over the same connection";
  EXPECT_TRUE(requests[3].tls);
  EXPECT_EQ(requests[0].userAgent, kAgent);
}

// Files of one session downloaded as a batch, over plain connections and
// over secure ones with the extra CA: every file arrives whole with no other
// file's bytes in it, and a post made after them reads its own reply.
TEST_F(WinInetTest, ABatchOfDownloadsEachGetsItsOwnBytes) {
  struct Collector : platform::DownloadReceiver {
    std::map<uint64_t, std::string> bodies;
    std::map<uint64_t, std::string> failures;
    size_t ended = 0;
    bool Started(uint64_t, uint64_t) override { return true; }
    bool Received(uint64_t id, const char* data, size_t size) override {
      bodies[id].append(data, size);
      return true;
    }
    void Ended(uint64_t id, const platform::DownloadOutcome& outcome) override {
      ++ended;
      if (!outcome.ok) failures[id] = outcome.failure;
    }
  };
  for (const bool secure : {false, true}) {
    SCOPED_TRACE(secure ? "secure" : "plain");
    platform::WinInetHttpClient withoutExtraCa;
    auto session = (secure ? http_ : withoutExtraCa).OpenSession(kAgent, {});
    Collector collector;
    std::map<uint64_t, size_t> sizes;
    {
      auto batch = session->NewBatch(6);
      for (size_t i = 0; i < 24; ++i) {
        const size_t size = 1000 + i * 7919;
        const std::string name = "p" + std::to_string(i) + (secure ? "s" : "") + ".bin";
        sizes[batch->Begin({ServeFile(name, size, secure), 0, size})] = size;
      }
      const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
      while (collector.ended < sizes.size() && Clock::now() < deadline) batch->Pump(collector, 100);
    }
    ASSERT_EQ(collector.ended, sizes.size());
    EXPECT_TRUE(collector.failures.empty()) << ::testing::PrintToString(collector.failures);
    for (const auto& [id, size] : sizes) {
      std::string expected(size, '\0');
      for (size_t i = 0; i < size; ++i) expected[i] = static_cast<char>('a' + i % 26);
      EXPECT_TRUE(collector.bodies[id] == expected) << "file " << id << ": " << collector.bodies[id].size() << " bytes";
    }
    auto reply = http_.Post(PostTo(secure, "ac=15"));
    const Body body = ReadAll(*reply);
    EXPECT_TRUE(body.ok) << reply->FailureText();
    EXPECT_EQ(body.text, "~ac=15");
  }
  // Without the extra CA the transfers ran side by side; with it they went
  // one after the other on one kept-alive connection.
  std::set<int> plainConnections, secureConnections;
  for (const auto& request : server_.Requests()) {
    if (request.path.rfind("/files/", 0) == 0) (request.tls ? secureConnections : plainConnections).insert(request.remotePort);
  }
  EXPECT_GT(plainConnections.size(), 1u);
  EXPECT_EQ(secureConnections.size(), 1u);
}

TEST_F(WinInetTest, AnErrorStatusIsAFailedOpen) {
  auto session = http_.OpenSession(kAgent, {});
  std::string error;
  EXPECT_EQ(session->OpenUrl(Address(true, "/files/absent.bin"), &error), nullptr);
  EXPECT_EQ(error, "HTTP status 404");
  EXPECT_EQ(session->OpenUrl("ftp://localhost/file", &error), nullptr);
  EXPECT_NE(error.find("not an http"), std::string::npos);
}

TEST_F(WinInetTest, AReadReturnsWhatHasArrived) {
  const std::string address = ServeFile("slow.bin", 6000, false);
  server_.Misbehave("trickle", "/files/slow.bin", 1, "", 0, 2000);
  auto session = http_.OpenSession(kAgent, {});
  std::string error;
  auto stream = session->OpenUrl(address, &error);
  ASSERT_NE(stream, nullptr) << error;
  std::string buffer(1 << 20, '\0');
  size_t got = 0;
  const auto start = Clock::now();
  ASSERT_TRUE(stream->Read(buffer.data(), buffer.size(), &got));
  EXPECT_GT(got, 0u);
  EXPECT_LT(got, 6000u) << "the first read did not wait for the whole body";
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
}

TEST_F(WinInetTest, AStalledServerEndsInAFailedRead) {
  const std::string address = ServeFile("stalled.bin", 1000, false);
  server_.Misbehave("stall", "/files/stalled.bin", 1, "", 20);
  server_.Misbehave("stall", "/servlet/UpdateServlet", 1, "", 20);
  platform::HttpTimeouts timeouts;
  timeouts.idleSeconds = 2;
  auto session = http_.OpenSession(kAgent, timeouts);
  const auto start = Clock::now();
  std::string error;
  auto stream = session->OpenUrl(address, &error);
  if (stream) {
    EXPECT_FALSE(ReadAll(*stream).ok);
  }
  auto request = PostTo(false, "ac=10");
  request.timeouts = timeouts;
  auto reply = http_.Post(request);
  EXPECT_FALSE(ReadAll(*reply).ok);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(15)) << "both ended by the 2 s time-out, not the 20 s stall";
}

// The end of a batch (the user's exit, the run's first failure) does not
// wait for a transfer blocked on a stalled server; its thread, left
// behind, ends by the time-out with the batch and the session gone, and
// the next session works.
TEST_F(WinInetTest, EndingABatchLeavesAStalledTransferBehind) {
  struct Starts : platform::DownloadReceiver {
    std::set<uint64_t> started;
    bool Started(uint64_t id, uint64_t) override { return started.insert(id).second; }
    bool Received(uint64_t, const char*, size_t) override { return true; }
    void Ended(uint64_t, const platform::DownloadOutcome&) override {}
  };
  const std::string stalled = ServeFile("stuck.bin", 1000, false);
  server_.Misbehave("stall", "/files/stuck.bin", 1, "", 20);
  platform::HttpTimeouts timeouts;
  timeouts.idleSeconds = 2;
  auto session = http_.OpenSession(kAgent, timeouts);
  auto batch = session->NewBatch(2);
  Starts starts;
  const uint64_t id = batch->Begin({stalled, 0, 1000});
  for (const auto deadline = Clock::now() + std::chrono::seconds(10);
       starts.started.count(id) == 0 && Clock::now() < deadline;) {
    batch->Pump(starts, 50);
  }
  ASSERT_EQ(starts.started.count(id), 1u);
  const auto start = Clock::now();
  batch.reset();
  session.reset();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

  std::this_thread::sleep_for(std::chrono::seconds(4));  // past the thread's time-out
  const std::string address = ServeFile("after.bin", 3000, true);
  std::string error;
  auto next = http_.OpenSession(kAgent, {});
  auto stream = next->OpenUrl(address, &error);
  ASSERT_NE(stream, nullptr) << error;
  const Body body = ReadAll(*stream);
  EXPECT_TRUE(body.ok) << stream->FailureText();
  EXPECT_EQ(body.text.size(), 3000u);
}

// Every way a secure server fails to be trusted fails the exchange.
struct TrustRow {
  const char* name;
  const char* certificate;
  bool extraCa;
  const char* host;
};

class WinInetTrustTest : public WinInetTest, public ::testing::WithParamInterface<TrustRow> {
 protected:
  WinInetTrustTest() : WinInetTest(GetParam().certificate) {}
};

TEST_P(WinInetTrustTest, AnUntrustedServerFailsPostsAndDownloads) {
  const TrustRow& row = GetParam();
  if (!row.extraCa) http_.SetExtraCaFile("");
  auto request = PostTo(true, "ac=10");
  request.host = row.host;
  auto reply = http_.Post(request);
  EXPECT_FALSE(ReadAll(*reply).ok) << row.name;
  EXPECT_FALSE(reply->FailureText().empty());
  auto session = http_.OpenSession(kAgent, {});
  std::string error;
  const std::string address =
      std::string("https://") + row.host + ":" + std::to_string(server_.httpsPort()) + "/files/any.bin";
  EXPECT_EQ(session->OpenUrl(address, &error), nullptr) << row.name;
  for (const auto& logged : server_.Requests()) ADD_FAILURE() << row.name << ": the server got " << logged.path;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WinInetTrustTest,
    ::testing::Values(TrustRow{"NoExtraCa", "server", false, "localhost"},
                      TrustRow{"CertificateForAnotherHost", "otherhost", true, "localhost"},
                      TrustRow{"AddressInsteadOfName", "server", true, "127.0.0.1"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
