#include "platform/posix/posix_dialogs.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <mutex>

namespace platform {

namespace {

std::mutex terminalLock;  // one box at a time on the terminal

bool HaveTerminal() { return isatty(STDIN_FILENO) && isatty(STDERR_FILENO); }

}  // namespace

std::optional<BoxAnswer> YesNoAnswer(const std::string& typed) {
  std::string word;
  for (char c : typed)
    if (!std::isspace(static_cast<unsigned char>(c))) word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* yes : {"y", "yes", "j", "ja", "o", "oui", "s", "si"})
    if (word == yes) return BoxAnswer::Yes;
  for (const char* no : {"", "n", "no", "nein", "non"})
    if (word == no) return BoxAnswer::No;
  return std::nullopt;
}

std::optional<std::string> PosixDialogs::Answer(const std::string& prompt) {
  if (answers_) return answers_(prompt);
  std::fprintf(stderr, "%s", prompt.c_str());
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}

BoxAnswer PosixDialogs::ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) {
  std::lock_guard<std::mutex> lock(terminalLock);
  std::fprintf(stderr, "\n[%s]%s\n%s\n", caption.c_str(), style == BoxStyle::Error ? " (error)" : "", text.c_str());
  if (!HaveTerminal()) return style == BoxStyle::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
  const auto goOn = [this](BoxAnswer answer) {
    if (afterBox_) afterBox_();
    return answer;
  };
  if (style != BoxStyle::YesNo) {
    (void)Answer("Press Enter to go on. ");
    return goOn(BoxAnswer::Ok);
  }
  for (;;) {
    const std::optional<std::string> typed = Answer("[y/N] ");
    if (!typed) return BoxAnswer::Yes;
    const std::optional<BoxAnswer> answer = YesNoAnswer(*typed);
    if (answer == BoxAnswer::Yes) return BoxAnswer::Yes;
    if (answer == BoxAnswer::No) return goOn(BoxAnswer::No);
    std::fprintf(stderr, "Please type y or n.\n");
  }
}

std::optional<std::string> PosixDialogs::BrowseForFolder(const std::string& title) {
  if (!HaveTerminal()) return std::nullopt;
  std::lock_guard<std::mutex> lock(terminalLock);
  const std::optional<std::string> folder = Answer(title + " (empty to cancel): ");
  if (!folder || folder->empty()) return std::nullopt;
  return folder;
}

}  // namespace platform
