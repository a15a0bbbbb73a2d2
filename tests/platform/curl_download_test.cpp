// Download sessions on libcurl against the reference server, over HTTP and
// HTTPS: whole files, chunk sizes, kept-alive connections, addresses that
// cannot be opened, and each way a file host can misbehave mid-body.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/curl_http_client.h"
#include "support/refserver.h"
#include "support/temp_dir.h"

namespace {

using platform::CurlHttpClient;
using platform::HttpDownloadSession;
using platform::HttpStream;
using platform::HttpTimeouts;
using testing_support::RefServer;
using testing_support::RefServerOptions;
using testing_support::TempDir;
using testing_support::WriteFile;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 30720;  // what the installer asks for per read
constexpr const char* kAgent = "Test Installer 1.0";

// Deterministic bytes that no two offsets of a file share by accident.
std::string Pattern(size_t size, unsigned seed) {
  std::string data(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& c : data) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return data;
}

struct Body {
  bool ok = false;  // ended normally
  std::string data;
  std::vector<size_t> chunks;  // size of every non-empty read
  std::string failure;
};

// Reads `stream` to its end or its first failure, at most `limit` bytes.
Body ReadAll(HttpStream& stream, size_t capacity = kChunk, size_t limit = SIZE_MAX) {
  Body body;
  std::vector<char> buffer(capacity);
  for (;;) {
    size_t got = 0;
    if (!stream.Read(buffer.data(), capacity, &got)) {
      body.failure = stream.FailureText();
      return body;
    }
    if (got == 0) {
      body.ok = true;
      return body;
    }
    body.chunks.push_back(got);
    body.data.append(buffer.data(), got);
    if (body.data.size() >= limit) return body;
  }
}

long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    long kb = 0;
    if (std::sscanf(line.c_str(), "VmRSS: %ld kB", &kb) == 1) return kb;
  }
  return -1;
}

// One reference server serving a folder of test files, and a client that
// trusts the test CA.
class CurlDownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new TempDir;
    WriteFile(*files_ / "empty.bin", "");
    WriteFile(*files_ / "one.bin", "1");
    WriteFile(*files_ / "small.bin", Pattern(100000, 1));
    WriteFile(*files_ / "large.bin", Pattern(4 * 1024 * 1024, 2));
    WriteFile(*files_ / "sub dir/name with spaces.txt", "spaced");
    for (int i = 0; i < 5; ++i) WriteFile(*files_ / ("set/file" + std::to_string(i)), Pattern(20000 + i, 10 + i));
  }
  static void TearDownTestSuite() {
    delete files_;
    files_ = nullptr;
  }

  void SetUp() override {
    RefServerOptions options;
    options.filesDir = files_->path();
    server_ = std::make_unique<RefServer>(options);
    ASSERT_TRUE(server_->started());
    http_.SetExtraCaFile(server_->caFile());
  }

  std::string Url(bool tls, const std::string& file, const std::string& host = "127.0.0.1") const {
    return std::string(tls ? "https://" : "http://") + host + ":" +
           std::to_string(tls ? server_->httpsPort() : server_->httpPort()) + "/files/" + file;
  }
  static std::string Content(const std::string& file) { return testing_support::ReadFile(*files_ / file); }

  std::unique_ptr<HttpDownloadSession> Session(int idleSeconds = 30) {
    return http_.OpenSession(kAgent, HttpTimeouts{10, idleSeconds});
  }

  std::unique_ptr<HttpStream> Open(HttpDownloadSession& session, const std::string& url) {
    std::string error = "unset";
    auto stream = session.OpenUrl(url, &error);
    EXPECT_NE(stream, nullptr) << url << ": " << error;
    if (stream != nullptr) {
      EXPECT_EQ(error, "") << "no reason is left behind on success";
    }
    return stream;
  }

  static TempDir* files_;
  std::unique_ptr<RefServer> server_;
  CurlHttpClient http_;
};

TempDir* CurlDownloadTest::files_ = nullptr;

TEST_F(CurlDownloadTest, FilesArriveWholeAndByteIdentical) {
  struct Row {
    bool tls;
    std::string file;
    std::string host;
  };
  const std::vector<Row> rows = {
      {false, "empty.bin", "127.0.0.1"}, {false, "one.bin", "127.0.0.1"},
      {false, "small.bin", "127.0.0.1"}, {false, "sub dir/name with spaces.txt", "127.0.0.1"},
      {true, "empty.bin", "localhost"},  {true, "small.bin", "localhost"},
      {true, "large.bin", "127.0.0.1"},  {false, "small.bin", "localhost"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE((row.tls ? "https " : "http ") + row.host + " " + row.file);
    auto session = Session();
    auto stream = Open(*session, Url(row.tls, row.file, row.host));
    ASSERT_NE(stream, nullptr);
    const Body body = ReadAll(*stream);
    EXPECT_TRUE(body.ok) << body.failure;
    EXPECT_TRUE(body.data == Content(row.file)) << "got " << body.data.size() << " bytes";
    size_t again = 99;
    char byte;
    EXPECT_TRUE(stream->Read(&byte, 1, &again)) << "the end stays the end";
    EXPECT_EQ(again, 0u);
  }
}

TEST_F(CurlDownloadTest, ReadsNeverExceedTheirCapacityAndLargeFilesComeInFullChunks) {
  for (const bool tls : {false, true}) {
    for (const size_t capacity : {size_t{1}, size_t{1000}, kChunk, size_t{1} << 20}) {
      SCOPED_TRACE(std::string(tls ? "https" : "http") + " capacity " + std::to_string(capacity));
      auto session = Session();
      auto stream = Open(*session, Url(tls, capacity == 1 ? "small.bin" : "large.bin"));
      ASSERT_NE(stream, nullptr);
      const Body body = ReadAll(*stream, capacity);
      ASSERT_TRUE(body.ok) << body.failure;
      EXPECT_TRUE(body.data == Content(capacity == 1 ? "small.bin" : "large.bin"));
      size_t full = 0;
      for (const size_t chunk : body.chunks) {
        EXPECT_LE(chunk, capacity);
        if (chunk == capacity) ++full;
      }
      if (capacity <= kChunk) {
        // A local server outruns the reader, so nearly every read fills up.
        EXPECT_GE(full * 10, body.chunks.size() * 9) << full << " full of " << body.chunks.size();
      }
    }
  }
}

// The bytes held between reads wrap around their storage many times over
// in a large file, and a read larger than what is normally held makes room
// for itself: whatever the mix of read sizes, each file of a session comes
// whole and in order.
TEST_F(CurlDownloadTest, ReadsOfChangingSizesKeepTheBytesInOrderFromFileToFile) {
  const size_t capacities[] = {kChunk, 1, 4093, 3u << 20, 65537, kChunk, 777};
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "https" : "http");
    auto session = Session();
    for (const char* file : {"large.bin", "small.bin", "large.bin"}) {
      SCOPED_TRACE(file);
      auto stream = Open(*session, Url(tls, file));
      ASSERT_NE(stream, nullptr);
      std::string data;
      std::vector<char> buffer(3u << 20);
      for (size_t i = 0;; ++i) {
        const size_t capacity = capacities[i % std::size(capacities)];
        size_t got = 0;
        ASSERT_TRUE(stream->Read(buffer.data(), capacity, &got)) << stream->FailureText();
        ASSERT_LE(got, capacity);
        if (got == 0) break;
        data.append(buffer.data(), got);
      }
      EXPECT_TRUE(data == Content(file)) << "got " << data.size() << " bytes";
    }
  }
}

TEST_F(CurlDownloadTest, SessionKeepsItsConnectionFromFileToFile) {
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "https" : "http");
    const size_t before = server_->Requests().size();
    std::set<int> firstSessionPorts;
    {
      auto session = Session();
      for (int i = 0; i < 5; ++i) {
        const std::string file = "set/file" + std::to_string(i);
        auto stream = Open(*session, Url(tls, file));
        ASSERT_NE(stream, nullptr);
        const Body body = ReadAll(*stream);
        ASSERT_TRUE(body.ok) << body.failure;
        EXPECT_TRUE(body.data == Content(file)) << file;
      }
    }
    auto other = Session();
    auto stream = Open(*other, Url(tls, "one.bin"));
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(ReadAll(*stream).ok);

    const auto requests = server_->Requests();
    ASSERT_EQ(requests.size(), before + 6);
    for (size_t i = before; i < before + 5; ++i) firstSessionPorts.insert(requests[i].remotePort);
    EXPECT_EQ(firstSessionPorts.size(), 1u) << "five files over one connection";
    EXPECT_EQ(firstSessionPorts.count(requests.back().remotePort), 0u) << "another session, another connection";
  }
}

TEST_F(CurlDownloadTest, AddressesThatCannotBeOpenedGiveNullWithTheReason) {
  int closedPort = 0;
  {
    RefServer gone;  // a port that was just free and is closed again
    ASSERT_TRUE(gone.started());
    closedPort = gone.httpPort();
  }
  server_->Misbehave("404", "/files/small.bin", 4);  // two rows, two openings each
  struct Row {
    std::string url;
    std::string reasonHolds;
  };
  const std::vector<Row> rows = {
      {Url(false, "missing.bin"), "404"},
      {Url(true, "missing.bin"), "404"},
      {Url(false, "small.bin"), "404"},
      {Url(true, "small.bin"), "404"},
      {"http://127.0.0.1:" + std::to_string(closedPort) + "/files/small.bin", "onnect"},
      {"ftp://127.0.0.1/files/small.bin", "not an http or https address"},
      {"small.bin", "not an http or https address"},
      {"http://[::1/files/small.bin", "URL"},
  };
  auto session = Session();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    std::string error;
    EXPECT_EQ(session->OpenUrl(row.url, &error), nullptr);
    EXPECT_NE(error.find(row.reasonHolds), std::string::npos) << error;
    EXPECT_EQ(session->OpenUrl(row.url, nullptr), nullptr) << "the reason is optional";
  }
  auto stream = Open(*session, Url(false, "small.bin"));
  ASSERT_NE(stream, nullptr) << "the session still works after refusals";
  EXPECT_TRUE(ReadAll(*stream).data == Content("small.bin"));
}

TEST(CurlDownloadCertificates, CertificateForAnotherHostOrAnUnknownCaIsRefused) {
  struct Row {
    std::string certificate;
    bool trustTestCa;
  };
  for (const Row& row : {Row{"otherhost", true}, Row{"server", false}}) {
    SCOPED_TRACE(row.certificate + (row.trustTestCa ? " with the test CA" : " with the system store only"));
    RefServerOptions options;
    options.certificate = row.certificate;
    RefServer server(options);
    ASSERT_TRUE(server.started());
    CurlHttpClient http;
    if (row.trustTestCa) http.SetExtraCaFile(server.caFile());
    auto session = http.OpenSession(kAgent, HttpTimeouts{10, 10});
    for (const char* host : {"127.0.0.1", "localhost"}) {
      std::string error;
      const std::string url = "https://" + std::string(host) + ":" + std::to_string(server.httpsPort()) + "/files/x";
      EXPECT_EQ(session->OpenUrl(url, &error), nullptr) << url;
      EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(server.Requests().empty()) << "no request went out over a refused connection";
  }
}

TEST_F(CurlDownloadTest, ServersThatSendTheWrongAmountAreSeenAsTheyAre) {
  struct Row {
    std::string mode;
    int bytes;
    bool tls;
    bool endsNormally;
    size_t received;
  };
  const size_t size = Content("small.bin").size();
  const std::vector<Row> rows = {
      {"wronglength", 1000, false, true, size + 1000}, {"wronglength", -1000, false, true, size - 1000},
      {"wronglength", -1000, true, true, size - 1000}, {"dropafter", 40000, false, false, 40000},
      {"dropafter", 40000, true, false, 40000},        {"dropafter", 0, false, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode + " " + std::to_string(row.bytes) + (row.tls ? " https" : " http"));
    server_->Misbehave(row.mode, "/files/small.bin", 1, "", 0, row.bytes);
    auto session = Session();
    auto stream = Open(*session, Url(row.tls, "small.bin"));
    ASSERT_NE(stream, nullptr);
    const Body body = ReadAll(*stream);
    EXPECT_EQ(body.ok, row.endsNormally) << body.failure;
    EXPECT_EQ(body.data.size(), row.received);
    const size_t common = std::min(body.data.size(), size);
    EXPECT_TRUE(body.data.compare(0, common, Content("small.bin"), 0, common) == 0) << "the real bytes come first";
    if (!row.endsNormally) {
      EXPECT_FALSE(body.failure.empty());
      size_t got = 1;
      char byte;
      EXPECT_FALSE(stream->Read(&byte, 1, &got)) << "a failed stream stays failed";
      EXPECT_EQ(got, 0u);
    }
  }
}

TEST_F(CurlDownloadTest, StallEndsWithinTheIdleTimeoutBeforeOrAfterTheHeaders) {
  struct Row {
    bool tls;
    std::string file;  // a folder is no file: the stall comes before the headers
    bool headersCome;
  };
  for (const Row& row : {Row{false, "small.bin", true}, Row{true, "small.bin", true}, Row{false, "set/", false},
                         Row{true, "set/", false}}) {
    SCOPED_TRACE(row.file + (row.tls ? " https" : " http"));
    server_->Misbehave("stall", "/files/" + row.file, 1, "", 20);
    auto session = Session(1);
    std::string error;
    const auto start = Clock::now();
    auto stream = session->OpenUrl(Url(row.tls, row.file), &error);
    ASSERT_EQ(stream != nullptr, row.headersCome) << error;
    if (stream != nullptr) {
      EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
      char buffer[kChunk];
      size_t got = 1;
      EXPECT_FALSE(stream->Read(buffer, sizeof buffer, &got));
      EXPECT_EQ(got, 0u);
      error = stream->FailureText();
    }
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_NE(error.find("no data for 1 seconds"), std::string::npos) << error;
  }
}

TEST_F(CurlDownloadTest, TrickledFileComesInPartialChunksAboutFiveTimesASecond) {
  const std::string content = Pattern(3000, 7);
  WriteFile(*files_ / "trickle.bin", content);
  server_->Misbehave("trickle", "/files/trickle.bin", 1, "", 0, 2000);
  auto session = Session();
  auto stream = Open(*session, Url(false, "trickle.bin"));
  ASSERT_NE(stream, nullptr);
  std::vector<char> buffer(kChunk);
  std::string received;
  int reads = 0;
  auto longest = Clock::duration::zero();
  for (;;) {
    size_t got = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(stream->Read(buffer.data(), buffer.size(), &got)) << stream->FailureText();
    longest = std::max(longest, Clock::now() - start);
    if (got == 0) break;
    EXPECT_LT(got, 1000u) << "a fifth of a second at 2000 bytes a second, not a full chunk";
    received.append(buffer.data(), got);
    ++reads;
  }
  EXPECT_TRUE(received == content);
  // 1.5 s of trickle in 15 pieces of 200 bytes, gathered into reads of
  // about a fifth of a second each: neither one read per piece nor one read
  // for the lot.
  EXPECT_GE(reads, 5);
  EXPECT_LE(reads, 10);
  EXPECT_LT(longest, std::chrono::milliseconds(500));
}

TEST_F(CurlDownloadTest, EndlessBodyCanBeLeftAtOnceAndTheSessionGoesOn) {
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "https" : "http");
    server_->Misbehave("endless", "/files/small.bin");
    auto session = Session();
    auto stream = Open(*session, Url(tls, "small.bin"));
    ASSERT_NE(stream, nullptr);
    const Body body = ReadAll(*stream, kChunk, 2 * 1024 * 1024);
    EXPECT_FALSE(body.ok);
    EXPECT_GE(body.data.size(), 2u * 1024 * 1024);
    const auto start = Clock::now();
    stream.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));

    auto next = Open(*session, Url(tls, "small.bin"));
    ASSERT_NE(next, nullptr);
    const Body again = ReadAll(*next);
    EXPECT_TRUE(again.ok) << again.failure;
    EXPECT_TRUE(again.data == Content("small.bin"));
  }
}

TEST_F(CurlDownloadTest, MemoryStaysBoundedWhileALargeFileIsReadSlowly) {
  const size_t size = 64u * 1024 * 1024;
  WriteFile(*files_ / "huge.bin", Pattern(size, 3));
  auto session = Session();
  auto stream = Open(*session, Url(false, "huge.bin"));
  ASSERT_NE(stream, nullptr);
  const long baseline = ResidentKilobytes();
  ASSERT_GT(baseline, 0) << "no VmRSS in /proc/self/status";
  // Small reads keep the reader far behind the local server.
  std::vector<char> buffer(4096);
  size_t total = 0;
  long peak = baseline;
  for (;;) {
    size_t got = 0;
    ASSERT_TRUE(stream->Read(buffer.data(), buffer.size(), &got)) << stream->FailureText();
    if (got == 0) break;
    total += got;
    if (total % (1024 * 1024) < got) peak = std::max(peak, ResidentKilobytes());
  }
  EXPECT_EQ(total, size);
  EXPECT_LT(peak - baseline, 16 * 1024) << "resident set grew by " << (peak - baseline) << " kB";
}

TEST_F(CurlDownloadTest, RequestCarriesTheAgentAndAsksForAFreshCopy) {
  auto session = Session();
  for (const bool tls : {false, true}) {
    auto stream = Open(*session, Url(tls, "one.bin"));
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(ReadAll(*stream).ok);
  }
  const auto requests = server_->Requests();
  const auto lines = server_->LogLines();
  ASSERT_EQ(lines.size(), 2u);
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].userAgent, kAgent);
    std::multiset<std::string> headers;
    const auto line = nlohmann::json::parse(lines[i]);
    for (const auto& pair : line["headers"]) {
      headers.insert(pair[0].get<std::string>() + ": " + pair[1].get<std::string>());
    }
    for (const char* expected : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
      EXPECT_EQ(headers.count(expected), 1u) << expected;
    }
    for (const auto& header : headers) {
      EXPECT_NE(header.rfind("Cookie", 0), 0u) << header;
      EXPECT_NE(header.rfind("Accept-Encoding", 0), 0u) << "sizes are compared byte for byte: " << header;
    }
  }
}

TEST_F(CurlDownloadTest, RedirectsAreFollowedAFewTimes) {
  struct Row {
    bool tls;
    int redirects;
    bool arrives;
  };
  for (const Row& row : {Row{false, 2, true}, Row{true, 5, true}, Row{false, 6, false}, Row{true, 6, false}}) {
    SCOPED_TRACE(std::to_string(row.redirects) + (row.tls ? " redirects, https" : " redirects, http"));
    server_->ResetMisbehaviour();
    server_->Misbehave("redirect", "/files/small.bin", row.redirects);
    auto session = Session();
    std::string error;
    auto stream = session->OpenUrl(Url(row.tls, "small.bin"), &error);
    ASSERT_EQ(stream != nullptr, row.arrives) << error;
    if (stream != nullptr) {
      EXPECT_TRUE(ReadAll(*stream).data == Content("small.bin"));
    } else {
      EXPECT_NE(error.find("redirect"), std::string::npos) << error;
    }
  }
}

TEST_F(CurlDownloadTest, OpeningAnotherAddressOrClosingTheSessionEndsTheOpenStream) {
  auto session = Session();
  auto first = Open(*session, Url(false, "large.bin"));
  ASSERT_NE(first, nullptr);
  auto second = Open(*session, Url(true, "small.bin"));
  ASSERT_NE(second, nullptr);
  char buffer[100];
  size_t got = 1;
  EXPECT_FALSE(first->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(first->FailureText().empty());
  EXPECT_TRUE(ReadAll(*second).data == Content("small.bin"));

  auto third = Open(*session, Url(false, "large.bin"));
  ASSERT_NE(third, nullptr);
  session.reset();
  EXPECT_FALSE(third->Read(buffer, sizeof buffer, &got)) << "a stream outliving its session only fails";
}

}  // namespace
