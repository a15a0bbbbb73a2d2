#include "support/refserver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

extern char** environ;

namespace testing_support {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);

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

// Loopback must never go through a proxy that the environment may name.
void BypassProxyForLoopback() {
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* current = std::getenv(name);
    std::string value = current ? current : "";
    if (value.find("127.0.0.1") != std::string::npos && value.find("localhost") != std::string::npos) continue;
    value += std::string(value.empty() ? "" : ",") + "127.0.0.1,localhost,::1";
    setenv(name, value.c_str(), 1);
  }
}

std::string RandomToken() {
  std::random_device random;
  return std::to_string(random()) + std::to_string(random());
}

// Reads one line from `fd` within `timeout`. Returns false on time-out, end
// of stream or read error.
bool ReadLine(int fd, std::chrono::steady_clock::duration timeout, std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  line.clear();
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd waitFor{fd, POLLIN, 0};
    if (poll(&waitFor, 1, static_cast<int>(left.count())) <= 0) continue;
    char c = 0;
    const ssize_t got = read(fd, &c, 1);
    if (got <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
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

RefServer::RefServer(const RefServerOptions& options) {
  BypassProxyForLoopback();
  Start(options);
}

RefServer::~RefServer() {
  Stop();
  if (!workDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
  }
}

std::string SampleClientDir() { return std::string(WEBSETUP_BIN_DIR) + "/../sample-client"; }

std::string RefServer::caFile() const { return std::string(WEBSETUP_TEST_CERT_DIR) + "/ca.pem"; }

void RefServer::Start(const RefServerOptions& options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "websetup-refserver-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "Failed to create the reference server's work folder";
    return;
  }
  workDir_ = pattern;
  logPath_ = workDir_ + "/requests.log";
  controlToken_ = RandomToken();

  const std::string certDir = WEBSETUP_TEST_CERT_DIR;
  std::vector<std::string> args = {std::string(WEBSETUP_BIN_DIR) + "/refserver",
                                   "--http-port", "0", "--https-port", "0",
                                   "--cert", certDir + "/" + options.certificate + ".pem",
                                   "--key", certDir + "/" + options.certificate + ".key",
                                   "--log", logPath_,
                                   "--control-token", controlToken_};
  if (!options.replySet.empty()) args.insert(args.end(), {"--replies", options.replySet});
  if (!options.filesDir.empty()) args.insert(args.end(), {"--files", options.filesDir});
  if (!options.clientSet.empty()) args.insert(args.end(), {"--client-set", options.clientSet});
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "Failed to create a pipe for the reference server";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    ADD_FAILURE() << "Failed to start " << argv[0] << ": " << strerror(spawned);
    return;
  }
  pid_ = pid;

  std::string line;
  const bool gotLine = ReadLine(out[0], kStartTimeout, line);
  close(out[0]);
  int http = 0, https = 0;
  if (!gotLine || std::sscanf(line.c_str(), "listening http=%d https=%d", &http, &https) != 2 || http <= 0 ||
      https <= 0) {
    ADD_FAILURE() << "The reference server did not come up within 10 s (first line: \"" << line << "\")";
    Stop();
    return;
  }
  httpPort_ = http;
  httpsPort_ = https;
}

void RefServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "The reference server did not stop within 5 s of SIGTERM";
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

void RefServer::Control(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields) {
  if (!started()) {
    ADD_FAILURE() << "The reference server is not running";
    return;
  }
  httplib::Client client("127.0.0.1", httpPort_);
  client.set_connection_timeout(std::chrono::seconds(5));
  client.set_read_timeout(std::chrono::seconds(5));
  httplib::Params params(fields.begin(), fields.end());
  params.emplace("token", controlToken_);
  const auto result = client.Post(path, params);
  if (!result) {
    ADD_FAILURE() << "Control request " << path << " failed: " << httplib::to_string(result.error());
  } else if (result->status != 200) {
    ADD_FAILURE() << "Control request " << path << " answered " << result->status << ": " << result->body;
  }
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
      if (strcasecmp(name.c_str(), "Content-Type") != 0) continue;
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

}  // namespace testing_support
