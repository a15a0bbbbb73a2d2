// What the launchers of every platform share: the reference server's
// request log read back for the tests (one JSON object a line, written by
// the server as each request arrives), and the misbehaviour requests sent
// through the launcher's control channel.
#include <cctype>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/refserver.h"

namespace testing_support {
namespace {

// The server writes each text byte as the character with that code; this
// maps the characters back to bytes.
std::string BytesFromJson(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if ((byte & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      out += static_cast<char>(((byte & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
      ++i;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

std::string Text(const nlohmann::json& line, const char* key) {
  const auto it = line.find(key);
  return it != line.end() && it->is_string() ? BytesFromJson(it->get<std::string>()) : std::string();
}

std::vector<std::pair<std::string, std::string>> Pairs(const nlohmann::json& line, const char* key) {
  std::vector<std::pair<std::string, std::string>> pairs;
  const auto it = line.find(key);
  if (it == line.end() || !it->is_array()) return pairs;
  for (const auto& pair : *it) {
    if (pair.is_array() && pair.size() == 2) {
      pairs.emplace_back(BytesFromJson(pair[0].get<std::string>()), BytesFromJson(pair[1].get<std::string>()));
    }
  }
  return pairs;
}

bool EqualNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

std::string LoggedRequest::Field(const std::string& name) const {
  for (const auto& [fieldName, value] : form) {
    if (fieldName == name) return value;
  }
  return {};
}

bool LoggedRequest::HasField(const std::string& name) const {
  for (const auto& field : form) {
    if (field.first == name) return true;
  }
  return false;
}

std::vector<std::string> RefServer::LogLines() const {
  std::vector<std::string> lines;
  std::ifstream in(logPath_, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A line without its line break is still being written; it is left for
  // the next call.
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<LoggedRequest> RefServer::Requests() const {
  std::vector<LoggedRequest> requests;
  for (const std::string& text : LogLines()) {
    const auto line = nlohmann::json::parse(text, nullptr, false);
    if (line.is_discarded() || !line.is_object()) {
      ADD_FAILURE() << "Unreadable line in the reference server's log: " << text;
      continue;
    }
    LoggedRequest request;
    request.method = Text(line, "method");
    request.path = Text(line, "path");
    request.userAgent = Text(line, "userAgent");
    for (const auto& [name, value] : Pairs(line, "headers")) {
      if (EqualNoCase(name, "Range")) request.range = value;
      if (!EqualNoCase(name, "Content-Type")) continue;
      if (request.contentTypeHeaders++ == 0) request.contentType = value;
    }
    request.tls = line.value("tls", false);
    request.remoteAddr = Text(line, "remoteAddr");
    request.remotePort = line.value("remotePort", 0);
    request.misbehave = Text(line, "misbehave");
    request.form = Pairs(line, "form");
    request.rawBody = Text(line, "body");
    requests.push_back(std::move(request));
  }
  return requests;
}

void RefServer::Misbehave(const std::string& mode, const std::string& path, int times, const std::string& ac,
                          int seconds, int bytes) {
  Control("/control/misbehave", {{"mode", mode},
                                 {"path", path},
                                 {"times", std::to_string(times)},
                                 {"ac", ac},
                                 {"seconds", std::to_string(seconds)},
                                 {"bytes", std::to_string(bytes)}});
}

void RefServer::ResetMisbehaviour() { Control("/control/reset", {}); }

}  // namespace testing_support
