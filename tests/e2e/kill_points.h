// Deterministic kill points of the end-to-end program: with
// WEBSETUP_TEST_KILL_AT=<point> in its environment the program sends itself
// SIGKILL (or, with WEBSETUP_TEST_SIGNAL=TERM, HUP or STOP, that signal)
// at one step of an installation, exactly as a power cut or a closed
// terminal would stop it there. Points:
//   download      the first download opens its file in the staging folder
//   staging       the first sub-folder of the staging folder is made
//   program       the file list's program is about to run in the staging folder
//   move          the staging tree has just been moved over the installation
//   record        the settings record's first save opens its temporary file
//   registration  the install folder has just been registered
//   shortcuts     the first shortcut has just been made
//   rename        the updater is about to become the launcher
//   emptying      an earlier installation being taken away has just lost its
//                 settings folder ("cfg"), the rest of it still there
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix/posix_platform.h"

namespace e2e {

// The point this run stops at, and how.
class KillPoint {
 public:
  KillPoint() {
    const char* point = std::getenv("WEBSETUP_TEST_KILL_AT");
    point_ = point ? point : "";
    const char* signal = std::getenv("WEBSETUP_TEST_SIGNAL");
    const std::string name = signal ? signal : "KILL";
    signal_ = name == "TERM" ? SIGTERM : name == "HUP" ? SIGHUP : name == "STOP" ? SIGSTOP : SIGKILL;
  }
  // Stops the process when `point` is this run's point (once).
  void At(const std::string& point) {
    if (point_.empty() || point != point_) return;
    point_.clear();
    kill(getpid(), signal_);
  }

 private:
  std::string point_;
  int signal_ = SIGKILL;
};

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
inline bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class KillingFiles : public platform::PosixFileSystem {
 public:
  explicit KillingFiles(KillPoint& kill) : kill_(kill) {}
  std::unique_ptr<platform::File> CreateForWrite(const std::string& path, std::string* error) override {
    if (Contains(path, "/Update/")) kill_.At("download");
    if (EndsWith(path, "ovl.cfg.new")) kill_.At("record");
    return PosixFileSystem::CreateForWrite(path, error);
  }
  bool MakeDirectory(const std::string& path) override {
    if (Contains(path, "/Update/")) kill_.At("staging");
    return PosixFileSystem::MakeDirectory(path);
  }
  bool MoveOneFile(const std::string& from, const std::string& to) override {
    if (EndsWith(from, "Updater.exe")) kill_.At("rename");
    return PosixFileSystem::MoveOneFile(from, to);
  }

 private:
  KillPoint& kill_;
};

class KillingProcesses : public platform::PosixProcesses {
 public:
  explicit KillingProcesses(KillPoint& kill) : kill_(kill) {}
  int RunProgram(const std::string& directory, const std::string& file, const std::optional<std::string>& argument,
                 bool show, bool wait) override {
    if (wait && EndsWith(directory, "/Update")) kill_.At("program");
    return PosixProcesses::RunProgram(directory, file, argument, show, wait);
  }

 private:
  KillPoint& kill_;
};

class KillingShell : public platform::PosixShell {
 public:
  explicit KillingShell(KillPoint& kill) : kill_(kill) {}
  int MoveTree(const std::string& from, const std::string& to) override {
    const int result = PosixShell::MoveTree(from, to);
    kill_.At("move");
    return result;
  }
  int DeleteTree(const std::string& path, bool contentsOnly) override {
    const int result = PosixShell::DeleteTree(path, contentsOnly);
    if (EndsWith(path, "/cfg")) kill_.At("emptying");
    return result;
  }

 private:
  KillPoint& kill_;
};

class KillingRegistry : public platform::PosixRegistry {
 public:
  explicit KillingRegistry(KillPoint& kill) : kill_(kill) {}
  int WriteString(platform::Hive hive, const std::string& key, const std::string& valueName,
                  const std::string& text) override {
    const int result = PosixRegistry::WriteString(hive, key, valueName, text);
    if (valueName == "AppDirectory") kill_.At("registration");
    return result;
  }

 private:
  KillPoint& kill_;
};

class KillingShortcuts : public platform::PosixShortcuts {
 public:
  explicit KillingShortcuts(KillPoint& kill) : kill_(kill) {}
  int CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingFolder,
                     const std::string& description, const std::optional<std::string>& iconPath) override {
    const int result = PosixShortcuts::CreateShortcut(linkPath, target, workingFolder, description, iconPath);
    kill_.At("shortcuts");
    return result;
  }

 private:
  KillPoint& kill_;
};

// The platform's services with the kill points in place.
struct KillingServices {
  KillPoint point;
  KillingFiles files{point};
  KillingProcesses processes{point};
  KillingShell shell{point};
  KillingRegistry registry{point};
  KillingShortcuts shortcuts{point};

  void InstallInto(platform::Platform& view) {
    view.files = &files;
    view.processes = &processes;
    view.shell = &shell;
    view.registry = &registry;
    view.shortcuts = &shortcuts;
  }
};

}  // namespace e2e
