// A DownloadBatch for transports that only block: each transfer opens its
// address (HttpDownloadSession::OpenRange) and reads its body on one of a
// few threads of the batch, and the events wait in a queue until the
// owner's Pump hands them out on its own thread. The session's OpenRange
// and its streams must allow use from several threads at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/http.h"

namespace platform {

class ThreadedDownloads : public DownloadBatch {
 public:
  // `threads` transfers at most at once; each reads `chunk` bytes at a time.
  // `session` is not owned and must outlive the batch.
  ThreadedDownloads(HttpDownloadSession& session, int threads, size_t chunk);
  // Ends the transfers and waits for the threads; a read that blocks on a
  // stalled server holds this up to the session's no-data time-out.
  ~ThreadedDownloads() override;
  ThreadedDownloads(const ThreadedDownloads&) = delete;
  ThreadedDownloads& operator=(const ThreadedDownloads&) = delete;

  uint64_t Begin(const DownloadRequest& request) override;
  void Pump(DownloadReceiver& receiver, int waitMs) override;
  void Abort(uint64_t id) override;

 private:
  struct Job {
    uint64_t id = 0;
    DownloadRequest request;
  };
  struct Event {
    enum class Kind { Started, Data, Ended } kind = Kind::Data;
    uint64_t id = 0;
    uint64_t firstByte = 0;
    std::string data;
    DownloadOutcome outcome;
  };

  void Work();
  void Transfer(const Job& job);
  // Queues an event, waiting while too many bytes are queued. False when
  // the transfer was aborted or the batch is ending.
  bool Push(Event event);
  bool Gone(uint64_t id) const;  // with mutex_ held
  void Deliver(DownloadReceiver& receiver, Event& event);

  HttpDownloadSession& session_;
  const size_t threadCount_;
  const size_t chunk_;
  std::vector<std::thread> threads_;
  std::atomic<uint64_t> nextId_{1};

  mutable std::mutex mutex_;
  std::condition_variable jobsChanged_;
  std::condition_variable eventsChanged_;
  std::deque<Job> jobs_;
  std::deque<Event> events_;
  size_t queuedBytes_ = 0;
  std::set<uint64_t> aborted_;
  bool stopping_ = false;
};

}  // namespace platform
