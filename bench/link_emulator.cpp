// link_emulator: a wide-area link between two TUN devices, for the update
// benchmark (bench/run_wan_bench.sh). Every packet read from one device is
// written to the other after a one-way delay; with a rate, packets leave
// one after the other at that rate through a buffer of bounded size, and a
// packet that finds the buffer full is dropped (as at a router's queue).
//
//   link_emulator TUN_A TUN_B DELAY_MS RATE_BITS_PER_SECOND BUFFER_BYTES SECONDS
//
// RATE 0: no rate limit (and no buffer bound). The program creates both
// devices, prints "ready" and forwards until SIGTERM, SIGINT or SECONDS
// have passed. Exit code 0, or 1 when a device cannot be made.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <time.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) { stopRequested = 1; }

int OpenTun(const char* name) {
  const int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::snprintf(request.ifr_name, IFNAMSIZ, "%s", name);
  if (ioctl(fd, TUNSETIFF, &request) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

struct Packet {
  Clock::time_point due;
  std::vector<char> bytes;
};

// One direction of the link.
class Direction {
 public:
  Direction(int from, int to, Clock::duration delay, double bytesPerSecond, size_t bufferBytes)
      : from_(from), to_(to), delay_(delay), rate_(bytesPerSecond), buffer_(bufferBytes) {}

  int from() const { return from_; }

  // Takes every packet waiting on the source device.
  void Read() {
    char data[65536];
    for (;;) {
      const ssize_t n = read(from_, data, sizeof data);
      if (n <= 0) return;
      Accept(data, static_cast<size_t>(n));
    }
  }

  // Hands on the packets that are due.
  void Deliver(Clock::time_point now) {
    while (!queue_.empty() && queue_.front().due <= now) {
      (void)!write(to_, queue_.front().bytes.data(), queue_.front().bytes.size());
      queue_.pop_front();
    }
  }

  // When the next packet is due; max when none waits.
  Clock::time_point NextDue() const { return queue_.empty() ? Clock::time_point::max() : queue_.front().due; }

  unsigned long long dropped() const { return dropped_; }

 private:
  void Accept(const char* data, size_t size) {
    const Clock::time_point now = Clock::now();
    Clock::time_point leaves = now;
    if (rate_ > 0) {
      const Clock::time_point start = std::max(now, lineFree_);
      // Bytes still waiting for the line ahead of this packet.
      const double waiting = std::chrono::duration<double>(start - now).count() * rate_;
      if (waiting + static_cast<double>(size) > static_cast<double>(buffer_)) {
        ++dropped_;
        return;
      }
      lineFree_ = start + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(static_cast<double>(size) / rate_));
      leaves = lineFree_;
    } else if (queue_.size() >= kMostQueued) {
      ++dropped_;
      return;
    }
    queue_.push_back({leaves + delay_, std::vector<char>(data, data + size)});
  }

  static constexpr size_t kMostQueued = 200000;

  const int from_;
  const int to_;
  const Clock::duration delay_;
  const double rate_;
  const size_t buffer_;
  Clock::time_point lineFree_{};
  std::deque<Packet> queue_;
  unsigned long long dropped_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: link_emulator TUN_A TUN_B DELAY_MS RATE_BITS_PER_SECOND BUFFER_BYTES SECONDS\n");
    return 2;
  }
  const int a = OpenTun(argv[1]);
  const int b = OpenTun(argv[2]);
  if (a < 0 || b < 0) {
    std::perror("link_emulator: cannot make the TUN devices");
    return 1;
  }
  const auto delay = std::chrono::milliseconds(std::atoi(argv[3]));
  const double bytesPerSecond = std::strtod(argv[4], nullptr) / 8.0;
  const size_t buffer = static_cast<size_t>(std::strtoull(argv[5], nullptr, 10));
  const auto end = Clock::now() + std::chrono::seconds(std::atoi(argv[6]));
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);

  Direction directions[] = {{a, b, delay, bytesPerSecond, buffer}, {b, a, delay, bytesPerSecond, buffer}};
  std::printf("ready\n");
  std::fflush(stdout);
  while (!stopRequested && Clock::now() < end) {
    Clock::time_point next = end;
    for (const Direction& d : directions) next = std::min(next, d.NextDue());
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now()).count();
    const long long waitNs = std::clamp<long long>(wait, 0, 100000000);
    const timespec timeout{static_cast<time_t>(waitNs / 1000000000), static_cast<long>(waitNs % 1000000000)};
    pollfd fds[] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    ppoll(fds, 2, &timeout, nullptr);
    for (Direction& d : directions) d.Read();
    const Clock::time_point now = Clock::now();
    for (Direction& d : directions) d.Deliver(now);
  }
  std::fprintf(stderr, "link_emulator: dropped %llu and %llu packets at the buffer\n", directions[0].dropped(),
               directions[1].dropped());
  return 0;
}
