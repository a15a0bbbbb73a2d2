// html_bench: the HTML player's side of `make bench`.
//
//   html_bench MOVIE ROUNDS
//       Shows MOVIE (the reference installer movie) in the HTML player and
//       measures the time from the start of the process to its "InitDialog",
//       which the movie raises once its first page has been painted; then,
//       in a page of its own, ROUNDS protocol round trips: SetVariable
//       "funcName", SetVariable "funcParm", TCallLabel "_root" "Data", and
//       the page's answer by FSCommand. Prints "first_paint_ms=<ms>
//       roundtrip_median_ms=<ms> roundtrip_p99_ms=<ms>".
// Needs a display (run_bench.sh gives it one under xvfb-run). Exit code 0,
// 1 when the player cannot run, 2 on a bad command line.
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

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
  std::printf("first_paint_ms=%.1f roundtrip_median_ms=%.3f roundtrip_p99_ms=%.3f\n", firstPaint, median, p99);
  return 0;
}
