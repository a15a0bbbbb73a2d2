#include "platform/gtk/html_player.h"

#include <webkit2/webkit2.h>

#include <cstdio>

#include "platform/gtk/gtk_window.h"
#include "platform/gtk/web_engine.h"
#include "platform/builtin_movies.h"

namespace platform {

namespace {

// The bridge every movie gets before its own scripts run (see the header).
// Handlers of the page that throw are reported as script errors, never to
// the program's calls.
constexpr const char* kBridgeScript = R"JS((function () {
  if (window.movieHost) return;
  var vars = Object.create(null);
  function post(name, value) {
    try { window.webkit.messageHandlers[name].postMessage(value); } catch (e) {}
  }
  function report(e) {
    post("movieError", String(e && e.stack ? e.stack : e));
  }
  function guarded(f, args) {
    if (typeof f !== "function") return;
    try { f.apply(null, args); } catch (e) { report(e); }
  }
  var host = {
    getVariable: function (name) { return name in vars ? vars[name] : ""; },
    fsCommand: function (command, args) {
      post("fsCommand", [String(command), args === undefined || args === null ? "" : String(args)]);
    },
    onLabel: null, onPlay: null, onVariable: null,
    _set: function (name, value) { vars[name] = value; guarded(host.onVariable, [name, value]); },
    _call: function (target, label) { guarded(host.onLabel, [target, label]); },
    _play: function () { guarded(host.onPlay, []); }
  };
  Object.defineProperty(window, "movieHost", { value: host });
  window.FSCommand = host.fsCommand;
  window.open = function () { return null; };
  window.addEventListener("error", function (event) {
    post("movieError", String(event.message) + " (" + event.filename + ":" + event.lineno + ")");
  });
})();)JS";

std::string StringOf(WebKitJavascriptResult* result) {
  gchar* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

std::string WithoutFragment(const std::string& uri) { return uri.substr(0, uri.find('#')); }

// The version-only control of a hidden window: the player check asks it
// for the version and nothing else.
class VersionControl : public MovieControl {
 public:
  void SetMovie(const std::string&) override {}
  void SetQuality(int32_t) override {}
  void SetScaleMode(int32_t) override {}
  void Play() override {}
  int32_t FlashVersion() override { return kHtmlPlayerVersion; }
  void SetVariable(const std::string&, const std::string&) override {}
  void TCallLabel(const std::string&, const std::string&) override {}
  void SetSize(int, int) override {}
};

class HtmlMovieControl : public MovieControl {
 public:
  HtmlMovieControl(WebEngine& engine, MainLoop& loop, GtkDialogWindow& parent, std::chrono::milliseconds bound,
                   MovieCommandSink sink)
      : engine_(engine), loop_(loop), parent_(parent), bound_(bound), sink_(std::move(sink)) {
    content_ = webkit_user_content_manager_new();
    WebKitUserScript* bridge =
        webkit_user_script_new(kBridgeScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_, bridge);
    webkit_user_script_unref(bridge);
    g_signal_connect(content_, "script-message-received::fsCommand", G_CALLBACK(OnCommand), this);
    g_signal_connect(content_, "script-message-received::movieError", G_CALLBACK(OnScriptError), this);
    webkit_user_content_manager_register_script_message_handler(content_, "fsCommand");
    webkit_user_content_manager_register_script_message_handler(content_, "movieError");

    WebKitSettings* settings = engine_.NewSettings();
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", engine_.Context(),
                                         "user-content-manager", content_, "settings", settings, nullptr));
    g_object_unref(settings);
    g_object_ref_sink(view_);
    // The page's own background is the window's brand colour.
    if (parent.Background()) PaintBackground(*parent.Background());
    parent.SetBackgroundListener([this](const Colour& colour) { PaintBackground(colour); });
    g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(view_, "load-failed-with-tls-errors", G_CALLBACK(OnTlsErrors), this);
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(OnProcessGone), this);
    gtk_widget_set_size_request(GTK_WIDGET(view_), 0, 0);
    gtk_fixed_put(GTK_FIXED(parent.Client()), GTK_WIDGET(view_), 0, 0);
    gtk_widget_show(GTK_WIDGET(view_));
  }

  ~HtmlMovieControl() override {
    *alive_ = false;
    parent_.SetBackgroundListener({});
    if (boundTimer_ != 0) g_source_remove(boundTimer_);
    if (flushSource_ != 0) g_source_remove(flushSource_);
    g_signal_handlers_disconnect_by_data(content_, this);
    g_signal_handlers_disconnect_by_data(view_, this);
    webkit_web_view_stop_loading(view_);
    gtk_widget_destroy(GTK_WIDGET(view_));
    g_object_unref(view_);
    g_object_unref(content_);
  }

  void SetMovie(const std::string& address) override {
    Flush();
    movieUri_ = MovieUri(address);
    kind_ = BuiltInMovieOf(address);
    heard_ = false;
    failed_ = false;
    if (boundTimer_ != 0) g_source_remove(boundTimer_);
    boundTimer_ = g_timeout_add(static_cast<guint>(bound_.count()), OnBound, this);
    webkit_web_view_load_uri(view_, movieUri_.c_str());
  }
  void SetQuality(int32_t) override {}
  void SetScaleMode(int32_t) override {}
  void Play() override { Queue("movieHost._play()"); }
  int32_t FlashVersion() override { return kHtmlPlayerVersion; }
  void SetVariable(const std::string& name, const std::string& value) override {
    Queue("movieHost._set(" + JsStringLiteral(name) + "," + JsStringLiteral(value) + ")");
  }
  void TCallLabel(const std::string& target, const std::string& label) override {
    Queue("movieHost._call(" + JsStringLiteral(target) + "," + JsStringLiteral(label) + ")");
  }
  void SetSize(int width, int height) override {
    gtk_widget_set_size_request(GTK_WIDGET(view_), width, height);
  }

 private:
  void PaintBackground(const Colour& colour) {
    const GdkRGBA rgba = {colour.r / 255.0, colour.g / 255.0, colour.b / 255.0, 1.0};
    webkit_web_view_set_background_color(view_, &rgba);
  }

  // The calls travel to the web process together, in order, as soon as the
  // main loop turns to its own sources: an answer (two variables and the
  // label) is one message, and a burst of the worker's progress calls a few
  // messages instead of thousands.
  void Queue(const std::string& statement) {
    pending_ += statement;
    pending_ += ";\n";
    if (flushSource_ == 0) flushSource_ = g_idle_add(OnIdleFlush, this);
  }
  void Flush() {
    if (flushSource_ != 0) {
      g_source_remove(flushSource_);
      flushSource_ = 0;
    }
    if (pending_.empty()) return;
    webkit_web_view_evaluate_javascript(view_, pending_.c_str(), static_cast<gssize>(pending_.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
    pending_.clear();
  }
  static gboolean OnIdleFlush(gpointer data) {
    auto* self = static_cast<HtmlMovieControl*>(data);
    self->flushSource_ = 0;
    self->Flush();
    return G_SOURCE_REMOVE;
  }

  // Commands reach the dialog through the main loop, never from inside a
  // WebKit signal.
  void Deliver(const std::string& command, const std::string& args) {
    std::weak_ptr<bool> alive = alive_;
    MovieCommandSink sink = sink_;
    PostTask(loop_, [alive, sink, command, args] {
      if (auto live = alive.lock(); live && *live && sink) sink(command, args);
    });
  }

  // The movie cannot go on: say so once, and end as the header says.
  void Fail(const std::string& why) {
    engine_.Log("Movie " + movieUri_ + ": " + why);
    if (failed_) return;
    failed_ = true;
    if (boundTimer_ != 0) {
      g_source_remove(boundTimer_);
      boundTimer_ = 0;
    }
    if (kind_ == BuiltInMovie::Installer) Deliver("Error", "");
    if (kind_ == BuiltInMovie::Reinstall) Deliver("Play", "");
  }

  static void OnCommand(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
    auto* self = static_cast<HtmlMovieControl*>(data);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    std::string command, args;
    if (jsc_value_is_array(value)) {
      JSCValue* first = jsc_value_object_get_property_at_index(value, 0);
      JSCValue* second = jsc_value_object_get_property_at_index(value, 1);
      gchar* c = jsc_value_to_string(first);
      gchar* a = jsc_value_is_undefined(second) ? nullptr : jsc_value_to_string(second);
      command = c ? c : "";
      args = a ? a : "";
      g_free(c);
      g_free(a);
      g_object_unref(first);
      g_object_unref(second);
    } else {
      command = StringOf(result);
    }
    if (!self->heard_) {
      self->heard_ = true;
      if (self->boundTimer_ != 0) {
        g_source_remove(self->boundTimer_);
        self->boundTimer_ = 0;
      }
    }
    if (self->failed_) return;  // the session is ending already
    self->Deliver(command, args);
  }

  static void OnScriptError(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
    static_cast<HtmlMovieControl*>(data)->engine_.Log("Movie script error: " + StringOf(result));
  }

  static gboolean OnBound(gpointer data) {
    auto* self = static_cast<HtmlMovieControl*>(data);
    self->boundTimer_ = 0;
    if (!self->heard_) self->Fail("no command within " + std::to_string(self->bound_.count()) + " ms");
    return G_SOURCE_REMOVE;
  }

  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer data) {
    auto* self = static_cast<HtmlMovieControl*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const std::string uri = webkit_uri_request_get_uri(request) ? webkit_uri_request_get_uri(request) : "";
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        WithoutFragment(uri) == WithoutFragment(self->movieUri_)) {
      return FALSE;  // the movie itself (and its own anchors)
    }
    self->engine_.Log("Movie " + self->movieUri_ + ": refused to open " + uri);
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }

  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
    return TRUE;
  }

  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    auto* self = static_cast<HtmlMovieControl*>(data);
    // A navigation this player refused, or a load replaced by the next one.
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
        g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)) {
      return FALSE;
    }
    self->Fail(std::string("failed to load ") + (uri ? uri : "") + ": " + (error ? error->message : "?"));
    return FALSE;
  }

  static gboolean OnTlsErrors(WebKitWebView* view, gchar* uri, GTlsCertificate* certificate,
                              GTlsCertificateFlags, gpointer data) {
    auto* self = static_cast<HtmlMovieControl*>(data);
    if (uri != nullptr && self->engine_.TrustIfVouched(uri, certificate)) {
      webkit_web_view_load_uri(view, uri);
    } else {
      self->Fail(std::string("failed to verify the server of ") + (uri ? uri : ""));
    }
    return TRUE;
  }

  static void OnProcessGone(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
    static_cast<HtmlMovieControl*>(data)->Fail("the web process ended (reason " +
                                               std::to_string(static_cast<int>(reason)) + ")");
  }

  WebEngine& engine_;
  MainLoop& loop_;
  GtkDialogWindow& parent_;
  std::chrono::milliseconds bound_;
  MovieCommandSink sink_;
  WebKitUserContentManager* content_ = nullptr;
  WebKitWebView* view_ = nullptr;
  std::string movieUri_;
  BuiltInMovie kind_ = BuiltInMovie::None;
  bool heard_ = false;
  bool failed_ = false;
  guint boundTimer_ = 0;
  std::string pending_;  // statements for the page, not sent yet
  guint flushSource_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

std::unique_ptr<MovieControl> HtmlMovieHost::CreateControl(DialogWindow& parent, int, bool visible,
                                                           MovieCommandSink sink) {
  auto* window = dynamic_cast<GtkDialogWindow*>(&parent);
  if (window == nullptr) return nullptr;
  if (!visible) return std::make_unique<VersionControl>();
  return std::make_unique<HtmlMovieControl>(engine_, loop_, *window, firstCommandBound_, std::move(sink));
}

std::string JsStringLiteral(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  const std::string utf8 = valid;
  g_free(valid);
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c == 0xE2 && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(utf8[i + 2]) == 0xA8 || static_cast<unsigned char>(utf8[i + 2]) == 0xA9)) {
      out += static_cast<unsigned char>(utf8[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string MovieUri(const std::string& address) {
  if (address.find("://") != std::string::npos) return address;
  const size_t question = address.find('?');
  const std::string path = address.substr(0, question);
  const std::string query = question == std::string::npos ? "" : address.substr(question);
  gchar* absolute = g_canonicalize_filename(path.c_str(), nullptr);
  gchar* uri = g_filename_to_uri(absolute, nullptr, nullptr);
  g_free(absolute);
  std::string out = uri ? std::string(uri) + query : address;
  g_free(uri);
  return out;
}

}  // namespace platform
