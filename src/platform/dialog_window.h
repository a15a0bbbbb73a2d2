// The window of a movie dialog: its title, size, place and visibility. The
// movie fills the client area; the window itself draws nothing but the brand
// colour. On a Linux terminal most of this has nothing to show and only the
// title is printed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

struct Colour {
  uint8_t r = 0, g = 0, b = 0;
};

// Main thread only.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual void SetTitle(const std::string& title) = 0;
  // Shows a line of text in the window, below what it shows already (the
  // static texts of a notice window). A window without text items ignores
  // it.
  virtual void SetText(const std::string& /*text*/) {}
  virtual void SetTopmost() = 0;
  virtual void SetBackground(const Colour& colour) = 0;
  // Gives the window a client area of width x height pixels (caption and
  // borders added around it), centred on its monitor's work area.
  virtual void FitClient(int width, int height) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual bool Visible() const = 0;
  // Sets what happens when the user asks to close the window (its close
  // button, Alt+F4; on a terminal Ctrl-C). The handler runs on the main
  // thread, from the main loop; the window stays open until its owner
  // closes it. Replaces an earlier handler; an empty one ignores requests.
  virtual void SetCloseRequestHandler(std::function<void()> handler) = 0;
};

// Makes the windows of the movie dialogs.
class WindowFactory {
 public:
  virtual ~WindowFactory() = default;
  // A new window of the dialog template `templateId`, visible or not as the
  // template says. Never null.
  virtual std::unique_ptr<DialogWindow> CreateDialogWindow(int templateId, bool visible) = 0;
};

}  // namespace platform
