// A dialog window on a desktop with a window manager: once the manager has
// framed it, the whole window, frame included, is centred on the work area.
#include "platform/gtk/gtk_window.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
// After the test framework: X11's headers define None, Bool and True.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A window manager on the test's display for the test's life.
class WindowManager {
 public:
  explicit WindowManager(const char* program) {
    char* argv[] = {const_cast<char*>(program), const_cast<char*>("--sm-disable"), nullptr};
    if (posix_spawn(&pid_, program, nullptr, nullptr, argv, environ) != 0) pid_ = 0;
  }
  ~WindowManager() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
  }
  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = 0;
};

TEST(GtkDialogWindowTest, FramedWindowIsCentredWholeOnTheWorkArea) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0' || !gtk_init_check(nullptr, nullptr)) {
    GTEST_SKIP() << "no display (the suite runs these tests under xvfb-run)";
  }
  const char* program = "/usr/bin/openbox";
  if (access(program, X_OK) != 0) GTEST_SKIP() << "no window manager to frame the window (openbox)";
  WindowManager manager(program);
  ASSERT_TRUE(manager.Started());
  // A manager holds the screen's manager selection once it runs; asked
  // before, GTK would take the screen for one without a manager for a while.
  Display* x = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  const Atom selection = XInternAtom(x, "WM_S0", False);
  for (const auto end = Clock::now() + std::chrono::seconds(10);
       XGetSelectionOwner(x, selection) == None && Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_NE(XGetSelectionOwner(x, selection), static_cast<Window>(None)) << "the window manager did not start";

  platform::GtkWindowFactory windows;
  std::unique_ptr<platform::DialogWindow> window = windows.CreateDialogWindow(102, false);
  window->FitClient(640, 480);
  window->Show();
  GtkWidget* widget = static_cast<platform::GtkDialogWindow&>(*window).Widget();
  GdkRectangle area{}, frame{};
  gdk_monitor_get_workarea(gdk_display_get_primary_monitor(gdk_display_get_default()), &area);
  const auto centred = [&] {
    GdkWindow* own = gtk_widget_get_window(widget);
    if (own == nullptr) return false;
    gdk_window_get_frame_extents(own, &frame);
    return frame.width > 640 && frame.height > 480 && std::abs(frame.x - (area.x + (area.width - frame.width) / 2)) <= 1 &&
           std::abs(frame.y - (area.y + (area.height - frame.height) / 2)) <= 1;
  };
  for (const auto end = Clock::now() + std::chrono::seconds(10); !centred() && Clock::now() < end;) {
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(centred()) << "frame " << frame.width << "x" << frame.height << " at " << frame.x << "," << frame.y
                         << " on a work area of " << area.width << "x" << area.height << " at " << area.x << ","
                         << area.y;
}

}  // namespace
