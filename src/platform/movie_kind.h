// Which of the installer's movies an address names, by its file name
// without the query: the players that render or watch a movie by kind (the
// console player, the HTML player's bounds) share this rule.
#pragma once

#include <string>

namespace platform {

enum class MovieKind {
  Empty,      // any other movie
  Installer,  // "DlgUpdater.qrx", the installer dialog's movie
  Reinstall,  // "DlgMsg.qrx", the reinstall/play movie
};

// File names compare without letter case; "/" and "\" both end a folder.
MovieKind MovieKindOf(const std::string& address);

}  // namespace platform
