#include "platform/posix/console_window.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/posix/console_texts.h"

namespace platform {

std::string ConsoleHeading(const std::string& title) {
  size_t begin = 0, end = title.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(title[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(title[end - 1]))) --end;
  if (begin == end) return {};
  return "==  " + title.substr(begin, end - begin) + "  ==";
}

namespace {

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

ConsoleWindow::ConsoleWindow(int outputFd, bool visible, ConsoleWindowFactory* factory)
    : outputFd_(outputFd), visible_(visible), factory_(factory) {
  if (factory_) factory_->open_.push_back(this);
}

ConsoleWindow::~ConsoleWindow() {
  ShowConnecting(false);
  if (factory_) std::erase(factory_->open_, this);
}

bool ConsoleWindow::RequestClose() {
  if (!onCloseRequest_) return false;
  // The handler may close this window: it runs from a copy.
  const std::function<void()> handler = onCloseRequest_;
  handler();
  return true;
}

void ConsoleWindow::SetTitle(const std::string& title) {
  const std::string heading = ConsoleHeading(title);
  if (heading.empty() || heading == shownHeading_) return;
  shownHeading_ = heading;
  WriteAll(outputFd_, "\n" + heading + "\n\n");
}

void ConsoleWindow::SetText(const std::string& text) {
  if (!text.empty()) WriteAll(outputFd_, text + "\n\n");
}

void ConsoleWindow::ShowConnecting(bool connecting) {
  const ConsoleTexts& texts =
      ConsoleLanguage(ConsoleLanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
  const auto line = [&](int seconds) { return FormatText(texts.connecting, seconds); };
  const bool terminal = isatty(outputFd_);
  if (connecting) {
    if (connecting_) return;
    connecting_ = true;
    connectStart_ = std::chrono::steady_clock::now();
    if (!terminal) return;
    ticker_ = std::thread([this, line] {
      std::unique_lock<std::mutex> lock(tickLock_);
      for (int seconds = 0; connecting_; ++seconds) {
        WriteAll(outputFd_, "\r" + line(seconds) + "\x1b[K");
        tickStop_.wait_for(lock, std::chrono::seconds(1), [this] { return !connecting_; });
      }
    });
    return;
  }
  if (!connecting_) return;
  {
    std::lock_guard<std::mutex> lock(tickLock_);
    connecting_ = false;
  }
  tickStop_.notify_all();
  if (ticker_.joinable()) ticker_.join();
  const auto waited = std::chrono::steady_clock::now() - connectStart_;
  const int seconds = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(waited).count());
  WriteAll(outputFd_, (terminal ? "\r" : "") + line(seconds) + (terminal ? "\x1b[K\n" : "\n"));
}

void ConsoleWindow::FitClient(int width, int height) {
  width_ = width;
  height_ = height;
}

std::unique_ptr<DialogWindow> ConsoleWindowFactory::CreateDialogWindow(int, bool visible) {
  return std::make_unique<ConsoleWindow>(outputFd_, visible, this);
}

bool ConsoleWindowFactory::RequestClose() {
  // A handler may close windows: walk a copy, newest first.
  const std::vector<ConsoleWindow*> open = open_;
  for (auto it = open.rbegin(); it != open.rend(); ++it) {
    if (std::find(open_.begin(), open_.end(), *it) != open_.end() && (*it)->RequestClose()) return true;
  }
  return false;
}

}  // namespace platform
