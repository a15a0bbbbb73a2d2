// The movie control: the player in which every screen of the installer is
// drawn. A movie raises commands (the control's FSCommand event) and is
// driven through variables and label calls. The installer's logic talks
// only to this interface; the players implement it (a console rendition on
// a Linux terminal, a scripted player in tests, the ActiveX host on
// Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dialog_window.h"

namespace platform {

// A command the movie raised, with its argument text.
using MovieCommandSink = std::function<void(const std::string& command, const std::string& args)>;

// One movie control, owned by its hosting dialog. Every call comes on the
// main thread and returns at once; the movie's commands reach the sink
// through the main thread's message loop (never from inside one of these
// calls), as a player's events do.
class MovieControl {
 public:
  virtual ~MovieControl() = default;
  // Loads the movie at `address` (a file path or a URL; it may carry a
  // query such as "?m_Lang=de").
  virtual void SetMovie(const std::string& address) = 0;
  virtual void SetQuality(int32_t quality) = 0;
  virtual void SetScaleMode(int32_t mode) = 0;
  virtual void Play() = 0;
  // The player's version, major version in the upper 16 bits (0x90000 is
  // 9.0).
  virtual int32_t FlashVersion() = 0;
  virtual void SetVariable(const std::string& name, const std::string& value) = 0;
  // Runs the actions of the frame `label` of the timeline `target`.
  virtual void TCallLabel(const std::string& target, const std::string& label) = 0;
  // Gives the control its place in the dialog: client size in pixels.
  virtual void SetSize(int width, int height) = 0;
};

// Creates movie controls and carries their commands into the main thread's
// message loop.
class MovieHost {
 public:
  virtual ~MovieHost() = default;
  // Creates a control inside `parent`, the dialog window that hosts it,
  // with the dialog's control id; `visible` false for the hidden controls
  // that only tell the player's version. Returns null when no player is
  // installed. `parent` (not owned) and `sink` must outlive the control;
  // `sink` receives the control's commands on the main thread. Main thread.
  virtual std::unique_ptr<MovieControl> CreateControl(DialogWindow& parent, int controlId, bool visible,
                                                      MovieCommandSink sink) = 0;
};

}  // namespace platform
