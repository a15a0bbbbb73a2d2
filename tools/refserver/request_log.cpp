#include "request_log.h"

#include <chrono>
#include <ctime>

#include <strings.h>

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

std::string Latin1FromUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xE0) == 0xC0 && i + 1 < text.size()) {
      out += static_cast<char>(((byte & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

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
  line["body"] = Utf8FromLatin1(entry.body);
  line["form"] = Pairs(entry.form);
  if (!entry.misbehave.empty()) line["misbehave"] = entry.misbehave;
  return line.dump();
}

bool RequestLog::Open(const std::string& path) {
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "ab");
  return file_ != nullptr;
}

RequestLog::~RequestLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void RequestLog::Write(const LogEntry& entry) {
  if (file_ == nullptr) return;
  const std::string line = FormatLogLine(entry, NowText()) + "\n";
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace refserver
