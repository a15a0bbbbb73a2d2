#include "platform/builtin_movies.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

BuiltInMovie BuiltInMovieOf(const std::string& address) {
  const std::string path = address.substr(0, address.find('?'));
  const size_t slash = path.find_last_of("/\\");
  const std::string name = Lower(slash == std::string::npos ? path : path.substr(slash + 1));
  if (name == "dlgupdater.qrx") return BuiltInMovie::Installer;
  if (name == "dlgmsg.qrx") return BuiltInMovie::Reinstall;
  return BuiltInMovie::None;
}

std::string InstallationOfMovie(const std::string& address) {
  const std::string path = address.substr(0, address.find('?'));
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return {};
  const std::string movies = path.substr(0, slash);
  const size_t parent = movies.find_last_of("/\\");
  if (parent == std::string::npos || Lower(movies.substr(parent + 1)) != "qrx") return movies;
  return movies.substr(0, parent);
}

std::string MovieSizeText(const std::string& text) {
  if (text.empty()) return "0";
  if (!std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return text;
  const double bytes = std::strtod(text.c_str(), nullptr);
  char shown[32];
  if (bytes < 1024) {
    std::snprintf(shown, sizeof shown, "%03.0fb", bytes);
  } else if (bytes < 1047040) {
    std::snprintf(shown, sizeof shown, "%03.0fk", std::floor((bytes + 512) / 1024));
  } else {
    std::snprintf(shown, sizeof shown, "%1.1fM", bytes / 1048576.0);
  }
  return shown;
}

std::vector<std::string> SplitTildeFields(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tilde = text.find('~', start);
    fields.push_back(text.substr(start, tilde == std::string::npos ? std::string::npos : tilde - start));
    if (tilde == std::string::npos) return fields;
    start = tilde + 1;
  }
}

}  // namespace platform
