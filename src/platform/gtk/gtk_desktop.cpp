#include "platform/gtk/gtk_desktop.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <signal.h>

#include "platform/gtk/gtk_dialogs.h"
#include "platform/gtk/gtk_main_loop.h"
#include "platform/gtk/gtk_window.h"
#include "platform/gtk/html_player.h"
#include "platform/gtk/web_engine.h"
#include "platform/gtk/webkit_browser.h"
#include "platform/posix/posix_platform.h"

namespace platform {

namespace {

bool DisplayNamed() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

class GtkDesktop : public Desktop {
 public:
  explicit GtkDesktop(const DesktopOptions& options)
      : engine_(WebEngineOptions{options.extraCaFile, [this](const std::string& line) { LogLine(log_, line); }}),
        dialogs_(windows_),
        movies_(engine_, loop_, options.firstCommandBound),
        browser_(engine_) {
    // Ctrl-C on the terminal the program was started from is the close
    // button of the newest window.
    interrupt_ = g_unix_signal_add(
        SIGINT,
        [](gpointer data) -> gboolean {
          static_cast<GtkDesktop*>(data)->windows_.RequestClose();
          return G_SOURCE_CONTINUE;
        },
        this);
  }

  ~GtkDesktop() override {
    dialogs_.Close();
    g_source_remove(interrupt_);
  }

  MainLoop& Loop() override { return loop_; }

  int Run(PosixPlatform& posix, const std::function<int(const Platform&)>& application) override {
    posix.log = std::make_unique<PosixSessionLog>();
    posix.processes.SetOutputFd(posix.log->Fd());
    log_ = posix.log.get();
    Platform view = posix.View();
    view.mainLoop = &loop_;
    view.windows = &windows_;
    view.dialogs = &dialogs_;
    view.movies = &movies_;
    view.browser = &browser_;
    log_->Write("movie player: HTML (WebKitGTK " + std::to_string(webkit_get_major_version()) + "." +
                std::to_string(webkit_get_minor_version()) + ")");
    const int exitCode = application(view);
    dialogs_.Close();
    log_->Write("exit code " + std::to_string(exitCode));
    return exitCode;
  }

 private:
  SessionLog* log_ = nullptr;  // first: the engine logs through it
  GtkMainLoop loop_;
  WebEngine engine_;
  GtkWindowFactory windows_;
  GtkDialogs dialogs_;
  HtmlMovieHost movies_;
  WebKitBrowser browser_;
  guint interrupt_ = 0;
};

}  // namespace

std::unique_ptr<Desktop> OpenDesktop(const DesktopOptions& options) {
  if (!DisplayNamed()) return nullptr;
  if (!gtk_init_check(nullptr, nullptr)) return nullptr;
  g_set_prgname("websetup");
  return std::make_unique<GtkDesktop>(options);
}

}  // namespace platform
