#include "platform/movie_kind.h"

#include <algorithm>
#include <cctype>

namespace platform {

MovieKind MovieKindOf(const std::string& address) {
  const std::string path = address.substr(0, address.find('?'));
  const size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (name == "dlgupdater.qrx") return MovieKind::Installer;
  if (name == "dlgmsg.qrx") return MovieKind::Reinstall;
  return MovieKind::Empty;
}

}  // namespace platform
