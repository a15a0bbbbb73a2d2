// html_bench: the HTML player's side of `make bench`.
//
//   html_bench MOVIE ROUNDS
//       Shows MOVIE (the reference installer movie) in the HTML player and
//       measures the time from the start of the process to its "InitDialog",
//       which the movie raises once its first page has been painted; then,
//       in a page of its own, ROUNDS protocol round trips: SetVariable
//       "funcName", SetVariable "funcParm", TCallLabel "_root" "Data", and
//       the page's answer by FSCommand; then what the movie's progress page
//       costs: the CPU time of this process and the engine's processes
//       while the installer movie shows 4 progress calls a second (as the
//       update worker sends them), less the same time with no calls, per
//       call. Prints "first_paint_ms=<ms> roundtrip_median_ms=<ms>
//       roundtrip_p99_ms=<ms> progress_cpu_ms=<ms per call>".
// Needs a display (run_bench.sh gives it one under xvfb-run). Exit code 0,
// 1 when the player cannot run, 2 on a bad command line.
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/gtk/gtk_main_loop.h"
#include "platform/gtk/gtk_window.h"
#include "platform/gtk/html_player.h"
#include "platform/gtk/web_engine.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kStart = Clock::now();

constexpr const char* kPingMovie =
    "<html><body data-page=ping><script>"
    "movieHost.onLabel = function (target, label) {"
    "  if (label === 'Data') movieHost.fsCommand('Pong', movieHost.getVariable('funcParm'));"
    "};"
    "movieHost.fsCommand('Ready', '');"
    "</script></body></html>";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// CPU time (user and system, ms) of process `pid` and every process below it.
double TreeCpuMs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  double ms = (utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream children(task.path() / "children");
    for (pid_t child; children >> child;) ms += TreeCpuMs(child);
  }
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: html_bench MOVIE ROUNDS\n");
    return 2;
  }
  const int rounds = std::max(1, std::atoi(argv[2]));
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "html_bench: no display\n");
    return 1;
  }
  platform::GtkMainLoop loop;
  platform::WebEngine engine({});
  platform::GtkWindowFactory windows;
  platform::HtmlMovieHost host(engine, loop);
  const auto dispatch = [](const platform::ThreadMessage& message) { platform::RunIfTask(message); };

  // 1. First paint of the installer movie.
  std::string last;
  std::string lastArgs;
  const auto sink = [&](const std::string& command, const std::string& args) {
    last = command;
    lastArgs = args;
  };
  std::unique_ptr<platform::DialogWindow> window = windows.CreateDialogWindow(102, true);
  window->SetBackground({75, 70, 43});
  std::unique_ptr<platform::MovieControl> control = host.CreateControl(*window, 102, true, sink);
  control->SetSize(640, 480);
  window->FitClient(640, 480);
  control->SetMovie(argv[1]);
  if (!loop.RunUntil([&] { return last == "InitDialog" || last == "Error"; }, dispatch) || last != "InitDialog") {
    std::fprintf(stderr, "html_bench: the installer movie did not start\n");
    return 1;
  }
  const double firstPaint = Ms(Clock::now() - kStart);

  // 2. Round trips in a page of their own.
  const std::string ping = (std::filesystem::temp_directory_path() / "html_bench_ping.html").string();
  std::ofstream(ping) << kPingMovie;
  last.clear();
  control->SetMovie(ping);
  loop.RunUntil([&] { return last == "Ready"; }, dispatch);
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    const std::string token = std::to_string(i);
    last.clear();
    const auto sent = Clock::now();
    control->SetVariable("funcName", "Ping");
    control->SetVariable("funcParm", token);
    control->TCallLabel("_root", "Data");
    loop.RunUntil([&] { return last == "Pong" && lastArgs == token; }, dispatch);
    times.push_back(Ms(Clock::now() - sent));
  }
  std::filesystem::remove(ping);
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  const double p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];

  // 3. The progress page: the CPU of the calls, over that of the page left alone.
  last.clear();
  control->SetMovie(argv[1]);
  loop.RunUntil([&] { return last == "InitDialog"; }, dispatch);
  const auto call = [&](const char* name, const std::string& parm) {
    control->SetVariable("funcName", name);
    control->SetVariable("funcParm", parm);
    control->TCallLabel("_root", "Data");
  };
  call("Performing", "Install");
  call("SetFileName", "data/world.pak");
  constexpr int kCalls = 40;
  constexpr auto kEvery = std::chrono::milliseconds(250);
  const auto pace = [&](bool calls) {
    const double before = TreeCpuMs(getpid());
    for (int i = 0; i < kCalls; ++i) {
      const auto due = Clock::now() + kEvery;
      if (calls) {
        const int mb = 8 * i + 1;
        call("SetProgress", std::to_string(mb) + " MB~512 MB~" + std::to_string(30 + i % 7) + "." +
                                std::to_string(i % 10) + " MB/s~" + std::to_string(mb / 512.0) + "~" +
                                std::to_string(mb / 1024.0));
      }
      g_timeout_add(kEvery.count(), [](gpointer) { return gboolean(G_SOURCE_REMOVE); }, nullptr);  // wakes the loop
      loop.RunUntil([&] { return Clock::now() >= due; }, dispatch);
    }
    return TreeCpuMs(getpid()) - before;
  };
  pace(false);  // the page's first paint and the engine's start-up settle
  const double idle = pace(false);
  const double busy = pace(true);
  std::printf("first_paint_ms=%.1f roundtrip_median_ms=%.3f roundtrip_p99_ms=%.3f progress_cpu_ms=%.2f\n", firstPaint,
              median, p99, std::max(0.0, busy - idle) / kCalls);
  return 0;
}
