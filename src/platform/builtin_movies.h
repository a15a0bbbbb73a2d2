// What the built-in players (the console player, the native Windows
// player) share about the movies they stand in for: which movie an address
// names, where the installation of a reinstall movie lies, the sizes the
// movies ask for, and the "~"-joined fields of their texts.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace platform {

enum class BuiltInMovie { None, Installer, Reinstall };

// The movie named by the file name of `address` (without its query),
// compared without letter case: "DlgUpdater.qrx" is the installer movie,
// "DlgMsg.qrx" the reinstall/play movie; any other is none.
BuiltInMovie BuiltInMovieOf(const std::string& address);

// The installation a reinstall movie belongs to: it lies in
// "<folder>/qrx/DlgMsg.qrx" (either separator); the movie's own folder when
// that is not "qrx"; empty for a bare name.
std::string InstallationOfMovie(const std::string& address);

// `text` split at every "~" (an empty text is one empty field).
std::vector<std::string> SplitTildeFields(const std::string& text);

// A size as the movies show it. The update worker sends most sizes
// formatted ("030k"), but the copy of an unpacked file sends its listed
// size in bytes: those are formatted the same way ("49152" as "048k",
// "512" as "512b", "2.5M"). Any other text is shown as it is; empty is "0".
std::string MovieSizeText(const std::string& text);

// The variables a movie has been given; one never given reads empty.
class MovieVariables {
 public:
  void Set(const std::string& name, const std::string& value) { values_[name] = value; }
  std::string Get(const std::string& name) const {
    const auto found = values_.find(name);
    return found == values_.end() ? std::string() : found->second;
  }
  void Clear() { values_.clear(); }

 private:
  std::map<std::string, std::string> values_;
};

// The size texts the two movies ask their windows for.
inline constexpr const char* kInstallerMovieSize = "640~480";
inline constexpr const char* kReinstallMovieSize = "400~240";

}  // namespace platform
