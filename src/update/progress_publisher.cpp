#include "update/progress_publisher.h"

namespace update {

ProgressPublisher::ProgressPublisher(MovieCall call, std::chrono::milliseconds interval)
    : call_(std::move(call)), interval_(interval), thread_([this] { Run(); }) {}

ProgressPublisher::~ProgressPublisher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ProgressPublisher::Show(const std::string& fileName, const std::string& progress) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fileName.empty()) fileName_ = fileName;
    progress_ = progress;
    pending_ = true;
  }
  changed_.notify_all();
}

void ProgressPublisher::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  flushing_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return stopping_ || (!pending_ && !sending_); });
  flushing_ = false;
}

void ProgressPublisher::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || pending_; });
    if (stopping_) return;
    const std::string name = fileName_;
    const std::string progress = progress_;
    const bool newName = name != shownName_;
    shownName_ = name;
    pending_ = false;
    sending_ = true;
    lock.unlock();
    if (newName && !name.empty()) call_("SetFileName", name);
    if (!progress.empty()) call_("SetProgress", progress);
    lock.lock();
    sending_ = false;
    changed_.notify_all();
    // The pause between calls; a flush or the end cuts it short.
    changed_.wait_for(lock, interval_, [this] { return stopping_ || flushing_; });
  }
}

}  // namespace update
