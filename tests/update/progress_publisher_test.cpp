#include "update/progress_publisher.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace update {
namespace {

using Call = std::pair<std::string, std::string>;

// While the movie is stuck in a call, the worker's states keep coming
// without waiting; once the movie answers, only the newest one goes out,
// and a new name is shown before its progress.
TEST(ProgressPublisherTest, SlowMovieNeverHoldsTheWorkerAndOnlyTheNewestStateShows) {
  std::mutex lock;
  std::vector<Call> calls;
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  bool first = true;
  ProgressPublisher publisher(
      [&](const char* function, const std::string& parameter) {
        bool wait = false;
        {
          std::lock_guard<std::mutex> guard(lock);
          calls.emplace_back(function, parameter);
          wait = std::exchange(first, false);
        }
        if (!wait) return;
        entered.set_value();
        released.wait_for(std::chrono::seconds(10));
      },
      std::chrono::milliseconds(0));

  publisher.Show("a.dat", "1");
  ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  for (int i = 2; i <= 100; ++i) publisher.Show("b.dat", std::to_string(i));
  release.set_value();
  publisher.Flush();

  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(calls, (std::vector<Call>{{"SetFileName", "a.dat"},
                                      {"SetProgress", "1"},
                                      {"SetFileName", "b.dat"},
                                      {"SetProgress", "100"}}));
}

}  // namespace
}  // namespace update
