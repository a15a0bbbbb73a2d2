// The dialog windows on a Linux terminal. A terminal has no window to size,
// place or colour, so only the title shows: it is printed once as a heading
// when it is set. Size and visibility are kept for whoever asks. The
// terminal's Ctrl-C is the close request of the newest window that listens
// for one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialog_window.h"

namespace platform {

class ConsoleWindowFactory;

class ConsoleWindow : public DialogWindow {
 public:
  // `outputFd` is not owned; it must stay open while the window lives.
  // `factory`, when given, must outlive the window: it hands the window the
  // terminal's close requests.
  ConsoleWindow(int outputFd, bool visible, ConsoleWindowFactory* factory = nullptr);
  ~ConsoleWindow() override;
  ConsoleWindow(const ConsoleWindow&) = delete;
  ConsoleWindow& operator=(const ConsoleWindow&) = delete;

  // Prints "==  <title>  ==" (the title without its surrounding spaces) on a
  // line of its own, unless that heading was the last one this window
  // printed. An empty title prints nothing.
  void SetTitle(const std::string& title) override;
  // Prints the text followed by an empty line (a notice window's texts).
  void SetText(const std::string& text) override;
  void SetTopmost() override {}
  void SetBackground(const Colour&) override {}
  void FitClient(int width, int height) override;
  void Show() override { visible_ = true; }
  void Hide() override { visible_ = false; }
  bool Visible() const override { return visible_; }
  void SetCloseRequestHandler(std::function<void()> handler) override { onCloseRequest_ = std::move(handler); }

  // Runs the close request handler; false when the window has none.
  bool RequestClose();

  int ClientWidth() const { return width_; }
  int ClientHeight() const { return height_; }

 private:
  int outputFd_;
  bool visible_;
  int width_ = 0;
  int height_ = 0;
  std::string shownHeading_;
  ConsoleWindowFactory* factory_;
  std::function<void()> onCloseRequest_;
};

class ConsoleWindowFactory : public WindowFactory {
 public:
  explicit ConsoleWindowFactory(int outputFd = 1) : outputFd_(outputFd) {}
  std::unique_ptr<DialogWindow> CreateDialogWindow(int templateId, bool visible) override;

  // The terminal's close request (Ctrl-C): handed to the newest open window
  // that has a close request handler. False when none has. Main thread.
  bool RequestClose();

 private:
  friend class ConsoleWindow;
  int outputFd_;
  std::vector<ConsoleWindow*> open_;  // oldest first
};

// The heading printed for a window title; empty for a blank title.
std::string ConsoleHeading(const std::string& title);

}  // namespace platform
