// The installer as the desktop tests run it: the real program with the
// HTML player on the display the environment names, the built-in secure
// host pointed at the test's own server, and a driver inside the process
// that plays the user: it waits for the movie's pages, clicks their buttons
// through the page's script, answers the boxes and keeps a screenshot of
// the whole screen for each page.
//   websetup_html_e2e <drive script> <shots folder> <secure port> <first-command bound ms>
// Drive script, one step a line:
//   wait <page>           until the movie's body[data-page] is <page> (30 s)
//   until <js>            until the expression is true in the movie (30 s)
//   shot <name>           <shots>/<name>.png, and a line "<name> <x> <y> <w> <h>"
//                         (the movie window's client area) in <shots>/shots.txt
//   click <selector>      the element's click()
//   set <selector> <text> the input's value
//   show <page>           the movie's page <page>, as the movie itself shows it
//   box <yes|no|ok>       answers the open message box (waits for one, 30 s)
//   pick <folder|cancel>  in the open folder picker (waits for one, 30 s):
//                         the folder chosen (screenshot <shots>/picker-chosen.png)
//                         or the picker cancelled (<shots>/picker-opened.png)
//   close                 the movie window's close button
// A step that times out ends the process with exit code 97.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/stamped_parameters.h"
#include "platform/gtk/gtk_desktop.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/session_guard.h"
#include "ui/application.h"

namespace {

constexpr gint64 kStepBoundMicros = 30 * G_USEC_PER_SEC;

struct Step {
  std::string verb, argument;
};

class Driver {
 public:
  Driver(std::vector<Step> steps, std::string shots) : steps_(std::move(steps)), shots_(std::move(shots)) {
    g_timeout_add(50, Tick, this);
  }

 private:
  static gboolean Tick(gpointer data) {
    auto* self = static_cast<Driver*>(data);
    self->Advance();
    return self->next_ < self->steps_.size() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
  }

  // The movie's view in the newest visible window that has one.
  static WebKitWebView* MovieView(GtkWindow** window) {
    WebKitWebView* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
      GtkWidget* top = GTK_WIDGET(item->data);
      if (!gtk_widget_get_visible(top) || !GTK_IS_BIN(top)) continue;
      GtkWidget* child = gtk_bin_get_child(GTK_BIN(top));
      if (child == nullptr || !GTK_IS_FIXED(child)) continue;
      GList* views = gtk_container_get_children(GTK_CONTAINER(child));
      for (GList* v = views; v != nullptr; v = v->next) {
        if (WEBKIT_IS_WEB_VIEW(v->data)) {
          found = WEBKIT_WEB_VIEW(v->data);
          if (window) *window = GTK_WINDOW(top);
        }
      }
      g_list_free(views);
    }
    g_list_free(windows);
    return found;
  }

  // The picker on the screen: the folder set, then once it shows, the
  // screenshot and the choice made.
  void Pick(GtkDialog* picker, const std::string& folder) {
    if (!Settled(GTK_WINDOW(picker))) return;
    if (!picked_ && folder != "cancel") {
      picked_ = true;
      gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(picker), folder.c_str());
      return;
    }
    picked_ = false;
    SaveScreen(folder == "cancel" ? "picker-opened" : "picker-chosen");
    Done();
    gtk_dialog_response(picker, folder == "cancel" ? GTK_RESPONSE_CANCEL : GTK_RESPONSE_ACCEPT);
  }

  // The newest visible dialog of `type` (a message box, the folder picker).
  static GtkDialog* OpenDialog(GType type) {
    GtkDialog* dialog = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
      if (G_TYPE_CHECK_INSTANCE_TYPE(item->data, type) && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
        dialog = GTK_DIALOG(item->data);
      }
    }
    g_list_free(windows);
    return dialog;
  }

  void Advance() {
    if (next_ >= steps_.size() || pending_) return;
    const Step& step = steps_[next_];
    if (started_ == 0) started_ = g_get_monotonic_time();
    if (g_get_monotonic_time() - started_ > kStepBoundMicros) {
      std::fprintf(stderr, "driver: step %zu (%s %s) timed out\n", next_ + 1, step.verb.c_str(), step.argument.c_str());
      std::fflush(stderr);
      std::_Exit(97);
    }
    if (step.verb == "box") {
      GtkDialog* box = OpenDialog(GTK_TYPE_MESSAGE_DIALOG);
      if (box == nullptr) return;
      Done();
      gtk_dialog_response(box, step.argument == "yes" ? GTK_RESPONSE_YES
                               : step.argument == "no" ? GTK_RESPONSE_NO
                                                       : GTK_RESPONSE_OK);
      return;
    }
    if (step.verb == "pick") {
      if (GtkDialog* picker = OpenDialog(GTK_TYPE_FILE_CHOOSER_DIALOG)) Pick(picker, step.argument);
      return;
    }
    GtkWindow* window = nullptr;
    WebKitWebView* view = MovieView(&window);
    if (view == nullptr) return;
    if (step.verb == "wait") {
      Ask(view, "document.body && document.body.dataset.page === " + Quoted(step.argument));
    } else if (step.verb == "until") {
      Ask(view, "!!(" + step.argument + ")");
    } else if (step.verb == "shot") {
      Shot(window, view);
    } else if (step.verb == "close") {
      Done();
      gtk_window_close(window);
    } else if (step.verb == "click") {
      Run(view, "document.querySelector(" + Quoted(step.argument) + ").click()");
    } else if (step.verb == "show") {
      // A page the movie passes through too quickly to be photographed.
      Run(view, "show(" + Quoted(step.argument) + ")");
    } else if (step.verb == "set") {
      const size_t space = step.argument.find(' ');
      Run(view, "document.querySelector(" + Quoted(step.argument.substr(0, space)) + ").value = " +
                    Quoted(space == std::string::npos ? "" : step.argument.substr(space + 1)));
    } else {
      std::fprintf(stderr, "driver: unknown step %s\n", step.verb.c_str());
      std::_Exit(97);
    }
  }

  static std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  }

  void Done() {
    std::fprintf(stderr, "driver: %s %s\n", steps_[next_].verb.c_str(), steps_[next_].argument.c_str());
    ++next_;
    started_ = 0;
  }

  void Run(WebKitWebView* view, const std::string& script) {
    webkit_web_view_evaluate_javascript(view, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    Done();
  }

  // Asks the page; the step is done when it answers true.
  void Ask(WebKitWebView* view, const std::string& script) {
    pending_ = true;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* self = static_cast<Driver*>(data);
          self->pending_ = false;
          JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
          if (value == nullptr) return;
          if (jsc_value_to_boolean(value)) self->Done();
          g_object_unref(value);
        },
        this);
  }

  // The whole screen, once the window has been on screen at its size for a
  // moment (the page's last frame drawn).
  void Shot(GtkWindow* window, WebKitWebView* view) {
    if (!Settled(window)) return;
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(view)), &x, &y);
    GtkAllocation size;
    gtk_widget_get_allocation(GTK_WIDGET(view), &size);
    const std::string& name = steps_[next_].argument;
    SaveScreen(name);
    std::ofstream list(shots_ + "/shots.txt", std::ios::app);
    list << name << ' ' << x << ' ' << y << ' ' << size.width << ' ' << size.height << '\n';
    Done();
  }

  // True once `window` has been on the screen for a moment (its last frame
  // drawn); false until then, and the step waits.
  bool Settled(GtkWindow* window) {
    GdkWindow* own = gtk_widget_get_window(GTK_WIDGET(window));
    if (own == nullptr || !gdk_window_is_viewable(own)) return false;
    if (settle_ == 0) settle_ = g_get_monotonic_time();
    if (g_get_monotonic_time() - settle_ < 700 * 1000) return false;
    settle_ = 0;
    return true;
  }

  void SaveScreen(const std::string& name) const {
    GdkWindow* root = gdk_get_default_root_window();
    GdkPixbuf* screen =
        gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
    if (screen == nullptr) return;
    gdk_pixbuf_save(screen, (shots_ + "/" + name + ".png").c_str(), "png", nullptr, nullptr);
    g_object_unref(screen);
  }

  std::vector<Step> steps_;
  std::string shots_;
  size_t next_ = 0;
  bool pending_ = false;
  gint64 started_ = 0;
  gint64 settle_ = 0;
  bool picked_ = false;  // the picker's folder is set, the choice not yet made
};

std::vector<Step> ReadSteps(const std::string& path) {
  std::vector<Step> steps;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find(' ');
    steps.push_back({line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1)});
  }
  return steps;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: websetup_html_e2e <drive script> <shots folder> <secure port> <bound ms>\n");
    return 2;
  }
  platform::PosixPlatform posix;
  platform::DesktopOptions options;
  options.extraCaFile = std::string(WEBSETUP_TEST_CERT_DIR) + "/ca.pem";
  options.firstCommandBound = std::chrono::milliseconds(std::atoi(argv[4]));
  std::unique_ptr<platform::Desktop> desktop = platform::OpenDesktop(options);
  if (!desktop) {
    std::fprintf(stderr, "websetup_html_e2e: no display\n");
    return 3;
  }
  platform::InstanceLock instance(app::ReadStampedValue(app::StampedSlot::AName));
  if (!instance.Held()) return 1;
  platform::MainLoop& loop = desktop->Loop();
  platform::TerminationRequests termination(
      [&loop] { loop.Post({app::WM_APP_CLOSE_DIALOG, app::kCloseLeave, 0}); });
  Driver driver(ReadSteps(argv[1]), argv[2]);
  app::BuiltInEndpoints endpoints = app::BuiltInEndpoints::FromBuild();
  endpoints.secureHost = "localhost";
  endpoints.securePort = std::atoi(argv[3]);
  return desktop->Run(posix, [&endpoints](const platform::Platform& view) { return ui::RunApplication(view, endpoints); });
}
