// The application object: the one shared store of an installer run (stamped
// values, derived names, install folder, server address, session id, error
// detail, statistics) and the handler of the main thread's application
// messages. Exactly one exists per process, on the main thread; other
// threads are handed it and post messages instead of calling its handlers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/fixed_text.h"
#include "app/install_location.h"
#include "app/messages.h"
#include "net/session_stats.h"
#include "app/start_up.h"
#include "net/reports.h"
#include "net/server_address.h"
#include "platform/message_queue.h"
#include "platform/platform.h"

namespace app {

// The session's statistics belong to the reports that send them.
using net::SessionStats;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// What the application's handlers ask of the running installer dialog. The
// dialog implements it; calls come on the main thread.
class InstallerDialogPort {
 public:
  virtual ~InstallerDialogPort() = default;
  // Calls a movie function: the "funcName" variable, the "funcParm"
  // variable when a parameter is given (otherwise it keeps its value), then
  // the label call on `label`.
  virtual void AnswerMovie(const std::string& label, const std::string& funcName,
                           const std::optional<std::string>& parm) = 0;
  // Posts the dialog its close message (askFirst 1 = ask the user first).
  virtual void PostCloseDialog(uintptr_t askFirst) = 0;
  // Closes the dialog at once, without a question (the synchronous close at
  // the end of the finishing steps).
  virtual void CloseDialogNow() = 0;
  // Ends the dialog's modal loop with `result`.
  virtual void EndModal(int result) = 0;
};

// The installation steps the handlers start: removal of a half-made
// installation and the finishing of a complete one.
class InstallationActions {
 public:
  virtual ~InstallationActions() = default;
  virtual void RemoveInstallation(const std::string& folder, const std::string& appName) = 0;
  virtual void FinishInstallation() = 0;
};

// Step codes set by the application itself.
inline constexpr int32_t kStepInitDialog = 10;
inline constexpr int32_t kStepLicence = 70;
inline constexpr int32_t kStepFinished = 100;

// The operator's endpoints the program is built with. A program built for
// an operator keeps the defaults; a test may point them at its own server.
struct BuiltInEndpoints {
  std::string secureHost;
  int32_t securePort = 0;
  std::string helpUrl;

  static BuiltInEndpoints FromBuild();
};

class CInstallerApp : public net::ReportSession {
 public:
  // `platform` is not owned and must outlive the object.
  explicit CInstallerApp(const platform::Platform& platform,
                         const BuiltInEndpoints& endpoints = BuiltInEndpoints::FromBuild());
  // Waits for the report threads still sending.
  ~CInstallerApp() override;
  CInstallerApp(const CInstallerApp&) = delete;
  CInstallerApp& operator=(const CInstallerApp&) = delete;

  // Start-up: takes the start-up values, takes away a stale registration,
  // and runs either the reinstall/play dialog (a complete installation is
  // present) or a fresh installation. Returns when the last dialog has
  // ended; how the session went is in the statistics' final code. `steps`
  // is not owned and must outlive the call. Main thread.
  void InitInstance(StartupSteps& steps);
  // A fresh installation: the earlier one is taken away (keeping the user
  // name when keepUserName is set), then the player check and the installer
  // dialog. Also the reinstall choice of the reinstall/play dialog.
  void StartFreshInstall();

  // Start-up values: copies the stamped values into their fields, sets the
  // built-in host and help address, derives the launcher file name and the
  // registry key, forms the session id and the module version.
  void TakeStartupValues();

  // Looks for a registered installation. Registered: installDir = its
  // folder, `proposal` empty, returns false. None: installDir = the
  // program-files folder and the application's name, `proposal` =
  // "<appName>~<installDir>", returns true. Main thread.
  bool FindInstallation(std::string& proposal);
  // Makes `folder` the install folder, empty and current, with its "cfg"
  // sub-folder. An existing folder is emptied only when it is empty already
  // or holds an earlier installation of this application; a folder holding
  // anything else is left as it is and the installation goes into a
  // sub-folder named after the application. Returns ForeignFiles, having
  // changed nothing, when that sub-folder too holds foreign files, and
  // NotCreatable when the folder cannot be made or marked (removeOnFailure
  // is then set, installDir holds the folder), and RegistryUnreadable,
  // having changed nothing, when the last FindInstallation could not read
  // the registry store and the folder is not empty. The folder carries the
  // incomplete-installation marker from the first write on. Main thread.
  PrepareResult PrepareInstallDir(const std::string& folder);

  // stats.step = code, unless the final code is already set.
  void SetStep(int32_t code);
  // Clears the statistics for a new installer run; stepAtFinal stays.
  void ResetSessionStats();
  // Queues an application message for the main thread; any thread. False
  // when the main loop has already ended.
  bool PostToMainThread(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
  // The session id: computer name, "_", the time (file-time count when
  // `useFileTime`, else the local date and time), "_", three random digits.
  std::string MakeSessionId(bool useFileTime);
  // Background colour of the movie dialogs for this application name.
  Rgb BrandBackgroundColor() const;

  // Handles one application message; false for a message that is not one
  // of the main thread's. Main thread only.
  bool DispatchThreadMessage(const platform::ThreadMessage& message);
  void OnBrowseFolder();
  void OnFilesetDone(uintptr_t result);
  void OnFinishInstall();
  void OnReportDone();
  void OnDialogClosed();

  // The session's reports (error box, statistics, pixels, final result).
  net::Reports& Reports() { return *reports_; }

  // net::ReportSession: what the reports read, from any thread.
  net::ReportFields CurrentFields() override;
  SessionStats& Stats() override { return stats; }
  std::string ErrorDetail() override;
  void SetErrorDetail(const std::string& text) override;
  std::mutex& ReportLock() override { return reportLock; }
  void PostReportDone() override { PostToMainThread(WM_APP_REPORT_DONE); }

  // The dialog currently running (not owned); null when none.
  void SetDialog(InstallerDialogPort* dialog) { dialog_ = dialog; }
  InstallerDialogPort* Dialog() const { return dialog_; }
  void SetActions(InstallationActions* actions) { actions_ = actions; }
  platform::MainLoop& Loop() override { return *mainLoop_; }
  const platform::Platform& Platform() const { return platform_; }

  // Fields of the session (see the class comment); written directly by the
  // steps that own them. The texts that another thread may read while they
  // change (serverSerial, language, webPixel1, webPixel2) are written and
  // read holding `textLock`.
  bool reportDone = false;
  bool dialogClosed = false;
  SessionStats stats;
  std::atomic<bool> removeOnFailure{false};
  FixedText<260> installDir;
  std::mutex reportLock;  // serialises the tracking-pixel exchanges
  std::mutex textLock;
  FixedText<41> serverSerial;
  FixedText<41> serial;
  FixedText<31> appName;
  FixedText<31> launcherFile;
  FixedText<101> affiliate;
  FixedText<260> appRegKey;
  FixedText<41> affiliateSub;
  FixedText<31> clientPrefix;
  FixedText<264> language;
  FixedText<101> param1;
  FixedText<31> moduleVersion;
  FixedText<101> sessionId;
  FixedText<101> serverHost;
  FixedText<101> helpUrl;
  int32_t serverPort = 0;  // port of the built-in secure host
  int32_t flashInstalled = 0;
  int32_t flashVersion = 0;
  bool keepUserName = false;
  net::ServerAddress serverAddress;
  FixedText<260> webPixel1;
  FixedText<260> webPixel2;
  std::atomic<bool> useWebPixels{false};

 private:
  void QuitHandshakeStep();

  platform::Platform platform_;
  BuiltInEndpoints endpoints_;
  platform::QueueMainLoop ownLoop_;  // used when the platform brings none
  platform::MainLoop* mainLoop_;
  mutable std::mutex errorDetailLock_;
  FixedText<net::kErrorDetailWidth> errorDetail_;  // system error text of the failure
  std::unique_ptr<net::Reports> reports_;
  InstallerDialogPort* dialog_ = nullptr;
  StartupSteps* steps_ = nullptr;
  InstallationActions* actions_ = nullptr;
  // The last FindInstallation could not read the registry store.
  bool registryUnreadable_ = false;
};

// The install folder picked in the folder picker, made to hold the
// application's name: unchanged when it contains `appName` (any letter
// case), else `appName` appended after one separator.
std::string ApplyBrowseRule(const std::string& chosen, const std::string& appName);

// Build date and time of the program, "Mmm dd yyyy_hh:mm:ss".
std::string BuildStamp();

}  // namespace app
