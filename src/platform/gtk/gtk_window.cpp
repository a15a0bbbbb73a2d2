#include "platform/gtk/gtk_window.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {

gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<GtkDialogWindow*>(self)->RequestClose();
  return TRUE;  // the owner closes the window, never GTK
}

// The window manager may frame the window only once it is shown.
gboolean OnConfigureEvent(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<GtkDialogWindow*>(self)->CentreIfFrameChanged();
  return FALSE;
}

// What the window manager's frame adds to the client area across and down:
// none before the window is shown, or on a display without a window manager.
void FrameAddition(GtkWidget* window, int& across, int& down) {
  across = 0;
  down = 0;
  GdkWindow* own = gtk_widget_get_window(window);
  if (own == nullptr || !gtk_widget_get_mapped(window)) return;
  GdkRectangle frame;
  gdk_window_get_frame_extents(own, &frame);
  across = std::max(0, frame.width - gdk_window_get_width(own));
  down = std::max(0, frame.height - gdk_window_get_height(own));
}

}  // namespace

void TemplateClientSize(int templateId, int& width, int& height) {
  struct Template {
    int id, widthUnits, heightUnits;
  };
  // The installer dialog, the reinstall/play dialog, the web page window.
  static constexpr Template kTemplates[] = {{102, 276, 284}, {132, 239, 138}, {130, 284, 155}};
  int w = 276, h = 284;
  for (const Template& t : kTemplates) {
    if (t.id == templateId) {
      w = t.widthUnits;
      h = t.heightUnits;
    }
  }
  width = w * 3 / 2;
  height = h * 13 / 8;
}

GtkDialogWindow::GtkDialogWindow(GtkWindowFactory& factory, int width, int height, bool visible)
    : factory_(factory), width_(width), height_(height) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_icon_name(GTK_WINDOW(window_), "system-software-install");
  client_ = gtk_fixed_new();
  gtk_widget_set_size_request(client_, width_, height_);
  gtk_container_add(GTK_CONTAINER(window_), client_);
  gtk_widget_show(client_);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDeleteEvent), this);
  g_signal_connect(window_, "configure-event", G_CALLBACK(OnConfigureEvent), this);
  factory_.open_.push_back(this);
  Centre();
  if (visible) gtk_widget_show(window_);
}

GtkDialogWindow::~GtkDialogWindow() {
  auto& open = factory_.open_;
  open.erase(std::remove(open.begin(), open.end(), this), open.end());
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  g_object_unref(window_);
  if (css_ != nullptr) g_object_unref(css_);
}

void GtkDialogWindow::SetTitle(const std::string& title) { gtk_window_set_title(GTK_WINDOW(window_), title.c_str()); }

void GtkDialogWindow::SetTopmost() { gtk_window_set_keep_above(GTK_WINDOW(window_), TRUE); }

void GtkDialogWindow::SetBackground(const Colour& colour) {
  if (css_ == nullptr) {
    css_ = gtk_css_provider_new();
    gtk_style_context_add_provider(gtk_widget_get_style_context(window_), GTK_STYLE_PROVIDER(css_),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  }
  char css[96];
  std::snprintf(css, sizeof css, "window { background-color: rgb(%u,%u,%u); background-image: none; }",
                colour.r, colour.g, colour.b);
  gtk_css_provider_load_from_data(css_, css, -1, nullptr);
  background_ = colour;
  if (onBackground_) onBackground_(colour);
}

void GtkDialogWindow::FitClient(int width, int height) {
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
  gtk_widget_set_size_request(client_, width_, height_);
  gtk_window_resize(GTK_WINDOW(window_), width_, height_);
  Centre();
}

// The window's top left corner such that the window, with the window
// manager's frame once it has one, is centred on the work area of the
// monitor it is on (the primary one before it is shown). The window manager
// places the frame's top left corner where the window is moved to.
void GtkDialogWindow::Centre() {
  FrameAddition(window_, frameAcross_, frameDown_);
  GdkDisplay* display = gtk_widget_get_display(window_);
  GdkMonitor* monitor = nullptr;
  if (GdkWindow* own = gtk_widget_get_window(window_)) monitor = gdk_display_get_monitor_at_window(display, own);
  if (monitor == nullptr) monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor == nullptr) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  gtk_window_move(GTK_WINDOW(window_), area.x + std::max(0, (area.width - width_ - frameAcross_) / 2),
                  area.y + std::max(0, (area.height - height_ - frameDown_) / 2));
}

void GtkDialogWindow::CentreIfFrameChanged() {
  int across = 0, down = 0;
  FrameAddition(window_, across, down);
  if (across != frameAcross_ || down != frameDown_) Centre();
}

void GtkDialogWindow::Show() {
  gtk_widget_show(window_);
  gtk_window_present(GTK_WINDOW(window_));
}

void GtkDialogWindow::Hide() { gtk_widget_hide(window_); }

bool GtkDialogWindow::Visible() const { return gtk_widget_get_visible(window_); }

bool GtkDialogWindow::RequestClose() {
  if (!onCloseRequest_) return false;
  onCloseRequest_();
  return true;
}

std::unique_ptr<DialogWindow> GtkWindowFactory::CreateDialogWindow(int templateId, bool visible) {
  int width = 0, height = 0;
  TemplateClientSize(templateId, width, height);
  return std::make_unique<GtkDialogWindow>(*this, width, height, visible);
}

GtkDialogWindow* GtkWindowFactory::NewestVisible() const {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    if ((*it)->Visible()) return *it;
  }
  return nullptr;
}

bool GtkWindowFactory::RequestClose() {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    if ((*it)->RequestClose()) return true;
  }
  return false;
}

}  // namespace platform
