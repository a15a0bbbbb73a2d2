#include "app/installer_app.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>

#include "app/stamped_parameters.h"
#include "build_config.h"
#include "platform/path.h"

namespace app {

namespace {

CInstallerApp* theApp = nullptr;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  auto it = std::search(text.begin(), text.end(), part.begin(), part.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
  return it != text.end();
}

}  // namespace

BuiltInEndpoints BuiltInEndpoints::FromBuild() {
  return {build_config::kSecureHost, build_config::kSecurePort, build_config::kHelpUrl};
}

CInstallerApp::CInstallerApp(const platform::Platform& platform, const BuiltInEndpoints& endpoints)
    : platform_(platform),
      endpoints_(endpoints),
      mainLoop_(platform.mainLoop ? platform.mainLoop : &ownLoop_),
      reports_(std::make_unique<net::Reports>(platform_, *this)) {
  theApp = this;
}

CInstallerApp::~CInstallerApp() {
  reports_.reset();  // waits for the report threads, which read this object
  if (theApp == this) theApp = nullptr;
}

net::ReportFields CInstallerApp::CurrentFields() {
  net::ReportFields fields;
  fields.appName = appName.str();
  fields.serial = serial.str();
  fields.affiliate = affiliate.str();
  fields.affiliateSub = affiliateSub.str();
  fields.moduleVersion = moduleVersion.str();
  fields.sessionId = sessionId.str();
  fields.pixelHost = serverHost.str();
  fields.pixelPort = serverPort;
  fields.serverAddress = serverAddress;
  fields.useWebPixels = useWebPixels.load();
  std::lock_guard<std::mutex> lock(textLock);
  fields.serverSerial = serverSerial.str();
  fields.language = language.str();
  return fields;
}

std::string CInstallerApp::ErrorDetail() {
  std::lock_guard<std::mutex> lock(errorDetailLock_);
  return errorDetail_.str();
}

void CInstallerApp::SetErrorDetail(const std::string& text) {
  std::lock_guard<std::mutex> lock(errorDetailLock_);
  errorDetail_ = text;
}

CInstallerApp& TheApp() { return *theApp; }

void CInstallerApp::TakeStartupValues() {
  removeOnFailure = false;
  serial = ReadStampedValue(StampedSlot::Serial);
  appName = ReadStampedValue(StampedSlot::AName);
  launcherFile = ReadStampedValue(StampedSlot::EName);
  affiliate = ReadStampedValue(StampedSlot::Affiliate);
  affiliateSub = ReadStampedValue(StampedSlot::AffiliateSub);
  param1 = ReadStampedValue(StampedSlot::Param1);
  serverHost = endpoints_.secureHost;
  serverPort = endpoints_.securePort;
  helpUrl = endpoints_.helpUrl;
  clientPrefix = launcherFile.str();
  launcherFile.Append(".exe");
  appRegKey = "Software\\" + appName.str();
  sessionId = MakeSessionId(true);
  moduleVersion = BuildStamp();
}

void CInstallerApp::SetStep(int32_t code) {
  if (stats.finalCode.load() == 0) stats.step.store(code);
}

void CInstallerApp::ResetSessionStats() {
  stats.kbs = 0.0;
  stats.step = 0;
  stats.finalCode = 0;
  stats.userExit = false;
  stats.eps = 0;
  stats.dlFileCount = 0;
  stats.dlRetryCount = 0;
  stats.dlRetryFiles = 0;
  stats.tDlg = 0;
  stats.tLang = 0;
  stats.tDL = 0;
}

bool CInstallerApp::PostToMainThread(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return mainLoop_->Post({message, wParam, lParam});
}

std::string CInstallerApp::MakeSessionId(bool useFileTime) {
  std::string id = platform_.system->ComputerName().substr(0, 99);
  const uint64_t fileTime = platform_.system->SystemTimeAsFileTime();
  const uint64_t seconds = platform::UnixSecondsFromFileTime(fileTime);
  std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(seconds));
  const unsigned r = std::uniform_int_distribution<unsigned>(0, 32767)(generator);
  char part[64];
  if (useFileTime) {
    std::snprintf(part, sizeof part, "_%llu", static_cast<unsigned long long>(fileTime));
  } else {
    const platform::LocalTime t = platform_.system->GetLocalTime();
    std::snprintf(part, sizeof part, "_%04u-%02u-%02u_%02u:%02u:%02u.%03u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.millisecond);
  }
  id += part;
  std::snprintf(part, sizeof part, "_%03u", r % 1000);
  id += part;
  return id;
}

Rgb CInstallerApp::BrandBackgroundColor() const {
  const std::string_view name = appName;
  if (EqualsNoCase(name, "Ostravelin")) return {0, 8, 72};
  if (EqualsNoCase(name, "quorix") || EqualsNoCase(name, "Plenvarico")) return {75, 70, 43};
  if (EqualsNoCase(name, "Trivosalen")) return {50, 75, 69};
  return {204, 204, 204};
}

bool CInstallerApp::DispatchThreadMessage(const platform::ThreadMessage& message) {
  switch (message.id) {
    case WM_APP_BROWSE_FOLDER:
      OnBrowseFolder();
      return true;
    case WM_APP_FILESET_DONE:
      OnFilesetDone(message.wParam);
      return true;
    case WM_APP_FINISH_INSTALL:
      OnFinishInstall();
      return true;
    case WM_APP_REPORT_DONE:
      OnReportDone();
      return true;
    case WM_APP_DIALOG_CLOSED:
      OnDialogClosed();
      return true;
    default:
      return false;
  }
}

void CInstallerApp::OnBrowseFolder() {
  const std::optional<std::string> chosen = platform_.dialogs->BrowseForFolder("Select a directory");
  if (!chosen || chosen->empty()) return;
  installDir = ApplyBrowseRule(*chosen, appName.str());
  if (dialog_) dialog_->AnswerMovie("Data", "SetDirectory", installDir.str());
}

void CInstallerApp::OnFilesetDone(uintptr_t result) {
  if (result == 0) {
    SetStep(kStepLicence);
    if (dialog_) dialog_->AnswerMovie("Data", "SetLA", std::nullopt);
    return;
  }
  // The sender has already recorded the final code and sent the reports.
  if (removeOnFailure && actions_) actions_->RemoveInstallation(installDir.str(), appName.str());
  if (dialog_) dialog_->PostCloseDialog(0);
}

void CInstallerApp::OnFinishInstall() {
  if (actions_) actions_->FinishInstallation();
}

void CInstallerApp::OnReportDone() {
  const bool other = dialogClosed;
  reportDone = true;
  if (other) QuitHandshakeStep();
}

void CInstallerApp::OnDialogClosed() {
  const bool other = reportDone;
  dialogClosed = true;
  if (other) QuitHandshakeStep();
}

// Both halves have arrived: the closing pixel is sent and the dialog has
// stopped the worker, so the run may end.
void CInstallerApp::QuitHandshakeStep() {
  if (dialog_) dialog_->EndModal(0);
  mainLoop_->Quit(0);
}

std::string ApplyBrowseRule(const std::string& chosen, const std::string& appName) {
  if (ContainsNoCase(chosen, appName)) return chosen;
  std::string path = chosen;
  if (!platform::EndsWithSeparator(path)) path.push_back(platform::PathSeparator());
  return path + appName;
}

std::string BuildStamp() { return std::string(__DATE__) + "_" + __TIME__; }

}  // namespace app
