// The configured update server: where every exchange with the update servlet
// goes. Filled once at start-up, read-only afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace net {

struct ServerAddress {
  std::string host;        // host name, no scheme, no port
  std::string directory;   // servlet name, or a path containing ".php"
  std::string extraName;   // optional extra form field of the file-list request
  std::string extraValue;
  int32_t port = 0;        // 80 and 8080 are plain HTTP, every other port TLS
  std::string caFile;      // extra CA certificate trusted besides the system store ("~ca=")
  // Shared by every copy of the address: true while the server's last
  // exchange brought nothing back (it is down or stalls). Null: not
  // tracked. Any thread.
  std::shared_ptr<std::atomic<bool>> silent = nullptr;
};

// The time-outs of an exchange with a server whose last exchange brought
// nothing back: a dead server costs the closing report seconds, not the
// full connect and no-data time-outs again.
inline constexpr platform::HttpTimeouts kSilentServerTimeouts{10, 10};

// The server override file, relative to the executable's folder.
inline constexpr std::string_view kUpdaterConfigFile = "cfg\\Updater.cfg";
// Servlet of the built-in update server.
inline constexpr std::string_view kDefaultUpdateDirectory = "UpdateServlet";
// How much of the override file is read.
inline constexpr size_t kUpdaterConfigMaxBytes = 1000;

// Loads the update server's address at start-up.
//
// Without kUpdaterConfigFile next to the executable: `builtInHost`,
// "UpdateServlet", `builtInPort`, no extra field and no extra CA.
// With it: its first 1000 bytes as a key-value text give host "~ip=",
// directory "~srvl=", port "~po=" (0 when missing), extra field "~pn1=" and
// "~pv1=", and the extra CA file "~ca=" (a relative path is taken from the
// executable's folder; line breaks at its end are dropped). A key that is
// missing gives an empty text; a file that exists but cannot be read counts
// as empty, so every later exchange ends in NoData.
//
// A non-empty CA file is handed to platform.http->SetExtraCaFile here, so
// that every TLS exchange of the program trusts it from then on; start-up
// calls this before the program's first exchange. Reads one small file;
// main thread. `platform` must hold system and files (http may be null when
// no exchange will follow); nothing is owned.
ServerAddress LoadServerAddress(const platform::Platform& platform, std::string_view builtInHost, int32_t builtInPort);

// LoadServerAddress with the operator's built-in secure host and port.
ServerAddress LoadServerAddress(const platform::Platform& platform);

}  // namespace net
