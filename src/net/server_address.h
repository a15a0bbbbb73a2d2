// The configured update server: where every exchange with the update servlet
// goes. Filled once at start-up, read-only afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace net {

struct ServerAddress {
  std::string host;        // host name, no scheme, no port
  std::string directory;   // servlet name, or a path containing ".php"
  std::string extraName;   // optional extra form field of the file-list request
  std::string extraValue;
  int32_t port = 0;        // 80 and 8080 are plain HTTP, every other port TLS
  std::string caFile;      // extra CA certificate trusted besides the system store ("~ca=")
};

}  // namespace net
