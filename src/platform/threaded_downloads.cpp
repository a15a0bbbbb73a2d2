#include "platform/threaded_downloads.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace platform {

namespace {

// Body bytes waiting for the owner before the reading threads pause.
constexpr size_t kQueuedBytesBound = 4 * 1024 * 1024;

}  // namespace

std::unique_ptr<HttpStream> HttpDownloadSession::OpenRange(const std::string& url, uint64_t, OpenFailure* failure) {
  std::string error;
  std::unique_ptr<HttpStream> stream = OpenUrl(url, &error);
  if (!stream && failure != nullptr) *failure = OpenFailure{error, false};
  return stream;
}

std::unique_ptr<DownloadBatch> HttpDownloadSession::NewBatch(int parallel) {
  return std::make_unique<ThreadedDownloads>(*this, parallel, 30720);
}

ThreadedDownloads::ThreadedDownloads(HttpDownloadSession& session, int threads, size_t chunk)
    : session_(session), threadCount_(threads > 0 ? static_cast<size_t>(threads) : 1), chunk_(chunk) {}

ThreadedDownloads::~ThreadedDownloads() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  jobsChanged_.notify_all();
  eventsChanged_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

uint64_t ThreadedDownloads::Begin(const DownloadRequest& request) {
  const uint64_t id = nextId_++;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back({id, request});
    // A thread per transfer under way, up to the bound; they stay for the
    // batch's life.
    if (threads_.size() < threadCount_) threads_.emplace_back([this] { Work(); });
  }
  jobsChanged_.notify_one();
  return id;
}

void ThreadedDownloads::Abort(uint64_t id) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_.insert(id);
    std::erase_if(jobs_, [id](const Job& job) { return job.id == id; });
  }
  eventsChanged_.notify_all();
}

bool ThreadedDownloads::Gone(uint64_t id) const { return stopping_ || aborted_.count(id) != 0; }

void ThreadedDownloads::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      jobsChanged_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    Transfer(job);
  }
}

void ThreadedDownloads::Transfer(const Job& job) {
  OpenFailure why;
  std::unique_ptr<HttpStream> stream = session_.OpenRange(job.request.url, job.request.fromByte, &why);
  Event ended{Event::Kind::Ended, job.id, 0, {}, {}};
  if (!stream) {
    ended.outcome = DownloadOutcome{false, false, why.busy, why.text};
    Push(std::move(ended));
    return;
  }
  if (!Push(Event{Event::Kind::Started, job.id, stream->FirstByte(), {}, {}})) return;
  ended.outcome.started = true;
  const uint64_t firstByte = std::min(stream->FirstByte(), job.request.fileSize);
  const uint64_t bodyBound = job.request.fileSize - firstByte;
  uint64_t total = 0;
  for (;;) {
    if (total > bodyBound) {
      ended.outcome.failure = "more bytes than the file has";
      break;
    }
    std::string piece(chunk_, '\0');
    size_t received = 0;
    if (!stream->Read(piece.data(), piece.size(), &received)) {
      ended.outcome.failure = stream->FailureText();
      break;
    }
    if (received == 0) {
      ended.outcome.ok = true;
      break;
    }
    piece.resize(received);
    total += received;
    if (!Push(Event{Event::Kind::Data, job.id, 0, std::move(piece), {}})) return;
  }
  Push(std::move(ended));
}

bool ThreadedDownloads::Push(Event event) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    eventsChanged_.wait(lock, [&] { return Gone(event.id) || queuedBytes_ < kQueuedBytesBound; });
    if (Gone(event.id)) return false;
    queuedBytes_ += event.data.size();
    events_.push_back(std::move(event));
  }
  eventsChanged_.notify_all();
  return true;
}

void ThreadedDownloads::Pump(DownloadReceiver& receiver, int waitMs) {
  std::deque<Event> ready;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    eventsChanged_.wait_for(lock, std::chrono::milliseconds(waitMs > 0 ? waitMs : 0),
                            [this] { return !events_.empty(); });
    ready.swap(events_);
    queuedBytes_ = 0;
  }
  eventsChanged_.notify_all();
  for (Event& event : ready) Deliver(receiver, event);
}

void ThreadedDownloads::Deliver(DownloadReceiver& receiver, Event& event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (aborted_.count(event.id) != 0) return;
  }
  bool accepted = true;
  switch (event.kind) {
    case Event::Kind::Started:
      accepted = receiver.Started(event.id, event.firstByte);
      break;
    case Event::Kind::Data:
      accepted = receiver.Received(event.id, event.data.data(), event.data.size());
      break;
    case Event::Kind::Ended:
      receiver.Ended(event.id, event.outcome);
      return;
  }
  if (accepted) return;
  // The receiver refused the transfer: its thread stops at its next step
  // and the refusal is the transfer's end.
  Abort(event.id);
  receiver.Ended(event.id, DownloadOutcome{false, true, false, "refused by the receiver"});
}

}  // namespace platform
