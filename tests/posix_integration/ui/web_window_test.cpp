#include "ui/web_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/installer_app.h"
#include "app/messages.h"
#include "fakes/fake_platform.h"
#include "platform/posix/curl_http_client.h"
#include "platform/http_browser.h"
#include "platform/posix/posix_file_system.h"
#include "support/refserver.h"
#include "support/temp_dir.h"

namespace ui {
namespace {

namespace fs = std::filesystem;
using testing_support::RefServer;
using testing_support::RefServerOptions;

PixelPage Page(const std::string& address, unsigned code) {
  PixelPage page;
  page.address = address;
  page.serverSerial = "100001";
  page.serial = "K7TQ";
  page.affiliateSub = "tessmark";
  page.eventCode = code;
  page.affiliate = "orbelta";
  page.sessionId = "PC_1_042";
  page.finalCode = 24;
  page.stepAtFinal = 45;
  return page;
}

TEST(PageAddressTest, PairsInOrderWithEncodedValues) {
  struct Row {
    const char* name;
    PixelPage page;
    std::string address;
  };
  PixelPage noAffsd = Page("https://px.example/p", 1);
  noAffsd.affiliateSub = "";
  PixelPage awkward = Page("https://px.example/p?x=1", 21);
  awkward.affiliate = "a&b=c d";
  awkward.sessionId = "PC~1|042#";
  awkward.serverSerial = "1+1";
  const std::string tail = "lc=&langID=&sn=100001&anchor=&pid=1";
  const Row rows[] = {
      {"first pixel", Page("https://px.example/p", 1),
       "https://px.example/p?affsd=tessmark&ac=1&aname=orbelta&isid=PC_1_042&" + tail},
      {"success", Page("https://px.example/p", 20),
       "https://px.example/p?affsd=tessmark&ac=20&aname=orbelta&isid=PC_1_042&" + tail},
      {"failure adds ier and ies", Page("https://px.example/p", 21),
       "https://px.example/p?affsd=tessmark&ac=21&aname=orbelta&isid=PC_1_042&ier=24&ies=45&" + tail},
      {"query already there", Page("https://px.example/p?id=7", 20),
       "https://px.example/p?id=7&affsd=tessmark&ac=20&aname=orbelta&isid=PC_1_042&" + tail},
      {"empty affiliate sub-id", noAffsd, "https://px.example/p?ac=1&aname=orbelta&isid=PC_1_042&" + tail},
      {"values that would break the text or the query", awkward,
       "https://px.example/p?x=1&affsd=tessmark&ac=21&aname=a%26b%3Dc+d&isid=PC%7E1%7C042%23&ier=24&ies=45&"
       "lc=&langID=&sn=1%2B1&anchor=&pid=1"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(PageAddress(PixelParamText(row.page)), row.address) << row.name;
  }
}

TEST(PageAddressTest, ForeignTextFieldsAreCutToTheirWidths) {
  const std::string text = "~url=http%3A%2F%2Fh%2Fp~lc=" + std::string(30, 'l') + "~langID=deutsch~sn=" +
                           std::string(50, '9') + "~anchor=" + std::string(40, 'a');
  EXPECT_EQ(PageAddress(text), "http://h/p?lc=" + std::string(23, 'l') + "&langID=deu&sn=" + std::string(43, '9') +
                                   "&anchor=" + std::string(31, 'a') + "&pid=1");
}

// One installer application talking to the reference server: the update
// servlet answers action 12 with the two pixel pages it serves.
class WebPixelsTest : public ::testing::Test {
 protected:
  WebPixelsTest() : server(Options()), savedCwd(fs::current_path()) {
    http.SetExtraCaFile(server.caFile());
    platform::Platform p;
    p.system = &system;
    p.dialogs = &dialogs;
    p.files = &files;
    p.http = &http;
    p.browser = &browser;
    p.mainLoop = &mainLoop;
    application = std::make_unique<app::CInstallerApp>(p);
    application->appName = "Quorix";
    application->serverSerial = "100001";
    application->affiliateSub = "tessmark";
    application->affiliate = "orbelta";
    application->sessionId = "PC_1_042";
    application->serverAddress.host = "127.0.0.1";
    application->serverAddress.directory = "UpdateServlet";
    application->serverAddress.port = server.httpsPort();
    fs::current_path(cwd.path());
  }
  ~WebPixelsTest() override {
    application->Reports().WaitForReports();
    fs::current_path(savedCwd);
  }
  static RefServerOptions Options() {
    RefServerOptions options;
    options.filesDir = testing_support::SampleClientDir();
    return options;
  }

  // Requests as the server logged them: method, path and whole target.
  struct Seen {
    std::string method, path, target, ac;
  };
  std::vector<Seen> Log() const {
    std::vector<Seen> seen;
    for (const std::string& line : server.LogLines()) {
      const auto json = nlohmann::json::parse(line);
      Seen s{json.value("method", ""), json.value("path", ""), json.value("target", ""), ""};
      for (const auto& pair : json["form"]) {
        if (pair.is_array() && pair.size() == 2 && pair[0] == "ac") s.ac = pair[1];
      }
      seen.push_back(s);
    }
    return seen;
  }
  int ReportDoneMessages() {
    int count = 0;
    while (auto message = mainLoop.TryTake()) {
      if (message->id == app::WM_APP_REPORT_DONE) ++count;
    }
    return count;
  }

  RefServer server;
  platform::QueueMainLoop mainLoop;
  testing_support::TempDir cwd;
  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  platform::PosixFileSystem files;
  platform::CurlHttpClient http;
  platform::HttpBrowser browser{http};
  std::unique_ptr<app::CInstallerApp> application;
  fs::path savedCwd;
};

TEST_F(WebPixelsTest, AddressesAreFetchedOnceAndBothPagesOpenedForEveryEvent) {
  ShowWebPixels(*application, 21, std::chrono::seconds(10));
  ShowWebPixels(*application, 1, std::chrono::seconds(10));
  const auto log = Log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].path, "/servlet/UpdateServlet");
  EXPECT_EQ(log[0].ac, "12");
  const std::string expected[] = {
      "/files/pixel/pix1.html?affsd=tessmark&ac=21&aname=orbelta&isid=PC_1_042&ier=0&ies=0&lc=&langID=&sn=100001&"
      "anchor=&pid=1",
      "/files/pixel/pix2.html?affsd=tessmark&ac=21&aname=orbelta&isid=PC_1_042&ier=0&ies=0&lc=&langID=&sn=100001&"
      "anchor=&pid=1",
      "/files/pixel/pix1.html?affsd=tessmark&ac=1&aname=orbelta&isid=PC_1_042&lc=&langID=&sn=100001&anchor=&pid=1",
      "/files/pixel/pix2.html?affsd=tessmark&ac=1&aname=orbelta&isid=PC_1_042&lc=&langID=&sn=100001&anchor=&pid=1",
  };
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(log[i + 1].method, "GET");
    EXPECT_EQ(log[i + 1].target, expected[i]);
  }
  EXPECT_EQ(ReportDoneMessages(), 1);  // for 21, never for 1
}

TEST_F(WebPixelsTest, WithoutASecondAddressOnlyTheFirstPageOpens) {
  const std::string base = "https://127.0.0.1:" + std::to_string(server.httpsPort());
  application->webPixel1 = base + "/files/pixel/pix1.html";
  ShowWebPixels(*application, 20, std::chrono::seconds(10));
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].path, "/files/pixel/pix1.html");
  EXPECT_EQ(ReportDoneMessages(), 1);
}

TEST_F(WebPixelsTest, FailedAddressExchangeOpensNothingButStillEndsTheSession) {
  application->webPixel2 = "https://127.0.0.1:1/stale.html";
  server.Misbehave("close", "/servlet/UpdateServlet");
  ShowWebPixels(*application, 20, std::chrono::seconds(10));
  EXPECT_EQ(Log().size(), 1u);  // the exchange only
  EXPECT_TRUE(application->webPixel1.empty());
  EXPECT_TRUE(application->webPixel2.empty());
  EXPECT_EQ(ReportDoneMessages(), 1);

  // The next event asks again.
  ShowWebPixels(*application, 1, std::chrono::seconds(10));
  EXPECT_EQ(Log().size(), 4u);
  EXPECT_EQ(ReportDoneMessages(), 0);
}

TEST_F(WebPixelsTest, StalledPageEndsAtTheBound) {
  server.Misbehave("stall", "/files/pixel/pix1.html", 1, "", 20);
  const auto start = std::chrono::steady_clock::now();
  ShowWebPixels(*application, 21, std::chrono::milliseconds(1500));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1400));
  EXPECT_LT(elapsed, std::chrono::seconds(6));
  EXPECT_EQ(ReportDoneMessages(), 1);
  // The second page still opened after the stalled one.
  const auto log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2].path, "/files/pixel/pix2.html");
}

TEST_F(WebPixelsTest, ShowDispatchHoldsTheLastAddressOpenedWhenSwitchedOn) {
  ShowWebPixels(*application, 1, std::chrono::seconds(10));
  EXPECT_FALSE(fs::exists(cwd / "ShowDispatch.txt"));
  testing_support::WriteFile(cwd / "cfg/ShowDispatch.cfg", "");
  ShowWebPixels(*application, 1, std::chrono::seconds(10));
  EXPECT_EQ(testing_support::ReadFile(cwd / "ShowDispatch.txt"),
            "https://127.0.0.1:" + std::to_string(server.httpsPort()) +
                "/files/pixel/pix2.html?affsd=tessmark&ac=1&aname=orbelta&isid=PC_1_042&lc=&langID=&sn=100001&"
                "anchor=&pid=1");
}

TEST_F(WebPixelsTest, InstalledSenderCarriesTheApplicationsPixels) {
  InstallWebPixels(*application, std::chrono::seconds(10));
  application->useWebPixels = true;
  application->Reports().TrackingPixel(20);
  application->Reports().WaitForReports();
  const auto log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].ac, "12");
  EXPECT_EQ(log[1].path, "/files/pixel/pix1.html");
  EXPECT_EQ(ReportDoneMessages(), 1);
}

}  // namespace
}  // namespace ui
