#include "ui/installer_dialog.h"

#include "app/install_location.h"
#include "app/read_write_data.h"
#include "net/http_post.h"
#include "net/key_value_text.h"
#include "net/machine_identity.h"
#include "net/request_forms.h"
#include "platform/path.h"

namespace ui {

namespace {

constexpr const char* kCommunicationFailed =
    "Communication with the server failed, please verify internet connection and try again";
constexpr const char* kDebugMovieFile = "__debug.cfg";
constexpr size_t kDebugMovieBytes = 1000;

}  // namespace

CInstallerDlg::CInstallerDlg(app::CInstallerApp& app) : MovieDialog(app) {}

CInstallerDlg::~CInstallerDlg() {
  *alive_ = false;
  StopWorker();
  if (app_.Dialog() == this) app_.SetDialog(nullptr);
}

int CInstallerDlg::RunModal(int runMode) {
  runMode_ = runMode;
  worker_.reset();
  channel_ = std::make_unique<update::MovieCallChannel>(app_.Loop());
  app_.SetDialog(this);
  OpenWindow(kInstallerTemplate);
  if (!StartSession()) {
    app_.SetDialog(nullptr);
    return -1;
  }
  window_->SetBackground({app_.BrandBackgroundColor().r, app_.BrandBackgroundColor().g,
                          app_.BrandBackgroundColor().b});
  const int result = RunLoop();
  StopWorker();
  app_.SetDialog(nullptr);
  return result;
}

// The initial post, the movie table and the movie control.
bool CInstallerDlg::StartSession() {
  const platform::Platform& p = app_.Platform();
  net::InitialPostInput input;
  input.serial = app_.serial.str();
  input.param1 = app_.param1.str();
  input.os = net::OsCode(*p.system);
  input.screen = net::ScreenCode(*p.system);
  input.identity = p.identity ? net::MachineIdentityFields(*p.identity) : "&h1=&h2=";
  const std::string body = net::BuildInitialPost(input);
  app_.SetStep(1);

  std::string reply;
  window_->ShowConnecting(true);
  const net::PostResult result =
      net::CommunicatePost(p, app_.appName.str(), app_.serverAddress, body, reply, net::kSessionReplyCapacity);
  window_->ShowConnecting(false);
  if (result != net::PostResult::Ok) {
    return FailSession("ERROR: Return from the server on initial post failed.  rc=" +
                           std::to_string(static_cast<int>(result)),
                       body, nullptr, kCommunicationFailed);
  }
  const int32_t actionCode = net::GetIntValue(reply, "~ac=");
  if (actionCode != 10) {
    const std::string message =
        "ERROR: Invalid return code from the server on initial post.  ac=" + std::to_string(actionCode);
    return FailSession(message, body, &reply, nullptr);
  }

  const std::string wholeReply = reply;
  movies_ = net::ReadMovieTable(reply);
  std::string mainMovie = movies_.UrlAt(movies_.updaterIndex);
  window_->SetTitle("  " + app_.appName.str());

  // Diagnostic switch: the file's content replaces the main movie address.
  if (p.files->Exists(kDebugMovieFile)) {
    std::string content(kDebugMovieBytes, '\0');
    size_t read = 0;
    if (app::ReadWriteData(*p.files).ReadData(kDebugMovieFile, content.data(), content.size(), &read) ==
        app::DataResult::Ok) {
      content.resize(std::min(read, kDebugMovieBytes - 1));
      const size_t zero = content.find('\0');
      if (zero != std::string::npos) content.resize(zero);
      mainMovie = content;
      p.dialogs->ShowMessageBox(mainMovie, app_.appName.str(), platform::BoxStyle::Plain);
    }
  }

  // Without its movie the installer could never show a question or end.
  if (mainMovie.empty()) {
    return FailSession("ERROR: The server's reply on initial post names no installer movie.", body, &wholeReply,
                       kCommunicationFailed);
  }

  std::weak_ptr<bool> alive = alive_;
  const bool created = flash_.Create(*p.movies, *window_, kInstallerMovieControl, true,
                                     [this, alive](const std::string& command, const std::string& args) {
                                       if (auto live = alive.lock(); live && *live) OnMovieCommand(command, args);
                                     });
  if (!created) {
    // Without a player nothing could ever be shown: end instead of waiting.
    return FailSession("ERROR: The movie player could not be created.", body, nullptr,
                       "The installer could not start its movie player");
  }
  flash_.ScaleMode(0);
  flash_.Quality(1);
  flash_.Movie(mainMovie);
  return true;
}

bool CInstallerDlg::FailSession(const std::string& message, const std::string& body, const std::string* reply,
                                const char* detail) {
  net::ReportParms parms = {message, body};
  if (reply) parms[2] = *reply;
  app_.Reports().FinishReport(kFinalSessionStart, false, parms);
  app_.Reports().ErrorReport(detail ? detail : message);
  app_.PostToMainThread(app::WM_APP_FILESET_DONE, 1, 0);
  return false;
}

void CInstallerDlg::SetStartVariables() {
  flash_.SetVariable("m_aName", app_.appName.str());
  flash_.SetVariable("m_bIsInstaller", "1");
  flash_.SetVariable("m_movieLangURL", movies_.UrlAt(movies_.langIndex));
  flash_.SetVariable("m_movieLogoURL", movies_.UrlAt(movies_.logoIndex));
  flash_.SetVariable("m_dispatcherURL", movies_.dispatcherUrl);
}

void CInstallerDlg::OnMovieCommand(const std::string& command, const std::string& args) {
  const platform::Platform& p = app_.Platform();
  if (command == "InitPreloader") {
    FitToMovie(args);
  } else if (command == "InitDialog") {
    app_.stats.tDlg = p.system->TickCount();
    FitToMovie(args);
    SetStartVariables();
    app_.SetStep(app::kStepInitDialog);
    flash_.Play();
  } else if (command == "Ready") {
    std::string proposal;
    app_.FindInstallation(proposal);
    installDirText_ = proposal;
    MovieDialog::AnswerMovie("Data", "InstallDir", installDirText_);
  } else if (command == "SetLang") {
    app_.stats.tLang = p.system->TickCount();
    std::lock_guard<std::mutex> lock(app_.textLock);
    app_.language = args;
  } else if (command == "Browse") {
    app_.PostToMainThread(app::WM_APP_BROWSE_FOLDER);
  } else if (command == "AcceptLA") {
    app_.PostToMainThread(app::WM_APP_FINISH_INSTALL);
  } else if (command == "Install") {
    InstallInto(args);
  } else if (command == "Retry") {
    if (worker_) worker_->PostRun();
  } else if (command == "NoDataFromServer") {
    EndByMovie(kFinalNoDataFromServer, true);
  } else if (command == "Decline") {
    EndByMovie(kFinalDeclined, false);
  } else if (command == "Error") {
    EndByMovie(kFinalMovieError, true);
  }
  // Any other command (also one that differs only in letter case) is not
  // one of the movie's and is ignored.
}

void CInstallerDlg::InstallInto(const std::string& folder) {
  if (worker_) return;  // one installation per session
  if (folder.empty() || folder.size() > kInstallFolderWidth) {
    FailInstallFolder("The chosen folder name cannot be used", folder, false);
    return;
  }
  switch (app_.PrepareInstallDir(folder)) {
    case app::PrepareResult::Ok:
      StartWorker();
      return;
    case app::PrepareResult::ForeignFiles:
      FailInstallFolder("The chosen folder already holds other files, please choose another folder", folder, false);
      return;
    case app::PrepareResult::NotCreatable:
      FailInstallFolder("Directory creation failed", folder, true);
      return;
    case app::PrepareResult::RegistryUnreadable:
      FailInstallFolder("The installation registry cannot be read, the folder is kept", folder, false);
      return;
  }
}

// The installation cannot go into the chosen folder: nothing was written
// into it, the session ends with its code and a box that says why. Only a
// folder the system refused has a system error for the box's cause; a
// folder this installer refuses has none, and the thread's last error would
// be whatever an earlier look at the folder left.
void CInstallerDlg::FailInstallFolder(const char* detail, const std::string& folder, bool systemRefused) {
  app_.Reports().FinishReport(kFinalInstallFolder, systemRefused, {folder});
  app_.Reports().ErrorReport(detail, {net::ReportPair{"Dir", folder}});
  app_.PostToMainThread(app::WM_APP_FILESET_DONE, 1, 0);
}

void CInstallerDlg::EndByMovie(int32_t finalCode, bool showBox) {
  app_.Reports().FinishReport(finalCode, false);
  if (showBox) app_.Reports().ErrorReport(kCommunicationFailed);
  app_.PostToMainThread(app::WM_APP_FILESET_DONE, 1, 0);
}

void CInstallerDlg::StartWorker() {
  update::WorkerConfig config;
  config.runMode = runMode_;
  config.app = &app_;
  config.dialog = channel_.get();
  config.fli = app_.flashInstalled;
  config.flv = app_.flashVersion;
  worker_ = std::make_unique<update::CUpdateVersionFiles>(config);
  workerHeld_ = false;
  if (worker_->Start()) return;
  // No thread for the installation: the session ends as a run that could
  // not fetch its file list, with the system's reason.
  worker_.reset();
  app_.Reports().FinishReport(update::kFinalListTransport, true, {"rc=no worker thread"});
  app_.Reports().ErrorReport("The installation could not be started");
  app_.PostToMainThread(app::WM_APP_FILESET_DONE, 1, 0);
}

void CInstallerDlg::StopWorker() {
  if (!worker_) return;
  if (workerHeld_) {
    workerHeld_ = false;
    worker_->Resume();
  }
  // A worker waiting in a movie call goes on; later calls return at once.
  channel_->Release();
  worker_->Stop();
  worker_.reset();
}

void CInstallerDlg::OnMovieCall(const std::string* name, const std::string* parm) {
  if (app_.stats.userExit.load()) return;
  std::optional<std::string> function;
  if (name) function = *name;
  std::optional<std::string> parameter;
  if (parm) parameter = *parm;
  MovieDialog::AnswerMovie("Data", function, parameter);
}

void CInstallerDlg::OnCloseRequest(uintptr_t kind) {
  const bool ask = kind == app::kCloseAskFirst;
  // Leaving, asked or not, ends the session as the user's exit.
  const bool leave = kind != app::kCloseNow;
  bool yes = true;
  if (ask) {
    if (worker_ && !workerHeld_) {
      workerHeld_ = true;
      worker_->Hold();
    }
    yes = app_.Platform().dialogs->ShowMessageBox("Are you sure you want to exit?", app_.appName.str(),
                                              platform::BoxStyle::YesNo) == platform::BoxAnswer::Yes;
  }
  if (!yes) {
    if (worker_ && workerHeld_) {
      workerHeld_ = false;
      worker_->Resume();
    }
    return;
  }
  if (leave) {
    const uint32_t started = app_.stats.tDL.load();
    if (started != 0) app_.stats.tDL = (app_.Platform().system->TickCount() - started) / 1000u;
    app_.stats.userExit = true;
    app_.Reports().FinishReport(kFinalUserExit, false);
  }
  StopWorker();
  // A user who leaves during the installation is left with nothing of it:
  // the folder this session prepared goes (a finished installation closes
  // without the question and stays).
  if (leave && app_.removeOnFailure) app::RemoveInstallation(app_, app_.installDir.str(), app_.appName.str());
  window_->Hide();
  app_.PostToMainThread(app::WM_APP_DIALOG_CLOSED);
}

void CInstallerDlg::AnswerMovie(const std::string& label, const std::string& funcName,
                                const std::optional<std::string>& parm) {
  MovieDialog::AnswerMovie(label, funcName, parm);
}

void CInstallerDlg::PostCloseDialog(uintptr_t askFirst) {
  app_.Loop().Post({app::WM_APP_CLOSE_DIALOG, askFirst, 0});
}

bool CInstallerDlg::OnDialogMessage(const platform::ThreadMessage& message) {
  if (message.id == app::WM_APP_MOVIE_CALL) {
    channel_->HandleMessage(message, [this](const std::string* name, const std::string* parm) {
      OnMovieCall(name, parm);
    });
    return true;
  }
  if (message.id == app::WM_APP_CLOSE_DIALOG) {
    OnCloseRequest(message.wParam);
    return true;
  }
  return false;
}

}  // namespace ui
