// The installer dialog: the only window of an installation. The movie fills
// it; the dialog carries out the commands the movie raises, answers the
// movie, relays the update worker's movie calls and ends the session when
// the movie or the user asks for it.
#pragma once

#include <memory>
#include <string>

#include "app/installer_app.h"
#include "net/final_codes.h"
#include "net/session_start.h"
#include "ui/movie_dialog.h"
#include "update/movie_call_channel.h"
#include "update/update_worker.h"

namespace ui {

// Final codes the dialog sets (net/final_codes.h).
using net::kFinalDeclined;
using net::kFinalInstallFolder;
using net::kFinalMovieError;
using net::kFinalNoDataFromServer;
using net::kFinalSessionStart;
using net::kFinalUserExit;

inline constexpr int kInstallerTemplate = 102;
inline constexpr int kInstallerMovieControl = 102;
inline constexpr size_t kInstallFolderWidth = 259;

class CInstallerDlg : public MovieDialog, public app::InstallerDialogPort {
 public:
  explicit CInstallerDlg(app::CInstallerApp& app);
  ~CInstallerDlg() override;

  // Runs the dialog modally on the main thread with run mode `runMode`;
  // returns the modal result, or -1 when the session could not start (the
  // failure has been reported; the program ends).
  int RunModal(int runMode);

  // The movie's commands (the control's FSCommand event). Main thread.
  void OnMovieCommand(const std::string& command, const std::string& args);
  // A movie call of the worker, relayed unless the user has left.
  void OnMovieCall(const std::string* name, const std::string* parm);
  // A close request of kind app::kCloseNow, kCloseAskFirst (shows "Are you
  // sure you want to exit?" first) or kCloseLeave (leaves at once; the
  // session ends as the user's exit, the half-made installation goes).
  void OnCloseRequest(uintptr_t kind);

  // app::InstallerDialogPort
  void AnswerMovie(const std::string& label, const std::string& funcName,
                   const std::optional<std::string>& parm) override;
  void PostCloseDialog(uintptr_t askFirst) override;
  void CloseDialogNow() override { OnCloseRequest(app::kCloseNow); }
  void EndModal(int result) override { EndModalLoop(result); }

  update::CUpdateVersionFiles* Worker() { return worker_.get(); }

 protected:
  bool OnDialogMessage(const platform::ThreadMessage& message) override;

 private:
  bool StartSession();
  bool FailSession(const std::string& message, const std::string& body, const std::string* reply,
                   const char* detail);
  void SetStartVariables();
  void InstallInto(const std::string& folder);
  void FailInstallFolder(const char* detail, const std::string& folder, bool systemRefused);
  void EndByMovie(int32_t finalCode, bool showBox);
  void StartWorker();
  void StopWorker();

  int runMode_ = update::kRunModeInstall;
  net::MovieTable movies_;
  std::string installDirText_;
  std::unique_ptr<update::MovieCallChannel> channel_;
  std::unique_ptr<update::CUpdateVersionFiles> worker_;
  bool workerHeld_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace ui
