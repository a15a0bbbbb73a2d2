#include "request_log.h"

#include <chrono>
#include <ctime>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace refserver {
namespace {

std::string Utf8FromLatin1(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

nlohmann::json Pairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
  auto array = nlohmann::json::array();
  for (const auto& [name, value] : pairs) array.push_back({Utf8FromLatin1(name), Utf8FromLatin1(value)});
  return array;
}

std::string NowText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return text;
}

std::string HeaderValue(const LogEntry& entry, const char* name) {
  for (const auto& [headerName, value] : entry.headers) {
    if (strcasecmp(headerName.c_str(), name) == 0) return value;
  }
  return {};
}

}  // namespace

std::string FormatLogLine(const LogEntry& entry, const std::string& timeText) {
  nlohmann::ordered_json line;
  line["time"] = timeText;
  line["method"] = Utf8FromLatin1(entry.method);
  line["path"] = Utf8FromLatin1(entry.path);
  line["target"] = Utf8FromLatin1(entry.target);
  line["userAgent"] = Utf8FromLatin1(HeaderValue(entry, "User-Agent"));
  line["headers"] = Pairs(entry.headers);
  line["tls"] = entry.tls;
  line["localPort"] = entry.localPort;
  line["remoteAddr"] = entry.remoteAddr;
  line["remotePort"] = entry.remotePort;
  line["body"] = Utf8FromLatin1(entry.body);
  line["form"] = Pairs(entry.form);
  if (!entry.misbehave.empty()) line["misbehave"] = entry.misbehave;
  return line.dump();
}

bool RequestLog::Open(const std::string& path) {
  if (path.empty()) return true;
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

RequestLog::~RequestLog() {
  if (fd_ >= 0) close(fd_);
}

void RequestLog::Write(const LogEntry& entry) {
  if (fd_ < 0) return;
  const std::string line = FormatLogLine(entry, NowText()) + "\n";
  // One write per line where the system allows it, so that a reader never
  // sees the lines of two requests interleaved.
  std::lock_guard lock(mutex_);
  size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = write(fd_, line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<size_t>(n);
  }
}

}  // namespace refserver
