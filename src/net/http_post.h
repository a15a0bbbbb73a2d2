// The one HTTP POST client of the installer. Every exchange with the update
// server and the pixel servlet is a synchronous POST of a url-encoded form
// answered by a short text reply; this unit sends it through the platform's
// HttpClient and folds whatever happens into one of four result codes. It
// knows nothing about the meaning of the form or the reply.
//
// Also here: the start-up rule that loads the configured update server
// (ServerAddress) from "cfg\Updater.cfg" next to the executable.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "net/server_address.h"
#include "platform/http.h"
#include "platform/platform.h"

namespace net {

// Result of one exchange. The values are the system's own numbers; the names
// are also the texts the movie receives as error messages (PostResultName).
enum class PostResult {
  Ok = 0,                   // at least one byte, not starting with "<", read to the end or until the buffer was full
  ReceiveData = 1,          // some data arrived, then a read failed
  InternalServerError = 2,  // the reply starts with "<" (a web server's HTML page)
  NoData = 3,               // nothing received at all, whatever the reason
};

// "Ok", "ReceiveData", "InternalServerError" or "NoData".
const char* PostResultName(PostResult result);

// The one extra header every POST carries.
inline constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";
// Switch file (relative to the current directory): when present, a failing
// read shows the connection alert box.
inline constexpr std::string_view kAlertModeFile = "cfg\\AlertMode.cfg";
// Longest host and object name an exchange keeps (longer ones are cut).
inline constexpr size_t kHostWidth = 259;
inline constexpr size_t kObjectNameWidth = 259;
// Longest text of the connection alert box.
inline constexpr size_t kAlertTextWidth = 9999;

// The request target for `directory`: the directory unchanged when it holds
// ".php" anywhere, otherwise "servlet/" followed by the directory.
std::string ObjectName(std::string_view directory);

// True when `port` is served over TLS: every port except 80 and 8080.
bool IsSecurePort(int port);

// The text of the connection alert box for a failed read.
std::string ConnectionAlertText(std::string_view host, std::string_view objectName, int port);

// Where and how one form goes. HttpPostForm fills it with the port rule and
// the default time-outs; tests of the transport fill it themselves to pick
// TLS or plain HTTP on any port and to shorten the time-outs.
struct PostTarget {
  std::string agent;      // User-Agent: the application name
  std::string host;       // no scheme, no port
  std::string directory;  // see ObjectName
  int port = 0;
  bool secure = true;
  platform::HttpTimeouts timeouts;
};

// Posts `body` (the complete url-encoded form, sent as it stands, of any
// length) to `target` and reads the reply into `reply`, replacing its content.
// At most `capacity` - 1 bytes are kept: a longer reply is cut there and still
// counts as Ok. A capacity of 0 or 1 leaves no room for a reply; nothing is
// sent and the result is NoData. On every result `reply` holds what was kept
// (empty for NoData; the first chunk for InternalServerError).
//
// When a read fails and kAlertModeFile exists, shows the connection alert box
// (platform.dialogs, a plain box captioned with the agent) before returning.
// Blocks the calling thread for the whole exchange, bounded by the target's
// time-outs. Re-entrant: any thread may call it, calls run in parallel.
// `platform` must hold files and http (dialogs only for the alert box); none
// of them is owned.
[[nodiscard]] PostResult PostForm(const platform::Platform& platform, const PostTarget& target,
                                  std::string_view body, std::string& reply, size_t capacity);

// Why the calling thread's last exchange or download failed, as the
// transport tells it ("connection refused...", "the server's certificate
// is not trusted for this host..."); empty when it did not fail or the
// transport gave no reason. PostForm sets it for every exchange.
std::string LastTransportFailure();
void SetLastTransportFailure(std::string text);

// PostForm to `host`, `directory` and `port`, with TLS chosen by IsSecurePort
// and the default time-outs (connect 60 s, no data for 30 s).
[[nodiscard]] PostResult HttpPostForm(const platform::Platform& platform, std::string_view agent,
                                      std::string_view host, std::string_view directory, int port,
                                      std::string_view body, std::string& reply, size_t capacity);

// HttpPostForm to the configured update server. While the server is silent
// (its last exchange brought nothing back) the exchange has the short
// kSilentServerTimeouts; the result sets or clears the silence.
[[nodiscard]] PostResult CommunicatePost(const platform::Platform& platform, std::string_view agent,
                                         const ServerAddress& address, std::string_view body, std::string& reply,
                                         size_t capacity);

// True while `address`'s last exchange brought nothing back.
bool ServerSilent(const ServerAddress& address);

}  // namespace net
