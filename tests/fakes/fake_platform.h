// Fakes of the platform interfaces for unit tests of the logic. Each holds
// the answers a test sets and records what it was asked.
#pragma once

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/system.h"

namespace fakes {

class FakeSystem : public platform::System {
 public:
  platform::OsVersion osVersion{true, 2, 5, 1};
  platform::ScreenSize screen{1024, 768};
  std::string computerName = "TESTPC";
  uint32_t tickCount = 100000;
  // Milliseconds that pass with every reading of the tick count (a clock
  // that runs while the code under test waits). Set before the run.
  uint32_t tickStep = 0;
  uint64_t fileTime = 133000000000000000ULL;
  platform::LocalTime localTime{2026, 12, 8, 9, 5, 7, 42};
  std::string executablePath = "/opt/websetup/websetup";
  std::string tempFolder = "/tmp";

  platform::OsVersion GetOsVersion() override { return osVersion; }
  platform::ScreenSize GetScreenSize() override { return screen; }
  std::string ComputerName() override { return computerName; }
  uint32_t TickCount() override { return ticks_.fetch_add(tickStep) + tickCount; }
  uint64_t SystemTimeAsFileTime() override { return fileTime; }
  platform::LocalTime GetLocalTime() override { return localTime; }
  std::string ExecutablePath() override { return executablePath; }
  std::string TempFolder() override { return tempFolder; }
  void LowerCurrentThreadPriority() override { ++priorityLowered; }
  int priorityLowered = 0;
  // The C library's last error and the standard library's texts for it.
  int LastErrorCode() override { return errno; }
  void SetLastErrorCode(int code) override { errno = code; }
  std::string ErrorText(int code) override { return std::generic_category().message(code) + "\r\n"; }

 private:
  std::atomic<uint32_t> ticks_{0};
};

class FakeDialogs : public platform::Dialogs {
 public:
  struct Box {
    std::string text;
    std::string caption;
    platform::BoxStyle style;
  };

  std::optional<std::string> folderToPick;
  platform::BoxAnswer answer = platform::BoxAnswer::Ok;

  platform::BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption,
                                 platform::BoxStyle style) override {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({text, caption, style});
    return answer;
  }
  std::optional<std::string> BrowseForFolder(const std::string& title) override {
    std::lock_guard<std::mutex> lock(mutex_);
    pickerTitles_.push_back(title);
    return folderToPick;
  }

  std::vector<Box> Boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }
  std::vector<std::string> PickerTitles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pickerTitles_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::vector<std::string> pickerTitles_;
};

}  // namespace fakes
