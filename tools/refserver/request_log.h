// The request log: one JSON object per line for every client request the
// server receives, written and flushed before the request is answered, so a
// test that has its reply can read the request back.
//
// Texts travel as bytes. So that any byte survives the log, every text is
// written as the JSON string of its bytes read as Latin-1 (byte 0xE9 is the
// character U+00E9); a reader maps each character back to one byte.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "form.h"

namespace refserver {

struct LogEntry {
  std::string method;
  std::string path;    // decoded path
  std::string target;  // request target as sent, query included
  std::vector<std::pair<std::string, std::string>> headers;
  bool tls = false;
  int localPort = 0;
  std::string remoteAddr;
  int remotePort = 0;  // with remoteAddr, tells the client's connections apart
  std::string body;
  Form form;
  std::string misbehave;  // mode name when the request was answered wrongly
};

// The JSON line of `entry` (no line break), time stamped `timeText`.
std::string FormatLogLine(const LogEntry& entry, const std::string& timeText);

class RequestLog {
 public:
  // Appends to `path`; with an empty path nothing is logged.
  // Returns false when the file cannot be opened.
  [[nodiscard]] bool Open(const std::string& path);
  ~RequestLog();
  // Writes one line and flushes it. Called from any connection thread.
  void Write(const LogEntry& entry);

 private:
  std::mutex mutex_;
  int fd_ = -1;
};

}  // namespace refserver
