// The reference server launcher of the tests that run under Wine. The
// server is the Linux program of the Linux build: Wine starts a Linux
// executable through CreateProcessA, but hands back no process handle and
// none of the standard handles, so the server is started by /bin/sh with
// its output sent to files in its work folder, its pid read from there, and
// stopped with kill(1). Control requests go over WinINet.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "support/refserver.h"
#include "win32/wine_paths.h"

#include <windows.h>
#include <wininet.h>

namespace testing_support {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
// The server finishes its kept-alive connections before it ends, and
// Wine's WinINet keeps an idle connection open: the server's keep-alive
// time-out (5 s) passes before it can end.
constexpr auto kStopTimeout = std::chrono::seconds(12);

std::string ReadWholeFile(const std::string& windowsPath) {
  std::ifstream in(windowsPath, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// True while the Linux process `pid` exists and has not ended.
bool LinuxProcessAlive(int pid) {
  const std::string stat = ReadWholeFile("Z:\\proc\\" + std::to_string(pid) + "\\stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

std::string FormEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '/') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

// Posts a form to the server's plain port; the status code, 0 when no
// answer came.
int PostControl(int port, const std::string& path, const std::string& body) {
  int status = 0;
  HINTERNET internet = InternetOpenA("refserver-control", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection = internet ? InternetConnectA(internet, "localhost", static_cast<INTERNET_PORT>(port), nullptr,
                                                     nullptr, INTERNET_SERVICE_HTTP, 0, 0)
                                  : nullptr;
  HINTERNET request = connection ? HttpOpenRequestA(connection, "POST", path.c_str(), nullptr, nullptr, nullptr,
                                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                                 : nullptr;
  const std::string headers = "Content-Type: application/x-www-form-urlencoded";
  if (request && HttpSendRequestA(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                  const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
    DWORD code = 0;
    DWORD size = sizeof code;
    if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr)) {
      status = static_cast<int>(code);
    }
  }
  for (HINTERNET handle : {request, connection, internet}) {
    if (handle) InternetCloseHandle(handle);
  }
  return status;
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

// For a Linux program Wine fills the process
// information with values that are no handles of this process: closing them
// would close whatever handles happen to carry those numbers.
bool RunLinuxShell(const std::string& script) {
  std::string commandLine = "\"Z:\\bin\\sh\" -c \"" + script + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA("Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return false;
  }
  return true;
}

std::string WindowsPathOf(const std::string& linuxPath) {
  std::string out = "Z:" + linuxPath;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string NewLinuxScratchFolder(const std::string& purpose) {
  static std::mt19937 random(static_cast<unsigned>(GetTickCount() ^ GetCurrentProcessId()));
  // The folder exists when the default prefix is used; a prefix elsewhere
  // (WINE_TEST_ROOT) leaves it to be made.
  CreateDirectoryA(WindowsPathOf(WEBSETUP_HOST_BUILD_DIR "/wine").c_str(), nullptr);
  CreateDirectoryA(WindowsPathOf(WEBSETUP_HOST_BUILD_DIR "/wine/scratch").c_str(), nullptr);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string folder =
        std::string(WEBSETUP_HOST_BUILD_DIR "/wine/scratch/") + purpose + "-" + std::to_string(random());
    if (CreateDirectoryA(WindowsPathOf(folder).c_str(), nullptr)) return folder;
  }
  ADD_FAILURE() << "Failed to create a scratch folder for " << purpose;
  return {};
}

std::string SampleClientDir() { return WEBSETUP_HOST_BUILD_DIR "/sample-client"; }

// The Windows path of the test CA: the Windows program reads it.
std::string RefServer::caFile() const { return WindowsPathOf(WEBSETUP_HOST_BUILD_DIR "/testcerts/ca.pem"); }

RefServer::RefServer(const RefServerOptions& options) { Start(options); }

RefServer::~RefServer() {
  Stop();
  if (!workDir_.empty()) RunLinuxShell("rm -rf " + ShellQuoted(workDir_));
}

void RefServer::Start(const RefServerOptions& options) {
  workDir_ = NewLinuxScratchFolder("refserver");
  if (workDir_.empty()) return;
  logPath_ = WindowsPathOf(workDir_ + "/requests.log");
  controlToken_ = std::to_string(std::random_device{}()) + std::to_string(GetTickCount());

  const std::string certDir = WEBSETUP_HOST_BUILD_DIR "/testcerts/";
  std::string command = "echo $$ > " + ShellQuoted(workDir_ + "/pid") + "; exec " +
                        ShellQuoted(WEBSETUP_HOST_BUILD_DIR "/bin/refserver") + " --http-port 0 --https-port 0" +
                        " --cert " + ShellQuoted(certDir + options.certificate + ".pem") + " --key " +
                        ShellQuoted(certDir + options.certificate + ".key") + " --log " +
                        ShellQuoted(workDir_ + "/requests.log") + " --control-token " + controlToken_;
  if (!options.replySet.empty()) command += " --replies " + ShellQuoted(options.replySet);
  if (!options.filesDir.empty()) command += " --files " + ShellQuoted(options.filesDir);
  if (!options.clientSet.empty()) command += " --client-set " + ShellQuoted(options.clientSet);
  command += " > " + ShellQuoted(workDir_ + "/ports") + " 2> " + ShellQuoted(workDir_ + "/stderr") + " < /dev/null";
  if (!RunLinuxShell(command)) {
    ADD_FAILURE() << "Failed to start the Linux shell for the reference server (error " << GetLastError() << ")";
    return;
  }

  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  std::string line;
  int http = 0, https = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    line = ReadWholeFile(WindowsPathOf(workDir_ + "/ports"));
    if (line.find('\n') != std::string::npos &&
        std::sscanf(line.c_str(), "listening http=%d https=%d", &http, &https) == 2) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = std::atoi(ReadWholeFile(WindowsPathOf(workDir_ + "/pid")).c_str());
  if (http <= 0 || https <= 0) {
    ADD_FAILURE() << "The reference server did not come up within 10 s (first line: \"" << line << "\", stderr: "
                  << ReadWholeFile(WindowsPathOf(workDir_ + "/stderr")) << ")";
    Stop();
    return;
  }
  httpPort_ = http;
  httpsPort_ = https;
}

void RefServer::Stop() {
  if (pid_ <= 0) return;
  RunLinuxShell("kill -TERM " + std::to_string(pid_));
  const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
  while (LinuxProcessAlive(pid_)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "The reference server did not stop within 12 s of SIGTERM";
      RunLinuxShell("kill -KILL " + std::to_string(pid_));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}

void RefServer::Control(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields) {
  if (!started()) {
    ADD_FAILURE() << "The reference server is not running";
    return;
  }
  std::string body = "token=" + FormEncode(controlToken_);
  for (const auto& [name, value] : fields) body += "&" + FormEncode(name) + "=" + FormEncode(value);
  const int status = PostControl(httpPort_, path, body);
  if (status != 200) ADD_FAILURE() << "Control request " << path << " answered " << status;
}

}  // namespace testing_support
