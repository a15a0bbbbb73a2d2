#include "platform/gtk/webkit_browser.h"

#include <webkit2/webkit2.h>

#include <thread>

#include "platform/gtk/gtk_main_loop.h"
#include "platform/gtk/web_engine.h"

namespace platform {

namespace {

// The main thread's side of one page. Every member is used on the main
// thread only.
class PageView {
 public:
  PageView(WebEngine& engine, const std::string& agent, PageEventHandler onEvent)
      : engine_(engine), onEvent_(std::move(onEvent)) {
    WebKitSettings* settings = engine_.NewSettings();
    webkit_settings_set_user_agent(settings, agent.c_str());
    view_ = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", engine_.Context(), "settings", settings, nullptr));
    g_object_unref(settings);
    window_ = gtk_offscreen_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window_), 426, 200);
    gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
    gtk_widget_show_all(window_);
    g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(view_, "load-failed-with-tls-errors", G_CALLBACK(OnTlsErrors), this);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  }

  ~PageView() {
    if (timer_ != 0) g_source_remove(timer_);
    g_signal_handlers_disconnect_by_data(view_, this);
    webkit_web_view_stop_loading(view_);
    gtk_widget_destroy(window_);
  }

  void Navigate(const std::string& address, std::chrono::milliseconds bound) {
    timer_ = g_timeout_add(static_cast<guint>(bound.count()), OnBound, this);
    webkit_web_view_load_uri(view_, address.c_str());
  }

 private:
  void Deliver(PageEvent event) {
    if (delivered_) return;
    delivered_ = true;
    if (timer_ != 0) {
      g_source_remove(timer_);
      timer_ = 0;
    }
    webkit_web_view_stop_loading(view_);
    if (onEvent_) onEvent_(event);
  }

  // A load that failed finishes too, without having committed (the
  // certificate refused before the extra CA was asked, for one).
  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<PageView*>(data);
    if (event == WEBKIT_LOAD_STARTED) self->committed_ = false;
    if (event == WEBKIT_LOAD_COMMITTED) self->committed_ = true;
    if (event == WEBKIT_LOAD_FINISHED && self->committed_) self->Deliver(PageEvent::DocumentComplete);
  }
  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    auto* self = static_cast<PageView*>(data);
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return FALSE;
    self->engine_.Log(std::string("Web page ") + (uri ? uri : "") + ": " + (error ? error->message : "?"));
    self->Deliver(PageEvent::Error);
    return FALSE;
  }
  static gboolean OnTlsErrors(WebKitWebView* view, gchar* uri, GTlsCertificate* certificate, GTlsCertificateFlags,
                              gpointer data) {
    auto* self = static_cast<PageView*>(data);
    if (uri != nullptr && self->engine_.TrustIfVouched(uri, certificate)) {
      webkit_web_view_load_uri(view, uri);
    } else {
      self->Deliver(PageEvent::Error);
    }
    return TRUE;
  }
  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  static gboolean OnBound(gpointer data) {
    auto* self = static_cast<PageView*>(data);
    self->timer_ = 0;
    self->Deliver(PageEvent::Error);
    return G_SOURCE_REMOVE;
  }

  WebEngine& engine_;
  PageEventHandler onEvent_;
  WebKitWebView* view_ = nullptr;
  GtkWidget* window_ = nullptr;
  guint timer_ = 0;
  bool committed_ = false;
  bool delivered_ = false;
};

class WebKitPage : public WebPage {
 public:
  WebKitPage(WebEngine& engine, std::thread::id mainThread, std::string agent, PageEventHandler onEvent)
      : engine_(engine), mainThread_(mainThread), agent_(std::move(agent)), onEvent_(std::move(onEvent)) {}
  ~WebKitPage() override { Close(); }

  bool Navigate(const std::string& address, std::chrono::milliseconds bound) override {
    if (address.empty()) return false;
    RunOnMainThreadAndWait(mainThread_, [&] {
      view_.reset();
      view_ = std::make_unique<PageView>(engine_, agent_, onEvent_);
      view_->Navigate(address, bound);
    });
    return true;
  }

  void Close() override {
    if (!view_) return;  // never opened, or closed already
    RunOnMainThreadAndWait(mainThread_, [&] { view_.reset(); });
  }

 private:
  WebEngine& engine_;
  std::thread::id mainThread_;
  std::string agent_;
  PageEventHandler onEvent_;
  std::unique_ptr<PageView> view_;  // main thread only
};

}  // namespace

WebKitBrowser::WebKitBrowser(WebEngine& engine) : engine_(engine), mainThread_(std::this_thread::get_id()) {}

std::unique_ptr<WebPage> WebKitBrowser::OpenHiddenPage(const std::string& agent, PageEventHandler onEvent) {
  return std::make_unique<WebKitPage>(engine_, mainThread_, agent, std::move(onEvent));
}

}  // namespace platform
