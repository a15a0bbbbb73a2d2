// The installer with the HTML player on a display (the suite runs it under
// Xvfb) against the reference server: whole installations through the
// reference movies, driven by clicks through the pages' scripts, with a
// screenshot of every page kept in the build tree and checked; the
// reinstall/play movie's two choices; movies that fail.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "support/child_program.h"
#include "support/refserver.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ChildEnd;
using testing_support::ChildProgram;
using testing_support::ReadFile;
using testing_support::RefServer;
using testing_support::RefServerOptions;
using testing_support::RunChild;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr int kBrand[3] = {75, 70, 43};  // Quorix's brand colour

struct Session {
  int exitCode = -1;
  std::string err;
  std::string log;  // the session log
};

// One user's machine with the downloaded program, as in the other
// end-to-end tests, and a folder of screenshots in the build tree.
class Desktop {
 public:
  Desktop(const RefServer& server, const std::string& shots) : server_(server), shots_(shots) {
    home_ = root_ / "home";
    download_ = root_ / "download";
    fs::create_directories(download_ + "/cfg");
    fs::remove_all(shots_);
    fs::create_directories(shots_);
    fs::copy_file(std::string(WEBSETUP_BIN_DIR) + "/websetup_html_e2e", download_ + "/websetup_html_e2e");
    WriteFile(download_ + "/cfg/Updater.cfg", "~ip=localhost~srvl=UpdateServlet~po=" +
                                                  std::to_string(server.httpsPort()) + "~ca=" + server.caFile());
  }

  std::string InstallDir() const { return home_ + "/.local/share/Quorix"; }
  std::string Root() const { return root_.path(); }
  std::string SampleLog() const { return ReadFile(root_ / "sample.log"); }

  Session Drive(const std::string& script, int boundMs = 20000, int timeoutSeconds = 90) {
    const std::string n = std::to_string(++runs_);
    WriteFile(root_ / ("drive" + n), script);
    const std::string program = download_ + "/websetup_html_e2e";
    ChildProgram child;
    child.args = {program, root_ / ("drive" + n), shots_, std::to_string(server_.httpsPort()), std::to_string(boundMs)};
    const char* display = std::getenv("DISPLAY");
    child.env = {"HOME=" + home_,
                 "XDG_DATA_HOME=" + home_ + "/.local/share",
                 "XDG_CONFIG_HOME=" + home_ + "/.config",
                 "XDG_STATE_HOME=" + home_ + "/.state",
                 "XDG_DESKTOP_DIR=" + home_ + "/Desktop",
                 "PATH=/usr/bin:/bin",
                 "DISPLAY=" + std::string(display ? display : ""),
                 "no_proxy=localhost,127.0.0.1",
                 "WEBSETUP_SAMPLE_LOG=" + (root_ / "sample.log")};
    if (const char* asan = std::getenv("ASAN_OPTIONS")) child.env.push_back(std::string("ASAN_OPTIONS=") + asan);
    if (const char* xauthority = std::getenv("XAUTHORITY"))
      child.env.push_back(std::string("XAUTHORITY=") + xauthority);
    const std::string errPath = root_ / ("err" + n);
    child.folder = download_;
    child.outPath = root_ / ("out" + n);
    child.errPath = errPath;
    child.timeoutSeconds = timeoutSeconds;
    Session run;
    const ChildEnd end = RunChild(child);
    if (!end.started) return run;
    run.exitCode = end.exitCode;
    run.err = ReadFile(errPath);
    std::string newest;
    if (fs::exists(home_ + "/.state/websetup")) {
      for (const auto& entry : fs::directory_iterator(home_ + "/.state/websetup")) {
        if (entry.path().string() > newest) newest = entry.path().string();
      }
    }
    run.log = ReadFile(newest);
    return run;
  }

  // The screenshot `name`: the movie window's client area on the screen is
  // `width` x `height`, centred, shows the brand colour and is not blank.
  void ExpectPage(const std::string& name, int width, int height) const {
    SCOPED_TRACE("screenshot " + shots_ + "/" + name + ".png");
    GError* error = nullptr;
    GdkPixbuf* shot = gdk_pixbuf_new_from_file((shots_ + "/" + name + ".png").c_str(), &error);
    ASSERT_NE(shot, nullptr) << (error ? error->message : "");
    std::istringstream list(ReadFile(shots_ + "/shots.txt"));
    std::string line, listed;
    int x = -1, y = -1, w = 0, h = 0;
    while (std::getline(list, line)) {
      std::istringstream fields(line);
      fields >> listed;
      if (listed == name) fields >> x >> y >> w >> h;
    }
    const int screenW = gdk_pixbuf_get_width(shot), screenH = gdk_pixbuf_get_height(shot);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_NEAR(x, (screenW - width) / 2, 1) << "not centred across";
    EXPECT_NEAR(y, (screenH - height) / 2, 1) << "not centred down";
    // The pixels of the client area.
    const int stride = gdk_pixbuf_get_rowstride(shot), channels = gdk_pixbuf_get_n_channels(shot);
    const guchar* pixels = gdk_pixbuf_get_pixels(shot);
    long brand = 0;
    std::set<uint32_t> colours;
    for (int row = std::max(0, y); row < std::min(screenH, y + h); ++row) {
      for (int col = std::max(0, x); col < std::min(screenW, x + w); ++col) {
        const guchar* p = pixels + row * stride + col * channels;
        brand += p[0] == kBrand[0] && p[1] == kBrand[1] && p[2] == kBrand[2];
        if (colours.size() < 1000) colours.insert(p[0] << 16 | p[1] << 8 | p[2]);
      }
    }
    EXPECT_GT(brand, static_cast<long>(w) * h / 20) << "too little of the brand colour";
    EXPECT_GT(colours.size(), 50u) << "a blank page";
    g_object_unref(shot);
  }

 private:
  const RefServer& server_;
  std::string shots_;
  TempDir root_;
  std::string home_;
  std::string download_;
  int runs_ = 0;
};

RefServerOptions SampleClient() {
  RefServerOptions options;
  options.clientSet = testing_support::SampleClientDir() + "/client";
  options.filesDir = testing_support::SampleClientDir();
  return options;
}

std::string Shots(const std::string& test) { return std::string(WEBSETUP_ARTIFACT_DIR) + "/desktop/" + test; }

class HtmlInstaller : public testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0')
      GTEST_SKIP() << "no display (the suite runs these tests under xvfb-run)";
  }
};

// Language, folder, progress (a file trickles, so the page stays a while),
// licence; then the second run's offer and Play.
TEST_F(HtmlInstaller, WholeInstallationThenPlay) {
  RefServer server(SampleClient());
  server.Misbehave("trickle", "/files/client/Tavrel.dll", 1, "", 0, 120000);
  Desktop desktop(server, Shots("installation"));
  const Session install = desktop.Drive(R"(wait language
show preloader
shot preloader
show language
shot language
click [data-lang=de]
wait folder
shot folder
click #install
wait progress
until document.getElementById("fileName").textContent.indexOf("Tavrel") >= 0 && parseFloat(document.getElementById("runBar").style.width) > 0
shot progress
wait licence
shot licence
click #accept
)");
  ASSERT_EQ(install.exitCode, 0) << install.err << install.log;
  EXPECT_TRUE(fs::exists(desktop.InstallDir() + "/qrx/DlgMsg.qrx"));
  EXPECT_TRUE(fs::exists(desktop.InstallDir() + "/Quorix.exe"));
  for (const char* page : {"preloader", "language", "folder", "progress", "licence"})
    desktop.ExpectPage(page, 640, 480);

  const Session play = desktop.Drive("wait offer\nshot offer\nclick #play\n");
  ASSERT_EQ(play.exitCode, 0) << play.err << play.log;
  desktop.ExpectPage("offer", 420, 260);
  for (int i = 0; i < 100 && desktop.SampleLog().find("Updater.exe") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_NE(desktop.SampleLog().find("Updater.exe"), std::string::npos) << "the launcher did not start";
}

// "Browse" opens GTK's folder picker above the movie: cancelled, the
// proposed folder stays; a folder chosen there is where the game goes
// (with the game's own folder inside it).
TEST_F(HtmlInstaller, FolderChosenInThePicker) {
  RefServer server(SampleClient());
  Desktop desktop(server, Shots("picker"));
  const std::string games = desktop.Root() + "/my games";
  fs::create_directories(games);
  const Session install = desktop.Drive(R"(wait language
click [data-lang=en]
wait folder
click #browse
pick cancel
until document.getElementById("folderInput").value === ")" + desktop.InstallDir() + R"("
click #browse
pick )" + games + R"(
until document.getElementById("folderInput").value === ")" + games + R"(/Quorix"
click #install
wait licence
click #accept
)");
  ASSERT_EQ(install.exitCode, 0) << install.err << install.log;
  EXPECT_TRUE(fs::exists(games + "/Quorix/Quorix.exe"));
  EXPECT_FALSE(fs::exists(desktop.InstallDir()));
  for (const char* shot : {"picker-opened", "picker-chosen"}) EXPECT_TRUE(fs::exists(Shots("picker") + "/" + shot + ".png"));
}

// A failed file list shows the error page and the box, and ends with its
// code; a declined licence ends with its own. Then the reinstall choice,
// confirmed, runs the installer again.
TEST_F(HtmlInstaller, ErrorDeclineThenReinstall) {
  RefServer server(SampleClient());
  server.Misbehave("html", "/servlet/UpdateServlet", 1, "11");
  Desktop desktop(server, Shots("error-reinstall"));
  const char* kToLicence = "wait language\nclick [data-lang=fr]\nwait folder\nclick #install\nwait licence\n";
  const Session failed = desktop.Drive("wait language\nclick [data-lang=fr]\nwait folder\nclick #install\n"
                                       "wait error\nshot error\nbox ok\n");
  EXPECT_EQ(failed.exitCode, 20) << failed.err << failed.log;
  EXPECT_EQ(desktop.Drive(std::string(kToLicence) + "click #decline\n").exitCode, 51);
  EXPECT_FALSE(fs::exists(desktop.InstallDir() + "/Quorix.exe"));
  ASSERT_EQ(desktop.Drive(std::string(kToLicence) + "click #accept\n").exitCode, 0);

  const Session again = desktop.Drive(R"(wait offer
click #reinstall
wait confirm
shot confirm
click #really
wait language
shot reinstall-language
click [data-lang=en]
wait folder
click #install
wait licence
click #accept
)");
  EXPECT_EQ(again.exitCode, 0) << again.err << again.log;
  desktop.ExpectPage("error", 640, 480);
  desktop.ExpectPage("confirm", 420, 260);
  desktop.ExpectPage("reinstall-language", 640, 480);
  EXPECT_TRUE(fs::exists(desktop.InstallDir() + "/Quorix.exe"));
}

// The window's close button asks first; No leaves the dialog as it was, Yes
// ends the session as the user's exit.
TEST_F(HtmlInstaller, CloseButtonAsksFirst) {
  RefServer server(SampleClient());
  Desktop desktop(server, Shots("close"));
  const Session left = desktop.Drive("wait language\nclose\nshot question\nbox no\nclick [data-lang=en]\n"
                                     "wait folder\nclose\nbox yes\n");
  EXPECT_EQ(left.exitCode, 50) << left.err << left.log;
  EXPECT_FALSE(fs::exists(desktop.InstallDir()));
}

// Movies that fail: the dialog stays usable, the failure is logged, and the
// session ends with its code after a bounded wait.
struct BadMovie {
  const char* name;
  const char* movieUrl;  // in the initial reply ({base}: the server)
  const char* movie;     // served as movies/DlgUpdater.qrx
  bool dropped;          // the server closes the movie's connections
  const char* drive;
  int exitCode;
  std::vector<const char*> logged;
};

TEST_F(HtmlInstaller, BadMoviesEndInTheirCode) {
  const BadMovie rows[] = {
      {"unreachable", "{base}/files/movies/DlgUpdater.qrx", "", true, "box ok\n", 90, {"failed to load"}},
      {"silent", "{base}/files/movies/DlgUpdater.qrx", "<html><body>nothing here</body></html>", false, "box ok\n", 90,
       {"no command within 3000 ms"}},
      {"hostile", "{base}/files/movies/DlgUpdater.qrx",
       "<html><body data-page=hostile><script>"
       "movieHost.fsCommand('InitPreloader', '320~200');"
       "movieHost.fsCommand('Bogus', 'x'); movieHost.fsCommand('initdialog', '1~1');"
       "window.open('https://example.invalid/popup');"
       "setTimeout(function () { throw new Error('broken movie'); }, 0);"
       "setTimeout(function () { location.href = 'https://example.invalid/away'; }, 100);"
       "setTimeout(function () { movieHost.fsCommand('Decline'); }, 1500);"
       "</script></body></html>",
       false, "wait hostile\n", 51, {"refused to open https://example.invalid/away", "broken movie"}},
  };
  for (const BadMovie& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir files;
    WriteFile(files / "movies/DlgUpdater.qrx", row.movie);
    WriteFile(files / "replies", std::string("ac=10 ~ac=10~url={base}/servlet/Dispatcher~fl=|~fn=DlgUpdater.qrx~url=") +
                                     row.movieUrl + "||\n");
    RefServerOptions options = SampleClient();
    options.filesDir = files.path();
    options.replySet = files / "replies";
    RefServer server(options);
    if (row.dropped) server.Misbehave("close", "/files/movies/DlgUpdater.qrx", 10);
    Desktop desktop(server, Shots(std::string("bad-") + row.name));
    const auto start = std::chrono::steady_clock::now();
    const Session run = desktop.Drive(row.drive, 3000);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err << run.log;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    for (const char* line : row.logged) EXPECT_NE(run.log.find(line), std::string::npos) << line << "\n" << run.log;
    EXPECT_FALSE(fs::exists(desktop.InstallDir()));
  }
}

}  // namespace
