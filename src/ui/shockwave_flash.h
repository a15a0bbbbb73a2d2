// The movie control of a dialog: the operations the installer calls on the
// player, over the platform's movie control. Creation can fail (no player
// installed); every call on a control that does not exist does nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/movie.h"

namespace ui {

class CShockwaveFlash {
 public:
  // Creates the control through `host` inside the dialog window `parent`
  // (not owned; it must outlive the control) with the dialog's control id.
  // False when no player could be created. Main thread.
  bool Create(platform::MovieHost& host, platform::DialogWindow& parent, int controlId, bool visible,
              platform::MovieCommandSink sink);
  bool Exists() const { return control_ != nullptr; }

  void Movie(const std::string& address);
  void Quality(int32_t quality);
  void ScaleMode(int32_t mode);
  void Play();
  // The player's version (major version in the upper 16 bits); 0 without a
  // control.
  int32_t FlashVersion();
  void SetVariable(const std::string& name, const std::string& value);
  void TCallLabel(const std::string& target, const std::string& label);
  void SetSize(int width, int height);

  // Loads `path` with the language code as the query parameter "m_Lang":
  // "?m_Lang=<code>", or "&m_Lang=<code>" when the path already has a
  // query. The code is encoded as a query value.
  void LoadMovieWithLanguage(const std::string& path, const std::string& language);

 private:
  std::unique_ptr<platform::MovieControl> control_;
};

// The movie address for LoadMovieWithLanguage.
std::string MovieAddressWithLanguage(const std::string& path, const std::string& language);

}  // namespace ui
