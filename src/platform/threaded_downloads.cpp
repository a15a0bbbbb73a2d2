#include "platform/threaded_downloads.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace platform {

namespace {

// Body bytes waiting for the owner before the reading threads pause.
constexpr size_t kQueuedBytesBound = 4 * 1024 * 1024;
// How long the end of a batch that leaves blocked threads waits for the
// others.
constexpr auto kEndWait = std::chrono::milliseconds(500);

}  // namespace

std::unique_ptr<DownloadBatch> HttpDownloadSession::NewBatch(int parallel) {
  return std::make_unique<ThreadedDownloads>(
      [this](const std::string& url, uint64_t, OpenFailure* failure) {
        std::string error;
        std::unique_ptr<HttpStream> stream = OpenUrl(url, &error);
        if (!stream && failure != nullptr) *failure = OpenFailure{error, false};
        return stream;
      },
      parallel, ThreadedDownloads::kChunkBytes, ThreadedDownloads::AtEnd::WaitForEveryThread);
}

ThreadedDownloads::ThreadedDownloads(Opener open, int threads, size_t chunk, AtEnd atEnd)
    : shared_(std::make_shared<Shared>()),
      threadCount_(threads > 0 ? static_cast<size_t>(threads) : 1),
      atEnd_(atEnd) {
  shared_->open = std::move(open);
  shared_->chunk = chunk;
}

ThreadedDownloads::~ThreadedDownloads() {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->stopping = true;
  shared_->jobsChanged.notify_all();
  shared_->eventsChanged.notify_all();
  const auto allEnded = [this] {
    return std::all_of(shared_->threadEnded.begin(), shared_->threadEnded.end(), [](bool ended) { return ended; });
  };
  if (atEnd_ == AtEnd::LeaveBlockedThreads) {
    // A thread between two reads ends at once; one blocked on a stalled
    // server stays behind.
    shared_->eventsChanged.wait_for(lock, kEndWait, allEnded);
  } else {
    shared_->eventsChanged.wait(lock, allEnded);
  }
  const std::vector<bool> ended = shared_->threadEnded;
  lock.unlock();
  for (size_t i = 0; i < threads_.size(); ++i) {
    if (ended[i]) {
      threads_[i].join();
    } else {
      threads_[i].detach();
    }
  }
}

uint64_t ThreadedDownloads::Begin(const DownloadRequest& request) {
  const uint64_t id = nextId_++;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->jobs.push_back({id, request});
    // A thread per transfer under way, up to the bound; they stay for the
    // batch's life.
    if (threads_.size() < threadCount_) {
      shared_->threadEnded.push_back(false);
      threads_.emplace_back(&ThreadedDownloads::Work, shared_, threads_.size());
    }
  }
  shared_->jobsChanged.notify_one();
  return id;
}

void ThreadedDownloads::Abort(uint64_t id) {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->aborted.insert(id);
    std::erase_if(shared_->jobs, [id](const Job& job) { return job.id == id; });
  }
  shared_->eventsChanged.notify_all();
}

bool ThreadedDownloads::Shared::Gone(uint64_t id) const { return stopping || aborted.count(id) != 0; }

void ThreadedDownloads::Work(const std::shared_ptr<Shared>& shared, size_t index) {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(shared->mutex);
      shared->jobsChanged.wait(lock, [&] { return shared->stopping || !shared->jobs.empty(); });
      if (shared->stopping) break;
      job = std::move(shared->jobs.front());
      shared->jobs.pop_front();
    }
    Transfer(*shared, job);
  }
  std::lock_guard<std::mutex> lock(shared->mutex);
  shared->threadEnded[index] = true;
  shared->eventsChanged.notify_all();
}

void ThreadedDownloads::Transfer(Shared& shared, const Job& job) {
  OpenFailure why;
  std::unique_ptr<HttpStream> stream = shared.open(job.request.url, job.request.fromByte, &why);
  Event ended{Event::Kind::Ended, job.id, 0, {}, {}};
  if (!stream) {
    ended.outcome = DownloadOutcome{false, false, why.busy, why.text};
    shared.Push(std::move(ended));
    return;
  }
  if (!shared.Push(Event{Event::Kind::Started, job.id, stream->FirstByte(), {}, {}})) return;
  ended.outcome.started = true;
  const uint64_t firstByte = std::min(stream->FirstByte(), job.request.fileSize);
  const uint64_t bodyBound = job.request.fileSize - firstByte;
  uint64_t total = 0;
  for (;;) {
    if (total > bodyBound) {
      ended.outcome.failure = "more bytes than the file has";
      break;
    }
    std::string piece(shared.chunk, '\0');
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
    if (!shared.Push(Event{Event::Kind::Data, job.id, 0, std::move(piece), {}})) return;
  }
  shared.Push(std::move(ended));
}

bool ThreadedDownloads::Shared::Push(Event event) {
  {
    std::unique_lock<std::mutex> lock(mutex);
    eventsChanged.wait(lock, [&] { return Gone(event.id) || queuedBytes < kQueuedBytesBound; });
    if (Gone(event.id)) return false;
    queuedBytes += event.data.size();
    events.push_back(std::move(event));
  }
  eventsChanged.notify_all();
  return true;
}

void ThreadedDownloads::Pump(DownloadReceiver& receiver, int waitMs) {
  std::deque<Event> ready;
  {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->eventsChanged.wait_for(lock, std::chrono::milliseconds(waitMs > 0 ? waitMs : 0),
                                    [this] { return !shared_->events.empty(); });
    ready.swap(shared_->events);
    shared_->queuedBytes = 0;
  }
  shared_->eventsChanged.notify_all();
  for (Event& event : ready) Deliver(receiver, event);
}

void ThreadedDownloads::Deliver(DownloadReceiver& receiver, Event& event) {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->aborted.count(event.id) != 0) return;
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
