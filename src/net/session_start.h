// The first exchange of a session: the initial post that announces the
// installation to the update server, and the reading of its reply: the
// movie files of the installer's screens and the dispatcher address.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace net {

inline constexpr size_t kMovieTableSize = 4;
inline constexpr size_t kSessionReplyCapacity = 10000;

struct MovieTable {
  std::array<std::string, kMovieTableSize> names;
  std::array<std::string, kMovieTableSize> urls;
  int32_t updaterIndex = -1;  // "DlgUpdater.qrx"
  int32_t logoIndex = -1;     // "mcLogo.qrx"
  int32_t langIndex = -1;     // "mcLang.qrx"
  std::string dispatcherUrl;

  // The address of the entry at `index`; empty for -1.
  std::string UrlAt(int32_t index) const;
};

// Reads the movie table of an initial-post reply: the first four list
// items by name and address, the index of each known movie (a name that
// begins with the movie's name in any letter case; a later match wins), and
// the dispatcher address: the first "~url=" before the end of the first
// list item (the list walk cuts the reply there). `reply` is changed by the
// walk.
MovieTable ReadMovieTable(std::string& reply);

}  // namespace net
