#include "net/reports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fakes/fake_http.h"
#include "fakes/fake_platform.h"
#include "net/http_post.h"
#include "net/request_forms.h"
#include "platform/message_queue.h"
#include "platform/posix/curl_http_client.h"
#include "platform/posix/posix_file_system.h"
#include "support/refserver.h"

namespace net {
namespace {

// The application side of the reports: fields, statistics and the count of
// quit-handshake messages that reached the main thread.
class FakeSession : public ReportSession {
 public:
  ReportFields fields;
  net::SessionStats stats;
  platform::QueueMainLoop loop;

  FakeSession() {
    fields.appName = "Quorix";
    fields.serverSerial = "SRV1";
    fields.serial = "K7TQ";
    fields.affiliate = "orbelta";
    fields.affiliateSub = "tessmark";
    fields.language = "en";
    fields.moduleVersion = "Dec  8 2026_10:00:00";
    fields.sessionId = "PC_1_042";
    fields.pixelHost = "127.0.0.1";
    fields.pixelPort = 443;
    fields.serverAddress = {"127.0.0.1", "UpdateServlet", "", "", 443, ""};
  }

  ReportFields CurrentFields() override { return fields; }
  net::SessionStats& Stats() override { return stats; }
  std::string ErrorDetail() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return detail_;
  }
  void SetErrorDetail(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    detail_ = text;
  }
  std::mutex& ReportLock() override { return reportLock_; }
  platform::MainLoop& Loop() override { return loop; }
  void PostReportDone() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reportDone_;
    changed_.notify_all();
  }
  int ReportDoneCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reportDone_;
  }

 private:
  std::mutex mutex_, reportLock_;
  std::condition_variable changed_;
  std::string detail_;
  int reportDone_ = 0;
};

std::string FormField(const std::string& body, const std::string& name) {
  const std::string key = name + "=";
  size_t at = body.rfind("&" + key);
  at = (at == std::string::npos) ? (body.rfind(key, 0) == 0 ? 0 : std::string::npos) : at + 1;
  if (at == std::string::npos) return "<absent>";
  const size_t start = at + key.size();
  return FormDecode(body.substr(start, body.find('&', start) - start));
}

TEST(ErrorBoxTextTest, LinesFollowThePairsAndTheCause) {
  const ReportPairs pairs = {ReportPair{"File", "a.dat"}, ReportPair{"Dir", std::nullopt}, ReportPair{"Key", ""},
                             ReportPair{"Url", "http://x"}};
  EXPECT_EQ(ErrorBoxText("Cannot copy", "", pairs),
            "An error has occurred\nPlease contact technical support.\n\nDetalis: Cannot copy"
            "\nFile: a.dat\nKey: \nUrl: http://x");
  EXPECT_EQ(ErrorBoxText("Cannot copy", "Disk full\r\n", pairs),
            "An error has occurred\nPlease contact technical support.\n\nDetalis: Cannot copy"
            "\nCause: Disk full\r\n\nFile: a.dat\nKey: ");
  EXPECT_EQ(ErrorBoxText("x", "", {}), "An error has occurred\nPlease contact technical support.\n\nDetalis: x");
  // A server's name with escape sequences and line ends shows them as "?".
  EXPECT_EQ(ErrorBoxText("x", "", {ReportPair{"File", "a\x1b]0;t\x07\rb\n\x7f"}}),
            "An error has occurred\nPlease contact technical support.\n\nDetalis: x\nFile: a?]0;t??b??");
}

TEST(SystemErrorTextTest, TextIsCutToItsField) {
  fakes::FakeSystem system;
  const std::string whole = system.ErrorText(28);  // no space left on device
  ASSERT_GT(whole.size(), 10u);
  EXPECT_EQ(SystemErrorText(system, 28, 1000), whole);
  EXPECT_EQ(SystemErrorText(system, 28, 8), whole.substr(0, 6));
  EXPECT_EQ(SystemErrorText(system, 28, 0), "");
  EXPECT_EQ(SystemErrorText(system, 0, 1000), "");
}

class ReportsTest : public ::testing::Test {
 protected:
  ReportsTest() {
    platform.system = &system;
    platform.dialogs = &dialogs;
    platform.http = &http;
    platform.files = &files;
  }

  // The requests sent, once every report thread has ended.
  std::vector<platform::HttpPostRequest> Sent(Reports& reports) {
    reports.WaitForReports();
    return http.Requests();
  }

  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  fakes::FakeHttpClient http;
  platform::PosixFileSystem files;
  platform::Platform platform;
  FakeSession session;
};

TEST_F(ReportsTest, SuccessSendsPixel20AndFinishWithoutLemOnce) {
  Reports reports(platform, session);
  session.stats.step = 85;
  system.SetLastErrorCode(0);  // nothing failed: no detail even when asked for
  ASSERT_TRUE(reports.FinishReport(100, true));
  EXPECT_FALSE(reports.FinishReport(21, false));
  const auto sent = Sent(reports);
  ASSERT_EQ(sent.size(), 2u);
  const auto& pixel = sent[0].objectName.find("PixelServlet") != std::string::npos ? sent[0] : sent[1];
  const auto& stats = &pixel == &sent[0] ? sent[1] : sent[0];
  EXPECT_EQ(pixel.objectName, "servlet/PixelServlet");
  EXPECT_EQ(FormField(pixel.body, "ac"), "20");
  EXPECT_EQ(stats.objectName, "servlet/UpdateServlet");
  EXPECT_EQ(FormField(stats.body, "txt"), "FINISH");
  EXPECT_EQ(FormField(stats.body, "ier"), "100");
  EXPECT_EQ(FormField(stats.body, "ies"), "85");
  EXPECT_EQ(stats.body.find("&lem="), std::string::npos);
  EXPECT_EQ(session.stats.finalCode.load(), 100);
  EXPECT_EQ(session.ReportDoneCount(), 1);
}

TEST_F(ReportsTest, FailureCarriesParametersAndTheSystemError) {
  Reports reports(platform, session);
  session.stats.step = 41;
  system.SetLastErrorCode(28);
  // A whole reply as a parameter arrives cut, with its length.
  const std::string reply(4u << 20, 'r');
  ASSERT_TRUE(reports.FinishReport(1, true, {std::string("m"), std::string("b & c=d"), reply}));
  EXPECT_EQ(session.ErrorDetail(), system.ErrorText(28));
  const auto sent = Sent(reports);
  ASSERT_EQ(sent.size(), 2u);
  const auto& stats = sent[0].objectName == "servlet/UpdateServlet" ? sent[0] : sent[1];
  const auto& pixel = &stats == &sent[0] ? sent[1] : sent[0];
  EXPECT_EQ(FormField(pixel.body, "ac"), "21");
  EXPECT_EQ(FormField(stats.body, "ier"), "1");
  EXPECT_EQ(FormField(stats.body, "ies"), "41");
  EXPECT_EQ(FormField(stats.body, "lem"), system.ErrorText(28));
  EXPECT_EQ(FormField(stats.body, "parm1"), "m");
  EXPECT_EQ(FormField(stats.body, "parm2"), "b & c=d");
  EXPECT_EQ(FormField(stats.body, "parm3"), reply.substr(0, kReportParameterWidth) + "...[4194304 bytes]");
  EXPECT_EQ(FormField(stats.body, "parm4"), "<absent>");
  const std::string tail = "&parm1=m&parm2=" + FormEncode("b & c=d") + "&parm3=" + std::string(kReportParameterWidth, 'r') +
                           FormEncode("...[4194304 bytes]");
  EXPECT_EQ(stats.body.substr(stats.body.size() - tail.size()), tail);

  // A later error box names the cause first.
  reports.ErrorReport("Directory copying failed", {ReportPair{"From", "u"}, ReportPair{"To", "i"}});
  ASSERT_EQ(dialogs.Boxes().size(), 1u);
  EXPECT_NE(dialogs.Boxes()[0].text.find("\nCause: " + system.ErrorText(28)), std::string::npos);
  EXPECT_EQ(dialogs.Boxes()[0].style, platform::BoxStyle::Error);
}

// Without a system error, the cause is what the transport said of the
// exchange that ended the session; the box names the session log, which
// holds the final code and the box.
TEST_F(ReportsTest, TheBoxNamesTheTransportCauseAndTheSessionLog) {
  struct MemoryLog : platform::SessionLog {
    std::mutex lock;
    std::string text;
    void Write(const std::string& line) override {
      std::lock_guard<std::mutex> guard(lock);
      text += line + "\n";
    }
    std::string Path() const override { return "/state/websetup/session-1.log"; }
  } log;
  platform.log = &log;
  Reports reports(platform, session);
  session.stats.step = 1;
  SetLastTransportFailure("connection refused: nothing answers at the server's address and port");
  ASSERT_TRUE(reports.FinishReport(1, false));
  reports.ErrorReport("Communication with the server failed");
  reports.WaitForReports();
  ASSERT_EQ(dialogs.Boxes().size(), 1u);
  const std::string box = dialogs.Boxes()[0].text;
  EXPECT_NE(box.find("Detalis: Communication with the server failed\nCause: connection refused: "), std::string::npos)
      << box;
  EXPECT_EQ(box.substr(box.rfind("\n\n")), "\n\nSession log: /state/websetup/session-1.log") << box;
  std::lock_guard<std::mutex> guard(log.lock);
  EXPECT_NE(log.text.find("final code 1 at step 1\n"), std::string::npos) << log.text;
  EXPECT_NE(log.text.find("error box: An error has occurred"), std::string::npos) << log.text;
}

TEST_F(ReportsTest, StatisticsCarryElapsedSecondsAndTheFormOfTheMoment) {
  Reports reports(platform, session);
  system.tickCount = 100000;
  reports.StatisticsReport("START");  // before the movie started: all stamps 0
  session.stats.tDlg = 100000 - 65000;
  session.stats.tLang = 100000 - 999;
  session.stats.tDL = 0xFFFFF000u;  // taken just before the tick count wrapped
  session.stats.kbs = 123.456;
  session.stats.dlFileCount = 7;
  reports.StatisticsReport("STATUS: 01 x", std::string("detail"));
  session.stats.dlFileCount = 8;  // after the call: not in the form
  const auto sent = Sent(reports);
  ASSERT_EQ(sent.size(), 2u);
  const auto& first = FormField(sent[0].body, "txt") == "START" ? sent[0] : sent[1];
  const auto& second = &first == &sent[0] ? sent[1] : sent[0];
  for (const char* name : {"tDlg", "tLang", "tDL"}) EXPECT_EQ(FormField(first.body, name), "0") << name;
  EXPECT_EQ(FormField(second.body, "tDlg"), "65");
  EXPECT_EQ(FormField(second.body, "tLang"), "0");
  EXPECT_EQ(FormField(second.body, "tDL"), std::to_string((100000u + 0x1000u) / 1000u));
  EXPECT_EQ(FormField(second.body, "kbs"), "123.46");
  EXPECT_EQ(FormField(second.body, "dlFileCount"), "7");
  EXPECT_EQ(FormField(second.body, "txt"), "STATUS: 01 x");
  EXPECT_EQ(FormField(second.body, "lem"), "detail");
  EXPECT_EQ(session.ReportDoneCount(), 0);
}

TEST_F(ReportsTest, OnlyTheClosingPixelsTellTheMainThread) {
  http.script = {fakes::ReadFails()};  // the pixel host is down
  Reports reports(platform, session);
  reports.TrackingPixel(1);
  reports.WaitForReports();
  EXPECT_EQ(session.ReportDoneCount(), 0);
  reports.TrackingPixel(21);
  reports.WaitForReports();
  EXPECT_EQ(session.ReportDoneCount(), 1);
  reports.TrackingPixel(20);
  reports.WaitForReports();
  EXPECT_EQ(session.ReportDoneCount(), 2);
}

TEST_F(ReportsTest, WebPixelPathReplacesTheServletWhenNamed) {
  Reports reports(platform, session);
  std::vector<unsigned> codes;
  std::mutex lock;
  reports.SetWebPixelSender([&](unsigned code) {
    std::lock_guard<std::mutex> hold(lock);
    codes.push_back(code);
  });
  session.fields.useWebPixels = true;
  reports.TrackingPixel(1);
  session.fields.useWebPixels = false;
  reports.TrackingPixel(1);
  const auto sent = Sent(reports);
  EXPECT_EQ(codes, std::vector<unsigned>{1});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].objectName, "servlet/PixelServlet");
}

TEST_F(ReportsTest, EndOfProgramWaitsInTheMainLoopForTheLastReport) {
  Reports reports(platform, session);
  std::mutex lock;
  std::condition_variable changed;
  bool started = false, released = false;
  reports.SetWebPixelSender([&](unsigned) {
    std::unique_lock<std::mutex> hold(lock);
    started = true;
    changed.notify_all();
    changed.wait(hold, [&] { return released; });
  });
  session.fields.useWebPixels = true;
  session.loop.Quit(0);  // the application's loop has ended, as at the end of a run
  reports.TrackingPixel(20);
  std::thread releaser([&] {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return started; });
    released = true;
    changed.notify_all();
  });
  reports.AwaitReportsInLoop();
  EXPECT_EQ(reports.PendingReports(), 0);
  {
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_TRUE(released);
  }
  releaser.join();
}

// An HTTP client whose exchanges each take a while and that records how
// many were open at the same time.
class SlowExchanges : public platform::HttpClient {
 public:
  std::unique_ptr<platform::HttpStream> Post(const platform::HttpPostRequest&) override {
    return std::make_unique<Stream>(*this);
  }
  void SetExtraCaFile(const std::string&) override {}
  std::unique_ptr<platform::HttpDownloadSession> OpenSession(const std::string&, const platform::HttpTimeouts&) override {
    return nullptr;
  }
  int MostAtOnce() const {
    std::lock_guard<std::mutex> hold(lock_);
    return mostAtOnce_;
  }
  int Exchanges() const {
    std::lock_guard<std::mutex> hold(lock_);
    return exchanges_;
  }

 private:
  class Stream : public platform::HttpStream {
   public:
    explicit Stream(SlowExchanges& owner) : owner_(owner) {
      std::lock_guard<std::mutex> hold(owner_.lock_);
      ++owner_.exchanges_;
      owner_.mostAtOnce_ = std::max(owner_.mostAtOnce_, ++owner_.open_);
    }
    ~Stream() override {
      std::lock_guard<std::mutex> hold(owner_.lock_);
      --owner_.open_;
    }
    bool Read(char*, size_t, size_t* received) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      *received = 0;
      return true;
    }
    std::string FailureText() const override { return {}; }

   private:
    SlowExchanges& owner_;
  };

  mutable std::mutex lock_;
  int open_ = 0, mostAtOnce_ = 0, exchanges_ = 0;
};

TEST_F(ReportsTest, PixelExchangesAreSerialised) {
  SlowExchanges slow;
  platform.http = &slow;
  Reports reports(platform, session);
  for (int i = 0; i < 4; ++i) reports.TrackingPixel(1);
  reports.WaitForReports();
  EXPECT_EQ(slow.Exchanges(), 4);
  EXPECT_EQ(slow.MostAtOnce(), 1);
}

// The closing reports reach the real reference server: one pixel with
// ac=20 and one FINISH statistics form.
TEST(ReportsRefServerTest, FinishReportArrivesOnceAtTheServer) {
  testing_support::RefServer server;
  platform::CurlHttpClient http;
  http.SetExtraCaFile(server.caFile());
  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  platform::PosixFileSystem files;
  platform::Platform p;
  p.system = &system;
  p.dialogs = &dialogs;
  p.http = &http;
  p.files = &files;
  FakeSession session;
  session.fields.pixelHost = "localhost";
  session.fields.pixelPort = server.httpsPort();
  session.fields.serverAddress = {"localhost", "UpdateServlet", "", "", server.httpsPort(), ""};
  {
    Reports reports(p, session);
    ASSERT_TRUE(reports.FinishReport(100, false));
    EXPECT_FALSE(reports.FinishReport(30, false));
    reports.WaitForReports();
  }
  int pixels = 0, finishes = 0;
  for (const auto& request : server.Requests()) {
    if (request.path == "/servlet/PixelServlet") {
      ++pixels;
      EXPECT_EQ(request.Field("ac"), "20");
      EXPECT_EQ(request.Field("affsd"), "tessmark");
      EXPECT_TRUE(request.tls);
    } else if (request.Field("txt") == "FINISH") {
      ++finishes;
      EXPECT_FALSE(request.HasField("lem"));
      EXPECT_EQ(request.Field("ier"), "100");
    }
  }
  EXPECT_EQ(pixels, 1);
  EXPECT_EQ(finishes, 1);
  EXPECT_EQ(session.ReportDoneCount(), 1);
}

TEST(ReportsRefServerTest, ClosingPixelTellsTheMainThreadWhenTheHostIsDown) {
  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  platform::PosixFileSystem files;
  platform::CurlHttpClient http;
  platform::Platform p;
  p.system = &system;
  p.dialogs = &dialogs;
  p.http = &http;
  p.files = &files;
  FakeSession session;
  session.fields.pixelHost = "127.0.0.1";
  session.fields.pixelPort = 1;  // nothing listens there
  session.fields.serverAddress.port = 1;
  Reports reports(p, session);
  ASSERT_TRUE(reports.FinishReport(21, false));
  reports.WaitForReports();
  EXPECT_EQ(session.ReportDoneCount(), 1);
}

}  // namespace
}  // namespace net
