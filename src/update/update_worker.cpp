#include "update/update_worker.h"

#include <cstdio>
#include <system_error>

#include "build_config.h"
#include "net/http_post.h"
#include "net/key_value_text.h"
#include "net/machine_identity.h"
#include "net/request_forms.h"
#include "platform/path.h"

namespace update {

namespace {

constexpr const char* kCommunicationFailed =
    "Communication with the server failed, please verify internet connection and try again";

constexpr int32_t kActionFileList = 11;
constexpr int32_t kActionRejected = 30;

}  // namespace

CUpdateVersionFiles::CUpdateVersionFiles(const WorkerConfig& config)
    : config_(config),
      app_(*config.app),
      platform_(config.app->Platform()),
      record_(*config.app->Platform().files) {}

CUpdateVersionFiles::~CUpdateVersionFiles() { Stop(); }

bool CUpdateVersionFiles::Start() {
  if (thread_.joinable()) return true;
  try {
    thread_ = std::thread([this] { ThreadMain(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void CUpdateVersionFiles::PostRun() { queue_.Post({app::WM_UPDATE_RUN, 0, 0}); }

void CUpdateVersionFiles::Hold() {
  std::lock_guard<std::mutex> lock(holdLock_);
  held_ = true;
}

void CUpdateVersionFiles::Resume() {
  {
    std::lock_guard<std::mutex> lock(holdLock_);
    held_ = false;
  }
  holdChanged_.notify_all();
}

void CUpdateVersionFiles::Stop() {
  Resume();
  queue_.Post({app::WM_UPDATE_QUIT, 0, 0});
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void CUpdateVersionFiles::ThreadMain() {
  platform_.system->LowerCurrentThreadPriority();
  RunUpdate();
  while (std::optional<platform::ThreadMessage> message = queue_.Wait()) {
    if (message->id == app::WM_UPDATE_QUIT) {
      queue_.Quit(0);
      break;
    }
    if (message->id == app::WM_UPDATE_RUN) RunUpdate();
  }
}

bool CUpdateVersionFiles::Cancelled() {
  std::unique_lock<std::mutex> lock(holdLock_);
  holdChanged_.wait(lock, [this] { return !held_; });
  return app_.stats.userExit.load();
}

void CUpdateVersionFiles::CallMovie(const char* function, const std::optional<std::string>& parameter) {
  if (app_.stats.userExit.load()) return;
  std::unique_ptr<std::string> functionCopy = function ? std::make_unique<std::string>(function) : nullptr;
  std::unique_ptr<std::string> parameterCopy = parameter ? std::make_unique<std::string>(*parameter) : nullptr;
  config_.dialog->SendMovieCall(std::move(functionCopy), std::move(parameterCopy));
}

void CUpdateVersionFiles::Status(const char* line) { Reports().StatisticsReport(line); }

std::string CUpdateVersionFiles::IdentityFields() {
  if (!platform_.identity) return "&h1=&h2=";
  return net::MachineIdentityFields(*platform_.identity);
}

void CUpdateVersionFiles::RunUpdate() {
  std::string reply;
  runResult_ = GetFileList(reply);
  if (runResult_ == 0 && !Cancelled()) {
    const int32_t actionCode = net::GetIntValue(reply, "~ac=");
    if (actionCode != kActionFileList) {
      runResult_ = 1;
      FailListActionCode(actionCode, reply);
    } else if (!FileListComplete(reply)) {
      runResult_ = static_cast<int32_t>(net::PostResult::ReceiveData);
      FailIncompleteList(reply);
    } else {
      RecordSessionData(reply);
      if (const ListCheck check = CheckListOf(reply); check.fault != ListFault::None) {
        runResult_ = 1;
        FailUnusableList(check, reply);
      } else {
        Reports().TrackingPixel(net::kPixelFileList);
        Reports().StatisticsReport("START");
        runResult_ = ApplyFileSet(reply);
      }
    }
  }
  if (!Cancelled()) app_.PostToMainThread(app::WM_APP_FILESET_DONE, static_cast<uintptr_t>(runResult_), 0);
}

int CUpdateVersionFiles::GetFileList(std::string& reply) {
  app_.SetStep(kStepFileList);
  CallMovie("Msg", "Connecting");

  net::FileListInput input;
  input.serial = app_.serial.str();
  {
    std::lock_guard<std::mutex> lock(app_.textLock);
    input.language = app_.language.str();
  }
  input.param1 = app_.param1.str();
  input.identity = IdentityFields();
  input.os = net::OsCode(*platform_.system);
  input.screen = net::ScreenCode(*platform_.system);
  input.flashInstalled = static_cast<unsigned>(config_.fli);
  input.flashVersion = static_cast<unsigned>(config_.flv);
  input.extraName = app_.serverAddress.extraName;
  input.extraValue = app_.serverAddress.extraValue;
  const std::string body = net::BuildFileListRequest(input);

  CallMovie("SetProgress", "0~0~0");
  const net::PostResult result =
      net::CommunicatePost(platform_, app_.appName.str(), app_.serverAddress, body, reply, kFileListReplyCapacity);
  if (result == net::PostResult::Ok) return 0;

  const int code = static_cast<int>(result);
  Reports().FinishReport(kFinalListTransport, false, {"rc=" + std::to_string(code), body});
  CallMovie("ErrorMsg", net::PostResultName(result));
  Reports().ErrorReport(kCommunicationFailed);
  return code;
}

void CUpdateVersionFiles::RecordSessionData(const std::string& reply) {
  const std::string pix1 = net::GetValue(reply, "~pix1=");
  const std::string pix2 = net::GetValue(reply, "~pix2=");
  {
    std::lock_guard<std::mutex> lock(app_.textLock);
    app_.serverSerial = net::GetValue(reply, "~sn=");
    if (!pix1.empty()) app_.webPixel1 = pix1;
    if (!pix2.empty()) app_.webPixel2 = pix2;
  }
  // Pixel pages on the product's own web domain are served by the pixel
  // servlet; pages anywhere else are loaded in the hidden web window.
  app_.useWebPixels = pix1.find(build_config::kWebDomain) == std::string::npos;
}

void CUpdateVersionFiles::FailListActionCode(int32_t actionCode, const std::string& reply) {
  Reports().FinishReport(kFinalListActionCode, false, {reply});
  Reports().ErrorReport(actionCode == kActionRejected
                            ? "Invalid action code returned from server while getting file list"
                            : "Unknown action code returned from server while getting file list");
}

// A list that was cut short is never applied as a smaller set: the client
// it would install is incomplete.
void CUpdateVersionFiles::FailIncompleteList(const std::string& reply) {
  Reports().FinishReport(kFinalListTransport, false, {std::string("rc=1 incomplete file list"), reply});
  CallMovie("ErrorMsg", net::PostResultName(net::PostResult::ReceiveData));
  Reports().ErrorReport(kCommunicationFailed, {net::ReportPair{"Reason", std::string("the file list was cut short")}});
}

// The list's walk cuts the reply it reads: the check walks a copy.
ListCheck CUpdateVersionFiles::CheckListOf(const std::string& reply) const {
  std::string copy = reply;
  return CheckFileList(ParseFileList(copy).entries, config_.runMode == kRunModeInstall);
}

// A complete list that cannot be applied: nothing of it is fetched, and the
// box says what is wrong with it rather than what a later step would trip
// over.
void CUpdateVersionFiles::FailUnusableList(const ListCheck& check, const std::string& reply) {
  const bool empty = check.fault == ListFault::NoFiles;
  const std::string reason = empty ? "the file list names no files to install" : "the file list names a file twice";
  Reports().FinishReport(kFinalListActionCode, false, {reason, reply});
  Reports().ErrorReport("The file list from the server cannot be installed",
                        {net::ReportPair{"Reason", reason},
                         net::ReportPair{"File", empty ? std::nullopt : std::optional<std::string>(check.name)}});
}

int CUpdateVersionFiles::CommunicateEndProcess() {
  net::EndProcessInput input;
  input.param1 = app_.param1.str();
  input.identity = IdentityFields();
  Status("STATUS: 06 CommunicateEndProcess: Before AddUpdaterData");
  input.version = record_.Version();
  const std::string body = net::BuildEndProcessRequest(input);
  Status("STATUS: 07 CommunicateEndProcess: Before CommunicatePost");

  std::string reply;
  const net::PostResult result =
      net::CommunicatePost(platform_, app_.appName.str(), app_.serverAddress, body, reply, kEndProcessReplyCapacity);
  if (result != net::PostResult::Ok) {
    const int code = static_cast<int>(result);
    Reports().FinishReport(kFinalEndProcessTransport, false, {std::to_string(code)});
    Reports().ErrorReport(kCommunicationFailed);
    return code;
  }
  const int32_t actionCode = net::GetIntValue(reply, "~ac=");
  if (actionCode == 15) {
    Status("STATUS: 08 CommunicateEndProcess: After CommunicatePost, ac=OK");
    return 0;
  }
  if (actionCode == kActionRejected) {
    Reports().FinishReport(kFinalEndProcessRejected, false, {body, reply});
    Reports().ErrorReport("Invalid action code returned from server while sending end process");
  } else {
    Reports().FinishReport(kFinalEndProcessUnknown, false, {body, reply});
    Reports().ErrorReport("Unknown action code returned from server while sending end process");
  }
  return 1;
}

}  // namespace update
