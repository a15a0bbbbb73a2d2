#include "platform/posix/posix_dialogs.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>

namespace platform {

namespace {

std::mutex terminalLock;  // one box at a time on the terminal

bool HaveTerminal() { return isatty(STDIN_FILENO) && isatty(STDERR_FILENO); }

std::string ReadLine() {
  std::string line;
  if (!std::getline(std::cin, line)) return {};
  return line;
}

}  // namespace

BoxAnswer PosixDialogs::ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) {
  std::lock_guard<std::mutex> lock(terminalLock);
  std::fprintf(stderr, "\n[%s]%s\n%s\n", caption.c_str(), style == BoxStyle::Error ? " (error)" : "", text.c_str());
  if (!HaveTerminal()) return style == BoxStyle::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
  if (style == BoxStyle::YesNo) {
    std::fprintf(stderr, "[y/N] ");
    const std::string answer = ReadLine();
    return (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) ? BoxAnswer::Yes : BoxAnswer::No;
  }
  std::fprintf(stderr, "Press Enter to go on. ");
  ReadLine();
  return BoxAnswer::Ok;
}

std::optional<std::string> PosixDialogs::BrowseForFolder(const std::string& title) {
  if (!HaveTerminal()) return std::nullopt;
  std::lock_guard<std::mutex> lock(terminalLock);
  std::fprintf(stderr, "%s (empty to cancel): ", title.c_str());
  const std::string folder = ReadLine();
  if (folder.empty()) return std::nullopt;
  return folder;
}

}  // namespace platform
