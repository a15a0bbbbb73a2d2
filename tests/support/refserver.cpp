#include "support/refserver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

extern char** environ;

namespace testing_support {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);

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

}  // namespace testing_support
