// The download's progress in the movie, shown from a thread of its own: the
// worker hands over the newest state whenever it likes, and this thread
// makes the synchronous movie calls at most once per interval (the update
// run gives four a second), so a slow movie call never holds the transfers.
// Only the newest state is kept; states in between are skipped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace update {

class ProgressPublisher {
 public:
  // `call` makes one movie call; it is only ever called on the publisher's
  // thread, one call at a time.
  using MovieCall = std::function<void(const char* function, const std::string& parameter)>;

  // `interval`: the pause after each round of calls.
  ProgressPublisher(MovieCall call, std::chrono::milliseconds interval);
  // Ends the thread; a state not yet shown is dropped, a call under way
  // completes first (the dialog's stop releases it).
  ~ProgressPublisher();
  ProgressPublisher(const ProgressPublisher&) = delete;
  ProgressPublisher& operator=(const ProgressPublisher&) = delete;

  // The newest state: "SetFileName" goes out when `fileName` differs from
  // the name shown last (an empty one keeps it), then "SetProgress" with
  // `progress` unless it is empty. Worker thread; never blocks on the movie.
  void Show(const std::string& fileName, const std::string& progress);
  // Shows the newest state now, if it has not been shown, and returns once
  // it has. Worker thread.
  void Flush();

 private:
  void Run();

  const MovieCall call_;
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string fileName_;
  std::string progress_;
  std::string shownName_;
  bool pending_ = false;
  bool sending_ = false;
  bool flushing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace update
