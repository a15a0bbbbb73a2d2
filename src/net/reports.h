// How the installer tells the operator and the user how a session went: the
// error box, the statistics report to the update server, the tracking pixel
// to the pixel servlet, and the set-once final result that sends the closing
// pixel and the "FINISH" report.
//
// Reports are fire-and-forget: each form is built on the calling thread, so
// it carries the statistics of that moment, then sent on a short-lived
// thread of its own; nobody reads the server's reply. The closing pixel
// (event 20 or 21) posts the first half of the quit handshake when it has
// been sent, whether or not the host answered. Statistics reports reach the
// server in the order they were made. The threads are counted, and
// the process waits for them before it ends (WaitForReports), so that no
// report, above all the closing one, is lost to the exit.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>
#include <optional>
#include <string>
#include <string_view>

#include "net/final_codes.h"
#include "net/session_stats.h"
#include "net/server_address.h"
#include "platform/platform.h"

namespace net {

// One labelled line of the error box; an absent value skips the line, an
// empty one still prints "name: ".
struct ReportPair {
  std::string name;
  std::optional<std::string> value;
};
using ReportPairs = std::array<ReportPair, 4>;
using ReportParms = std::array<std::optional<std::string>, 4>;

// Event codes of the tracking pixel.
inline constexpr unsigned kPixelFileList = 1;  // after a good file list
inline constexpr unsigned kPixelSuccess = 20;  // the session ended with final code 100
inline constexpr unsigned kPixelFailure = 21;  // any other end

// Buffer sizes of the exchanges (replies are read and discarded).
inline constexpr size_t kStatisticsReplyCapacity = 1000;
inline constexpr size_t kPixelReplyCapacity = 10000;
inline constexpr size_t kErrorDetailWidth = 1000;
// A report parameter longer than this (a whole reply, say) is sent as its
// first kReportParameterWidth bytes and a note of its full length: the
// operator sees what went wrong without the report carrying megabytes.
inline constexpr size_t kReportParameterWidth = 1000;

// Session values the reports read, copied when a report is built.
struct ReportFields {
  std::string appName;       // user agent, box caption
  std::string serverSerial;  // "sn" of the statistics and pixel forms
  std::string serial;        // "msn" of the pixel
  std::string affiliate;
  std::string affiliateSub;
  std::string language;
  std::string moduleVersion;
  std::string sessionId;
  std::string pixelHost;     // the built-in secure host
  int pixelPort = 0;
  ServerAddress serverAddress;
  bool useWebPixels = false;
};

// What the reports need of the application object, which implements it.
// Every call may come from any thread.
class ReportSession {
 public:
  virtual ~ReportSession() = default;
  virtual ReportFields CurrentFields() = 0;
  virtual SessionStats& Stats() = 0;
  // The system error text of the failure that ended the session; empty
  // when there is none.
  virtual std::string ErrorDetail() = 0;
  virtual void SetErrorDetail(const std::string& text) = 0;
  // Serialises the tracking-pixel exchanges (shared with the web pixels).
  virtual std::mutex& ReportLock() = 0;
  // Posts the first half of the quit handshake to the main thread.
  virtual void PostReportDone() = 0;
  // The main thread's loop, woken when a report thread ends.
  virtual platform::MainLoop& Loop() = 0;
};

// The error box text: the fixed heading, the detail, then one line per pair
// with a value. With a non-empty `errorDetail` the first line is "Cause"
// with it, the given pairs move down one place and the fourth is dropped.
std::string ErrorBoxText(std::string_view detail, std::string_view errorDetail, const ReportPairs& pairs);

// The system's text for `code`, cut to fit a field of `capacity` bytes
// (capacity - 2 characters when it does not fit whole). Empty for code 0
// and when the system has no text.
std::string SystemErrorText(platform::System& system, int code, size_t capacity);

class Reports {
 public:
  // Neither argument is owned; both must outlive this object.
  Reports(const platform::Platform& platform, ReportSession& session);
  // Waits for the report threads still sending.
  ~Reports();
  Reports(const Reports&) = delete;
  Reports& operator=(const Reports&) = delete;

  // Shows the modal error box and blocks until the user closes it. Its
  // "Cause" line is the system's error of the failed step, or else what
  // the transport said of the exchange that ended the session; its last
  // line names the session log. Any thread.
  void ErrorReport(std::string_view detail, const ReportPairs& pairs = {});
  // Sends the statistics form with event text `txt`; `lem` and the
  // parameters only when given, each parameter cut to
  // kReportParameterWidth. Returns at once.
  void StatisticsReport(std::string_view txt, const std::optional<std::string>& lem = std::nullopt,
                        const ReportParms& parms = {});
  // Sends the tracking pixel for event `code`; for 20 and 21 the main
  // thread is told when it has been sent. Returns at once.
  void TrackingPixel(unsigned code);
  // Records `code` as the session's final result unless one is recorded
  // already (then nothing is sent), with the system's text of the calling
  // thread's last error as the detail when `withSystemError`; sends the
  // closing pixel and the "FINISH" report. True when this call recorded the
  // result. Returns at once.
  bool FinishReport(int32_t code, bool withSystemError, const ReportParms& parms = {});

  // The web-pixel path: when the server named foreign pixel pages, the
  // pixel goes through this sender instead of the pixel servlet. It runs
  // on a report thread and must tell the main thread itself for 20 and 21.
  void SetWebPixelSender(std::function<void(unsigned code)> sender);

  // Main thread, at the end of the program: keeps the main loop running
  // until every report thread has ended, then as WaitForReports. Each
  // thread is bounded by the network time-outs (a web pixel page by its
  // own bound).
  void AwaitReportsInLoop();
  // Blocks until every report thread has ended and has been joined. Each
  // is bounded by the network time-outs.
  void WaitForReports();
  // Report threads still running.
  int PendingReports() const;

 private:
  void StartReportThread(std::function<void()> work);
  // Moves out the threads whose work has ended. threadsLock_ held.
  std::vector<std::thread> TakeFinishedThreads();
  void SendPixel(const std::string& argument, const ReportFields& fields);

  platform::Platform platform_;
  ReportSession& session_;
  std::function<void(unsigned)> webPixelSender_;
  mutable std::mutex threadsLock_;
  std::condition_variable threadsDone_;
  int running_ = 0;
  std::vector<std::thread> threads_;             // started and not yet joined
  std::vector<std::thread::id> finishedThreads_;  // ended their work, to be joined
  uint64_t statisticsIssued_ = 0;  // tickets of the statistics reports, in order made
  uint64_t statisticsSent_ = 0;    // the ticket whose turn it is
  std::string transportCause_;     // of the exchange that ended the session; threadsLock_
};

}  // namespace net
