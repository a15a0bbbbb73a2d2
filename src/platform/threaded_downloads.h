// A DownloadBatch for transports that only block: each transfer opens its
// address and reads its body on one of a few threads of the batch, and the
// events wait in a queue until the owner's Pump hands them out on its own
// thread. The opener and its streams must allow use from several threads
// at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/http.h"

namespace platform {

class ThreadedDownloads : public DownloadBatch {
 public:
  // Opens a transfer's address as HttpDownloadSession::OpenUrl does, asking
  // for the file from `fromByte` on (0: the whole file); the stream's
  // FirstByte tells what the server sent. Called on the batch's threads.
  using Opener = std::function<std::unique_ptr<HttpStream>(const std::string& url, uint64_t fromByte,
                                                           OpenFailure* failure)>;
  // How the batch's end treats a thread blocked on a stalled server.
  enum class AtEnd {
    // Waits for it, up to the session's no-data time-out.
    WaitForEveryThread,
    // Leaves it to end by that time-out on its own, after the batch: the
    // opener must then hold everything it and its streams use.
    LeaveBlockedThreads,
  };

  // Bytes a thread reads at a time, unless told otherwise.
  static constexpr size_t kChunkBytes = 30720;

  // `threads` transfers at most at once; each reads `chunk` bytes at a time.
  ThreadedDownloads(Opener open, int threads, size_t chunk, AtEnd atEnd);
  // Ends the transfers; see AtEnd.
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
  // What the threads use: owned by the batch and by each thread, so that a
  // thread left behind at the end still has it.
  struct Shared {
    Opener open;
    size_t chunk = 0;
    std::mutex mutex;
    std::condition_variable jobsChanged;
    std::condition_variable eventsChanged;
    std::deque<Job> jobs;
    std::deque<Event> events;
    size_t queuedBytes = 0;
    std::set<uint64_t> aborted;
    std::vector<bool> threadEnded;
    bool stopping = false;

    bool Gone(uint64_t id) const;  // with mutex held
    // Queues an event, waiting while too many bytes are queued. False when
    // the transfer was aborted or the batch is ending.
    bool Push(Event event);
  };

  static void Work(const std::shared_ptr<Shared>& shared, size_t index);
  static void Transfer(Shared& shared, const Job& job);
  void Deliver(DownloadReceiver& receiver, Event& event);

  const std::shared_ptr<Shared> shared_;
  const size_t threadCount_;
  const AtEnd atEnd_;
  std::vector<std::thread> threads_;
  uint64_t nextId_ = 1;
};

}  // namespace platform
