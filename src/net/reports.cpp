#include "net/reports.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "net/http_post.h"
#include "net/key_value_text.h"
#include "net/request_forms.h"

namespace net {

namespace {

constexpr std::string_view kPixelDirectory = "PixelServlet";

// Whole seconds since `stamp`, in the wrapping 32-bit tick arithmetic; 0
// when the stamp was never taken.
unsigned ElapsedSeconds(uint32_t now, uint32_t stamp) { return stamp == 0 ? 0 : (now - stamp) / 1000u; }

// `text` cut to the parameter width, with its full length noted.
std::optional<std::string> CutParameter(const std::optional<std::string>& text) {
  if (!text || text->size() <= kReportParameterWidth) return text;
  return text->substr(0, kReportParameterWidth) + "...[" + std::to_string(text->size()) + " bytes]";
}

}  // namespace

std::string ErrorBoxText(std::string_view detail, std::string_view errorDetail, const ReportPairs& pairs) {
  ReportPairs lines = pairs;
  if (!errorDetail.empty()) {
    lines = {ReportPair{"Cause", std::string(errorDetail)}, pairs[0], pairs[1], pairs[2]};
  }
  std::string text = "An error has occurred\nPlease contact technical support.\n\nDetalis: ";
  text += detail;
  for (const ReportPair& line : lines) {
    if (!line.value) continue;
    // Names and addresses come from the server: their control characters
    // never reach the terminal or the box.
    std::string value = *line.value;
    if (line.name != "Cause") {
      for (char& c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
      }
    }
    text += "\n" + line.name + ": " + value;
  }
  return text;
}

std::string SystemErrorText(platform::System& system, int code, size_t capacity) {
  // Code 0 is "no error": its text ("Success") would only mislead a report.
  if (code == 0 || capacity == 0) return {};
  std::string text = system.ErrorText(code);
  if (text.size() >= capacity) text.resize(capacity >= 2 ? capacity - 2 : 0);
  return text;
}

Reports::Reports(const platform::Platform& platform, ReportSession& session)
    : platform_(platform), session_(session) {}

Reports::~Reports() { WaitForReports(); }

void Reports::ErrorReport(std::string_view detail, const ReportPairs& pairs) {
  // The system's error when the step had one, otherwise what the transport
  // said of the exchange that failed.
  std::string cause = session_.ErrorDetail();
  if (cause.empty()) {
    std::lock_guard<std::mutex> lock(threadsLock_);
    cause = transportCause_;
  }
  std::string text = ErrorBoxText(detail, cause, pairs);
  platform::LogLine(platform_.log, "error box: " + text);
  if (platform_.log != nullptr && !platform_.log->Path().empty()) text += "\n\nSession log: " + platform_.log->Path();
  platform_.dialogs->ShowMessageBox(text, session_.CurrentFields().appName, platform::BoxStyle::Error);
}

void Reports::StatisticsReport(std::string_view txt, const std::optional<std::string>& lem,
                               const ReportParms& parms) {
  const ReportFields fields = session_.CurrentFields();
  const SessionStats& stats = session_.Stats();
  const uint32_t now = platform_.system->TickCount();

  StatisticsInput input;
  input.serverSerial = fields.serverSerial;
  input.os = OsCode(*platform_.system);
  input.screen = ScreenCode(*platform_.system);
  input.finalCode = static_cast<unsigned>(stats.finalCode.load());
  input.stepAtFinal = static_cast<unsigned>(stats.stepAtFinal.load());
  input.txt = std::string(txt);
  input.tDlg = ElapsedSeconds(now, stats.tDlg.load());
  input.tLang = ElapsedSeconds(now, stats.tLang.load());
  input.tDL = ElapsedSeconds(now, stats.tDL.load());
  input.eps = static_cast<unsigned>(stats.eps.load());
  input.kbs = stats.kbs.load();
  input.dlFileCount = static_cast<unsigned>(stats.dlFileCount.load());
  input.dlRetryCount = static_cast<unsigned>(stats.dlRetryCount.load());
  input.dlRetryFiles = static_cast<unsigned>(stats.dlRetryFiles.load());
  input.moduleVersion = fields.moduleVersion;
  input.sessionId = fields.sessionId;
  input.lem = lem;
  for (size_t i = 0; i < parms.size(); ++i) input.parms[i] = CutParameter(parms[i]);
  std::shared_ptr<std::string> form = CopyText(BuildStatisticsReport(input));

  // Each report has its own thread, but they reach the server in the order
  // they were made: a thread waits for its turn (the status lines of a run
  // read as a sequence).
  uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(threadsLock_);
    ticket = statisticsIssued_++;
  }
  StartReportThread([this, form, fields, ticket] {
    {
      std::unique_lock<std::mutex> lock(threadsLock_);
      threadsDone_.wait(lock, [&] { return statisticsSent_ == ticket; });
    }
    std::string reply;
    (void)CommunicatePost(platform_, fields.appName, fields.serverAddress, *form, reply, kStatisticsReplyCapacity);
    std::lock_guard<std::mutex> lock(threadsLock_);
    ++statisticsSent_;
    threadsDone_.notify_all();
  });
}

void Reports::TrackingPixel(unsigned code) {
  const ReportFields fields = session_.CurrentFields();
  if (fields.useWebPixels && webPixelSender_) {
    StartReportThread([this, code] { webPixelSender_(code); });
    return;
  }
  TrackingPixelInput input;
  input.affiliateSub = fields.affiliateSub;
  input.eventCode = code;
  input.affiliate = fields.affiliate;
  input.sessionId = fields.sessionId;
  input.language = fields.language;
  input.serverSerial = fields.serverSerial;
  input.serial = fields.serial;
  std::shared_ptr<std::string> argument = CopyText(BuildPixelThreadArgument(BuildTrackingPixelForm(input), code));
  StartReportThread([this, argument, fields] { SendPixel(*argument, fields); });
}

// The pixel thread: its argument carries the form and the event code.
void Reports::SendPixel(const std::string& argument, const ReportFields& fields) {
  const std::string body = GetValue(argument, "~pix1=");
  const int32_t code = GetIntValue(argument, "~prm1=");
  {
    std::lock_guard<std::mutex> lock(session_.ReportLock());
    std::string reply;
    PostTarget target;
    target.agent = fields.appName;
    target.host = fields.pixelHost;
    target.directory = std::string(kPixelDirectory);
    target.port = fields.pixelPort;
    target.secure = IsSecurePort(fields.pixelPort);
    // The pixel host is often the update server itself: when that server
    // is silent the pixel gets its short bound too.
    if (ServerSilent(fields.serverAddress) && fields.serverAddress.host == fields.pixelHost &&
        fields.serverAddress.port == fields.pixelPort) {
      target.timeouts = kSilentServerTimeouts;
    }
    (void)PostForm(platform_, target, body, reply, kPixelReplyCapacity);
  }
  if (code == static_cast<int32_t>(kPixelSuccess) || code == static_cast<int32_t>(kPixelFailure)) {
    session_.PostReportDone();
  }
}

bool Reports::FinishReport(int32_t code, bool withSystemError, const ReportParms& parms) {
  // Taken before anything else can change the thread's last error.
  const int lastError = platform_.system->LastErrorCode();
  const std::string transportCause = LastTransportFailure();
  if (!session_.Stats().TrySetFinalCode(code)) return false;
  {
    std::lock_guard<std::mutex> lock(threadsLock_);
    transportCause_ = transportCause;
  }
  platform::LogLine(platform_.log, "final code " + std::to_string(code) + " at step " +
                                       std::to_string(session_.Stats().stepAtFinal.load()));
  const std::string detail = withSystemError ? SystemErrorText(*platform_.system, lastError, kErrorDetailWidth) : std::string();
  session_.SetErrorDetail(detail);
  TrackingPixel(code == kFinalSuccess ? kPixelSuccess : kPixelFailure);
  StatisticsReport("FINISH", detail.empty() ? std::nullopt : std::optional<std::string>(detail), parms);
  return true;
}

void Reports::SetWebPixelSender(std::function<void(unsigned code)> sender) { webPixelSender_ = std::move(sender); }

void Reports::StartReportThread(std::function<void()> work) {
  std::unique_lock<std::mutex> lock(threadsLock_);
  ++running_;
  auto run = [this, work = std::move(work)] {
    work();
    std::lock_guard<std::mutex> lock(threadsLock_);
    --running_;
    finishedThreads_.push_back(std::this_thread::get_id());
    threadsDone_.notify_all();
    // Under the lock: whoever sees the count reach 0 and ends the program
    // finds this thread done with the loop.
    session_.Loop().Wake();
  };
  try {
    threads_.emplace_back(run);
  } catch (const std::system_error&) {
    // No thread to be had: send on the calling thread rather than lose the
    // report (the closing pixel completes the quit handshake).
    lock.unlock();
    run();
    return;
  }
  // Threads that have ended are joined as new ones start, so that a long
  // session does not collect them; they only have their return left.
  std::vector<std::thread> ended = TakeFinishedThreads();
  lock.unlock();
  for (std::thread& thread : ended) thread.join();
}

std::vector<std::thread> Reports::TakeFinishedThreads() {
  std::vector<std::thread> ended;
  for (auto it = threads_.begin(); it != threads_.end();) {
    if (std::find(finishedThreads_.begin(), finishedThreads_.end(), it->get_id()) != finishedThreads_.end()) {
      finishedThreads_.erase(std::find(finishedThreads_.begin(), finishedThreads_.end(), it->get_id()));
      ended.push_back(std::move(*it));
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
  return ended;
}

void Reports::AwaitReportsInLoop() {
  session_.Loop().WaitUntil([this] { return PendingReports() == 0; });
  WaitForReports();
}

void Reports::WaitForReports() {
  std::vector<std::thread> ended;
  {
    std::unique_lock<std::mutex> lock(threadsLock_);
    threadsDone_.wait(lock, [this] { return running_ == 0; });
    ended = std::move(threads_);
    threads_.clear();
    finishedThreads_.clear();
  }
  for (std::thread& thread : ended) thread.join();
}

int Reports::PendingReports() const {
  std::lock_guard<std::mutex> lock(threadsLock_);
  return running_;
}

}  // namespace net
