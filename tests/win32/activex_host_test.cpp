// The player choice of the ActiveX host, in process: the movie control when
// it is registered and can be made, else the fallback player; and the
// hosted control's commands reach the dialog through the main loop, never
// from inside a call.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "fakes/fake_movie.h"
#include "platform/win32/activex_movie.h"
#include "platform/win32/main_loop_win32.h"
#include "platform/win32/win32_window.h"
#include "win32/standin_registration.h"
#include "win32/win32_test_folder.h"

namespace {

constexpr int32_t kFallbackVersion = 0x10000;

class ActiveXHostTest : public ::testing::Test {
 protected:
  ActiveXHostTest() {
    // The fallback's controls answer a version of their own.
    auto fallback = std::make_unique<fakes::FakeMovieHost>();
    fallback->versions = {kFallbackVersion};
    fallback_ = fallback.get();
    host_ = std::make_unique<platform::ActiveXMovieHost>(loop_, std::move(fallback), nullptr);
    window_ = windows_.CreateDialogWindow(102, true);
  }
  ~ActiveXHostTest() override {
    SetEnvironmentVariableA("WEBSETUP_STANDIN_SCRIPT", nullptr);
    SetEnvironmentVariableA("WEBSETUP_STANDIN_RECORD", nullptr);
  }

  std::unique_ptr<platform::MovieControl> Create() {
    return host_->CreateControl(*window_, 102, true, [this](const std::string& command, const std::string& args) {
      commands_.push_back(command + " " + args);
    });
  }

  void UseScript(const std::string& script) {
    testing_support::WriteText(folder_ / "script.txt", script);
    SetEnvironmentVariableA("WEBSETUP_STANDIN_SCRIPT", (folder_ / "script.txt").c_str());
  }

  // Runs the main loop until a command has arrived, at most 10 s.
  void RunUntilACommand() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::thread waker([&] {
      while (commands_.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        loop_.Wake();
      }
    });
    loop_.RunUntil([&] { return !commands_.empty() || std::chrono::steady_clock::now() >= deadline; },
                   [](const platform::ThreadMessage& message) { platform::RunIfTask(message); });
    waker.join();
  }

  testing_support::Win32TestFolder folder_;
  platform::Win32MainLoop loop_;
  platform::Win32WindowFactory windows_;
  fakes::FakeMovieHost* fallback_ = nullptr;  // owned by the host
  std::unique_ptr<platform::ActiveXMovieHost> host_;
  std::unique_ptr<platform::DialogWindow> window_;
  std::vector<std::string> commands_;
};

// Not registered, then registered but refusing to be made (the stand-in
// without a script): each time the fallback plays the movie.
TEST_F(ActiveXHostTest, WithoutAUsableControlTheFallbackPlaysTheMovie) {
  fallback_->versions = {kFallbackVersion, kFallbackVersion};
  for (const bool registered : {false, true}) {
    std::optional<testing_support::StandInControlRegistration> registration;
    if (registered) {
      ASSERT_TRUE(registration.emplace().registered());
    }
    const auto control = Create();
    ASSERT_NE(control, nullptr) << "registered " << registered;
    EXPECT_EQ(control->FlashVersion(), kFallbackVersion) << "registered " << registered;
  }
  EXPECT_EQ(fallback_->created.size(), 2u);
}

TEST_F(ActiveXHostTest, TheRegisteredControlIsHostedAndItsCommandsComeThroughTheLoop) {
  testing_support::StandInControlRegistration registration;
  ASSERT_TRUE(registration.registered());
  UseScript("version 0x80000\non load Movie.qrx: InitPreloader 320~200\n");
  const auto control = Create();
  ASSERT_NE(control, nullptr);
  EXPECT_TRUE(fallback_->created.empty());
  // An old player's version comes through as it is: the provisioning
  // decides on it.
  EXPECT_EQ(control->FlashVersion(), 0x80000);

  control->SetMovie("C:\\movies\\Movie.qrx");
  EXPECT_TRUE(commands_.empty()) << "a command arrived inside the call";
  RunUntilACommand();
  EXPECT_EQ(commands_, std::vector<std::string>{"InitPreloader 320~200"});

  // The control's window carries the dialog's control id and takes the
  // size the movie asks for.
  control->SetSize(320, 200);
  const HWND movie = GetDlgItem(platform::NativeWindowOf(*window_), 102);
  ASSERT_NE(movie, nullptr);
  RECT client{};
  GetClientRect(movie, &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 200);

  // Right clicks never reach the movie (its player's own menu); left
  // clicks do.
  static int rightDowns = 0, leftDowns = 0;
  static WNDPROC original = nullptr;
  original = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      movie, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        rightDowns += m == WM_RBUTTONDOWN;
        leftDowns += m == WM_LBUTTONDOWN;
        return CallWindowProcA(original, w, m, wp, lp);
      })));
  PostMessageA(movie, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
  PostMessageA(movie, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  loop_.RunUntil([&] { return leftDowns > 0; }, [](const platform::ThreadMessage&) {});
  EXPECT_EQ(rightDowns, 0);
  SetWindowLongPtrA(movie, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
}

}  // namespace
