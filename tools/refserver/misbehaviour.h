// Misbehaviour that tests arm through the control endpoint: the next few
// requests to a path (and, optionally, with a given action code) are
// answered wrongly instead of normally, so that clients can be driven into
// each of their failure paths.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace refserver {

enum class Mode {
  Close,        // the connection is closed before any byte of a reply
  Stall,        // no byte for `seconds`, then the connection is closed; a file's
                // reply sends its headers first and then stalls
  Html,         // status 500 with an HTML error page
  Long,         // a normal-looking reply padded to `bytes` bytes
  Drop,         // the reply's headers and part of its body (`bytes`, else half),
                // then the connection drops
  BadAc,        // the normal reply with an action code that no client knows
  Empty,        // status 200 with an empty body
  WrongLength,  // `bytes` more (or, negative, fewer) bytes than the real
                // reply, announced with a matching Content-Length
  DropAfter,    // the headers and exactly `bytes` bytes of the body, then the
                // connection drops
  NotFound,     // status 404
  Trickle,      // the normal reply, `bytes` bytes per second
  Endless,      // chunked data without end, until the client hangs up
  Redirect,     // status 302 back to the same address
  NoRange,      // a file's whole body with status 200, whatever range was asked for
  BadRange,     // status 206 with another byte range than the one asked for
                // (from half of the asked start, or half of the file)
  TooMany,      // status 429
  Unavailable,  // status 503
  Limit,        // answers normally while fewer than `bytes` file replies are
                // under way, else status 503
};

// Parses a mode name ("close", "stall", "wronglength", "dropafter", "404",
// ...); nullopt when unknown.
std::optional<Mode> ParseMode(const std::string& name);
const char* ModeName(Mode mode);

struct Rule {
  Mode mode = Mode::Close;
  // Request path it applies to; a path ending in "/" covers everything
  // below it ("/files/").
  std::string path;
  // Action code the form must carry; empty for any request to the path.
  std::string ac;
  int times = 1;    // how many requests it still applies to
  int seconds = 0;  // stall duration
  int bytes = 0;    // reply size for Long, bytes before the drop for Drop and
                    // DropAfter, size difference for WrongLength, rate for
                    // Trickle, replies at once for Limit
};

// Armed rules, shared by every connection thread.
class MisbehaviourTable {
 public:
  void Add(const Rule& rule);
  void Clear();
  // The first armed rule that matches the request, which is used up by one;
  // nullopt when the request is to be answered normally.
  std::optional<Rule> Take(const std::string& path, const std::string& ac);

 private:
  std::mutex mutex_;
  std::vector<Rule> rules_;
};

}  // namespace refserver
