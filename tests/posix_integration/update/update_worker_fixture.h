// The update worker under test: a fake update server answering by action
// code, a recording movie link, real files and tree operations in a
// temporary installation folder, fake registry and processes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>

#include "app/settings_record.h"
#include "fakes/fake_http.h"
#include "fakes/fake_os.h"
#include "fakes/fake_platform.h"
#include "net/request_forms.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/shell_posix.h"
#include "support/temp_dir.h"
#include "update/update_worker.h"

namespace update {

namespace fs = std::filesystem;
using fakes::Chunk;
using fakes::Serves;
using testing_support::TempDir;

// The update server as the worker meets it: replies chosen by the form's
// action code; every form posted is kept decoded.
class FakeUpdateServer : public fakes::FakeHttpClient {
 public:
  std::map<std::string, std::vector<fakes::HttpStep>> replies;  // by ac

  std::unique_ptr<platform::HttpStream> Post(const platform::HttpPostRequest& request) override {
    std::map<std::string, std::string> form;
    size_t start = 0;
    while (start <= request.body.size()) {
      size_t end = request.body.find('&', start);
      if (end == std::string::npos) end = request.body.size();
      const std::string pair = request.body.substr(start, end - start);
      const size_t eq = pair.find('=');
      if (eq != std::string::npos) form[pair.substr(0, eq)] = net::FormDecode(pair.substr(eq + 1));
      start = end + 1;
    }
    {
      std::lock_guard<std::mutex> lock(formsLock_);
      forms_.push_back(form);
    }
    // Report threads post at the same time as the worker.
    std::lock_guard<std::mutex> lock(postLock_);
    script = replies.count(form["ac"]) ? replies[form["ac"]] : std::vector<fakes::HttpStep>{Chunk("~ac=" + form["ac"])};
    if (request.objectName == "servlet/PixelServlet") script = {Chunk("OK")};
    return FakeHttpClient::Post(request);
  }

  std::vector<std::map<std::string, std::string>> Forms() {
    std::lock_guard<std::mutex> lock(formsLock_);
    return forms_;
  }
  // The "txt" of every statistics report, in the order they were posted.
  std::vector<std::string> StatisticsTexts() {
    std::vector<std::string> texts;
    for (auto& form : Forms()) {
      if (form["ac"] == "101") texts.push_back(form["txt"]);
    }
    return texts;
  }

 private:
  std::mutex formsLock_;
  std::mutex postLock_;
  std::vector<std::map<std::string, std::string>> forms_;
};

// Movie calls, answered on the worker's own thread.
class RecordingDialog : public DialogLink {
 public:
  std::vector<std::pair<std::string, std::string>> calls;
  std::function<void(const std::string&)> onCall;

  void SendMovieCall(std::unique_ptr<std::string> function, std::unique_ptr<std::string> parameter) override {
    calls.emplace_back(function ? *function : "<null>", parameter ? *parameter : "<null>");
    if (onCall) onCall(calls.back().first);
  }
  std::vector<std::string> Functions() const {
    std::vector<std::string> names;
    for (const auto& call : calls) names.push_back(call.first);
    return names;
  }
  int Count(const std::string& function) const {
    int n = 0;
    for (const auto& call : calls) n += call.first == function;
    return n;
  }
};

// A shell whose tree copy and move can be made to fail; everything else is
// real.
class FailableShell : public platform::PosixShell {
 public:
  int copyFailure = 0;
  int CopyTree(const std::string& from, const std::string& to) override {
    if (copyFailure != 0) return copyFailure;
    return PosixShell::CopyTree(from, to);
  }
  int MoveTree(const std::string& from, const std::string& to) override {
    if (copyFailure != 0) return copyFailure;
    return PosixShell::MoveTree(from, to);
  }
};

// Gives the application the names of the sample client and points its
// update server and pixel host at the reference server's HTTPS port.
inline void PointAtServer(app::CInstallerApp& application, const std::string& installDir, int httpsPort) {
  application.appName = "Quorix";
  application.clientPrefix = "Quorix";
  application.appRegKey = "Software\\Quorix";
  application.serial = "K7TQ";
  application.installDir = installDir;
  application.serverAddress = {"localhost", "UpdateServlet", "", "", httpsPort, ""};
  application.serverHost = "localhost";
  application.serverPort = httpsPort;
}

inline std::string Entry(const std::string& fo, const std::string& fn, const std::string& rd, size_t size,
                  const std::string& url) {
  return "~fn=" + fn + "~fo=" + fo + "~rd=" + rd + "~fs=" + std::to_string(size) + "~url=" + url;
}

// The real files, counting the write calls to files whose path ends in
// `countedName` (set before the run).
class CountingFiles : public platform::PosixFileSystem {
 public:
  std::string countedName;
  std::atomic<int> writes{0};

  std::unique_ptr<platform::File> CreateForWrite(const std::string& path, std::string* error) override {
    std::unique_ptr<platform::File> file = PosixFileSystem::CreateForWrite(path, error);
    const bool counted = !countedName.empty() && path.size() >= countedName.size() &&
                         path.compare(path.size() - countedName.size(), countedName.size(), countedName) == 0;
    if (!file || !counted) return file;
    return std::make_unique<Counted>(std::move(file), writes);
  }

 private:
  class Counted : public platform::File {
   public:
    Counted(std::unique_ptr<platform::File> file, std::atomic<int>& writes) : file_(std::move(file)), writes_(writes) {}
    bool Read(void* buffer, size_t size, size_t* received) override { return file_->Read(buffer, size, received); }
    bool Write(const void* data, size_t size) override {
      ++writes_;
      return file_->Write(data, size);
    }
    int64_t Size() override { return file_->Size(); }
    bool Flush() override { return file_->Flush(); }
    bool Close() override { return file_->Close(); }

   private:
    std::unique_ptr<platform::File> file_;
    std::atomic<int>& writes_;
  };
};

class UpdateWorkerFixture : public ::testing::Test {
 public:
  UpdateWorkerFixture() : savedCwd(fs::current_path()), application(MakePlatform()) {
    installDir = root / "Quorix";
    fs::create_directories(installDir + "/cfg");
    fs::current_path(installDir);
    application.appName = "Quorix";
    application.clientPrefix = "Quorix";
    application.appRegKey = "Software\\Quorix";
    application.serial = "K7TQ";
    application.param1 = "p1";
    application.installDir = installDir;
    application.serverAddress = {"update.test", "UpdateServlet", "", "", 443, ""};
    application.serverHost = "pixel.test";
    application.serverPort = 443;
    server.replies["15"] = {Chunk("~ac=15")};
  }
  ~UpdateWorkerFixture() override {
    application.Reports().WaitForReports();
    fs::current_path(savedCwd);
  }

  platform::Platform MakePlatform() {
    platform::Platform p;
    p.system = &system;
    p.files = &files;
    p.http = &server;
    p.dialogs = &dialogs;
    p.registry = &registry;
    p.shell = &shell;
    p.processes = &processes;
    p.mainLoop = &mainLoop;
    return p;
  }

  // Serves `content` at `url` on every attempt.
  void Serve(const std::string& url, const std::string& content) { server.downloads[url] = {Serves({Chunk(content)})}; }
  void SetList(const std::string& records, const std::string& head = "~ac=11~sn=SRV9~cv=2.1.0~cb=77~lrm=1~rmp=0") {
    server.replies["11"] = {Chunk(head + "~fl=|" + records + "||")};
  }

  // Runs one whole update on this thread; the result the main thread got.
  std::optional<uintptr_t> Run(int runMode = kRunModeInstall) {
    WorkerConfig config;
    config.runMode = runMode;
    config.app = &application;
    config.dialog = &dialog;
    CUpdateVersionFiles worker(config);
    worker.RunUpdate();
    application.Reports().WaitForReports();
    lastFileCount = worker.FileCount();
    std::optional<uintptr_t> posted;
    while (auto message = mainLoop.TryTake()) {
      if (message->id == app::WM_APP_FILESET_DONE) posted = message->wParam;
    }
    return posted;
  }

  std::vector<std::string> ErrorTexts() {
    std::vector<std::string> texts;
    for (const auto& box : dialogs.Boxes()) texts.push_back(box.text);
    return texts;
  }
  bool BoxSays(const std::string& detail) {
    for (const auto& text : ErrorTexts()) {
      if (text.find("Detalis: " + detail) != std::string::npos) return true;
    }
    return false;
  }

  TempDir root;
  fs::path savedCwd;
  std::string installDir;
  platform::QueueMainLoop mainLoop;  // the test plays the main thread
  fakes::FakeSystem system;
  CountingFiles files;
  FakeUpdateServer server;
  fakes::FakeDialogs dialogs;
  fakes::FakeRegistry registry;
  FailableShell shell;
  fakes::FakeProcesses processes;
  RecordingDialog dialog;
  app::CInstallerApp application;
  size_t lastFileCount = 0;
};


}  // namespace update
