// The dialog windows of the Linux desktop: GTK top-level windows whose
// client area holds the movie (the web view of the HTML player) and nothing
// else. The window's own background is the brand colour, which shows
// wherever the movie is transparent. Its size is the size the movie asks
// for; it is centred, with its frame, on the work area of its monitor. The
// close button (and Alt+F4, and Ctrl-C on the terminal the program was
// started from) reaches the owner's close request handler; the window
// itself never closes. Enter and Escape do nothing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog_window.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkCssProvider GtkCssProvider;

namespace platform {

class GtkWindowFactory;

class GtkDialogWindow : public DialogWindow {
 public:
  // A window of `width` x `height` pixels. `factory` must outlive it.
  GtkDialogWindow(GtkWindowFactory& factory, int width, int height, bool visible);
  ~GtkDialogWindow() override;
  GtkDialogWindow(const GtkDialogWindow&) = delete;
  GtkDialogWindow& operator=(const GtkDialogWindow&) = delete;

  void SetTitle(const std::string& title) override;
  void SetTopmost() override;
  void SetBackground(const Colour& colour) override;
  void FitClient(int width, int height) override;
  void Show() override;
  void Hide() override;
  bool Visible() const override;
  void SetCloseRequestHandler(std::function<void()> handler) override { onCloseRequest_ = std::move(handler); }

  // Runs the close request handler; false when there is none.
  bool RequestClose();
  // Centres the window again when its frame has changed size (the window
  // manager framed it); a window the user moved stays where it is.
  void CentreIfFrameChanged();

  // The brand colour once set. The movie's view paints it itself: GTK
  // would leave whatever lay below a transparent view.
  std::optional<Colour> Background() const { return background_; }
  // Called with each later SetBackground; one listener (the movie's view).
  void SetBackgroundListener(std::function<void(const Colour&)> listener) { onBackground_ = std::move(listener); }

  // The GTK window, and the container the movie's view goes into (at the
  // client area's top left corner). Owned by this object.
  GtkWidget* Widget() const { return window_; }
  GtkWidget* Client() const { return client_; }
  // The client size FitClient gave, or the template's.
  int ClientWidth() const { return width_; }
  int ClientHeight() const { return height_; }

 private:
  void Centre();

  GtkWindowFactory& factory_;
  GtkWidget* window_ = nullptr;
  GtkWidget* client_ = nullptr;
  GtkCssProvider* css_ = nullptr;
  int width_;
  int height_;
  int frameAcross_ = 0;  // the frame's size when last centred
  int frameDown_ = 0;
  std::function<void()> onCloseRequest_;
  std::optional<Colour> background_;
  std::function<void(const Colour&)> onBackground_;
};

class GtkWindowFactory : public WindowFactory {
 public:
  // Main thread, after GTK has been initialised.
  std::unique_ptr<DialogWindow> CreateDialogWindow(int templateId, bool visible) override;

  // The newest open window that is visible, for the message boxes to stand
  // on; null when there is none.
  GtkDialogWindow* NewestVisible() const;
  // Hands a close request (Ctrl-C) to the newest window with a handler;
  // false when none has one. Main thread.
  bool RequestClose();

 private:
  friend class GtkDialogWindow;
  std::vector<GtkDialogWindow*> open_;  // oldest first
};

// The client size in pixels of a dialog template at the system font (the
// templates' dialog units, 1.5 pixels across and 1.625 down).
void TemplateClientSize(int templateId, int& width, int& height);

}  // namespace platform
