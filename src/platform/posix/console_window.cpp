#include "platform/posix/console_window.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

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
