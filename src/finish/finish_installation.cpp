#include "finish/finish_installation.h"

#include <system_error>

#include "app/install_location.h"
#include "app/settings_record.h"
#include "finish/launch_client.h"
#include "platform/path.h"

namespace finish {

namespace {

// The error a rename onto an existing file leaves: the system would not
// replace the file, so neither do we.
const int kFileExistsError = static_cast<int>(std::errc::file_exists);

// Longest part of the current folder that the rename error box shows.
constexpr size_t kBoxFolderWidth = 100;

// Records `code` as the session's final code (when none is yet) with the
// system's text of the last error, then shows the error box in any case.
void FailStep(app::CInstallerApp& app, FinishCode code, std::string_view boxText, const net::ReportParms& parms = {},
              const net::ReportPairs& pairs = {}) {
  (void)app.Reports().FinishReport(static_cast<int32_t>(code), true, parms);
  app.Reports().ErrorReport(boxText, pairs);
}

// Creates the missing levels of `folder`; failures show in the step that
// needs the folder.
void EnsureFolder(platform::FileSystem& files, const std::string& folder) {
  if (folder.empty() || files.IsDirectory(folder)) return;
  const std::string parent = platform::DirectoryOf(folder);
  if (!parent.empty() && parent != folder) EnsureFolder(files, parent);
  files.MakeDirectory(folder);
}

std::string ShortcutFile(const std::string& folder, std::string_view name) {
  return platform::JoinPath(folder, std::string(name) + std::string(platform::ShortcutExtension()));
}

// The end of every failure: the half-made installation goes when this
// session prepared its folder, and the dialog closes without a question.
void FailureTail(app::CInstallerApp& app, app::InstallerDialogPort& dialog) {
  if (app.removeOnFailure) app::RemoveInstallation(app, app.installDir.str(), app.appName.str());
  dialog.CloseDialogNow();
}

// The dialog port when no dialog runs: there is nothing to answer or close.
class NoDialog : public app::InstallerDialogPort {
 public:
  void AnswerMovie(const std::string&, const std::string&, const std::optional<std::string>&) override {}
  void PostCloseDialog(uintptr_t) override {}
  void CloseDialogNow() override {}
  void EndModal(int) override {}
};

}  // namespace

int CreateShortcut(platform::Shortcuts& shortcuts, const std::string& linkPath, const std::string& target,
                   const std::string& workingFolder, const std::string& description,
                   const std::optional<std::string>& iconFile) {
  std::optional<std::string> iconPath;
  if (iconFile) iconPath = platform::JoinPath(workingFolder, *iconFile);
  return shortcuts.CreateShortcut(linkPath, target, workingFolder, description, iconPath) == 0 ? 0 : 1;
}

int WriteUninstallEntry(app::CInstallerApp& app) {
  const platform::Platform& p = app.Platform();
  app.SetStep(kStepRegistry);
  const std::string key = app.appRegKey.str();
  const std::string installDir = app.installDir.str();
  const int code = app::RegWriteString(*p.registry, platform::Hive::LocalMachine, key, app::kAppDirectoryValue,
                                       installDir);
  if (code != 0) {
    // The registry's result is the system's code; the report describes it.
    p.system->SetLastErrorCode(code);
    FailStep(app, FinishCode::RegistryFailed, "Registry entries creation failed", {key, installDir},
             {net::ReportPair{"Key", key}});
    return code;
  }
  const std::string uninstallKey = std::string(app::kUninstallKeyBase) + app.appName.str();
  (void)app::RegWriteString(*p.registry, platform::Hive::LocalMachine, uninstallKey, "DisplayName",
                            app.appName.str());
  (void)app::RegWriteString(*p.registry, platform::Hive::LocalMachine, uninstallKey, "UninstallString",
                            platform::JoinPath(installDir, kUninstallProgram));
  return 0;
}

int CreateShortcuts(app::CInstallerApp& app) {
  const platform::Platform& p = app.Platform();
  app.SetStep(kStepShortcuts);
  const std::string installDir = app.installDir.str();
  const std::string appName = app.appName.str();
  const std::string target = platform::JoinPath(installDir, app.launcherFile.str());
  const std::string uninstallTarget = platform::JoinPath(installDir, kUninstallProgram);

  // 1. The Start-menu folder, fresh.
  const std::string programs = p.shell->SpecialFolderPath(platform::SpecialFolder::CommonPrograms);
  const std::string menuFolder = programs.empty() ? std::string() : platform::JoinPath(programs, appName);
  if (!menuFolder.empty() && p.files->Exists(menuFolder)) (void)p.shell->DeleteTree(menuFolder, false);
  EnsureFolder(*p.files, programs);
  if (menuFolder.empty() || !p.files->MakeDirectory(menuFolder)) {
    FailStep(app, FinishCode::MenuFolderFailed, "Start Menu folder creation failed");
    return 1;
  }
  // 2. Its two shortcuts.
  if (CreateShortcut(*p.shortcuts, ShortcutFile(menuFolder, appName), target, installDir, appName,
                     std::string(kAppSmallIcon)) != 0 ||
      CreateShortcut(*p.shortcuts, ShortcutFile(menuFolder, kUninstallShortcutName), uninstallTarget, installDir,
                     appName, std::string(kUninstallSmallIcon)) != 0) {
    FailStep(app, FinishCode::MenuShortcutFailed, "Creating start menu shortcut failed");
    return 1;
  }
  // 3. The desktop shortcut.
  const std::string desktop = p.shell->SpecialFolderPath(platform::SpecialFolder::CommonDesktop);
  EnsureFolder(*p.files, desktop);
  if (desktop.empty() || CreateShortcut(*p.shortcuts, ShortcutFile(desktop, appName), target, installDir, appName,
                                        std::string(kAppBigIcon)) != 0) {
    FailStep(app, FinishCode::DesktopShortcutFailed, "Creating desktop shortcut failed");
    return 1;
  }
  return 0;
}

bool RenameUpdater(platform::FileSystem& files, platform::System& system, const std::string& launcherFile) {
  const std::string folder = files.CurrentDirectory();
  const std::string to = platform::JoinPath(folder, launcherFile);
  if (files.Exists(to)) {
    system.SetLastErrorCode(kFileExistsError);
    return false;
  }
  return files.MoveOneFile(platform::JoinPath(folder, kUpdaterFile), to);
}

void FinishInstallation(app::CInstallerApp& app, app::InstallerDialogPort& dialog) {
  const platform::Platform& p = app.Platform();
  // 1-2. Registration and shortcuts.
  if (WriteUninstallEntry(app) != 0 || CreateShortcuts(app) != 0) {
    FailureTail(app, dialog);
    return;
  }
  // 3. The identity fields of the settings record.
  app.SetStep(kStepSettingsRecord);
  app::SettingsRecord record(*p.files);
  if (record.SetIdentity(app.appName.str(), app.launcherFile.str(), app.affiliateSub.str(), app.affiliate.str()) !=
      app::DataResult::Ok) {
    (void)app.Reports().FinishReport(app::kFinalSettingsRecordSave, true, {app::kSettingsFile});
    app.Reports().ErrorReport("Settings file saving failed", {net::ReportPair{"File", app::kSettingsFile}});
    FailureTail(app, dialog);
    return;
  }
  // 4. The updater becomes the launcher.
  app.SetStep(kStepRenameUpdater);
  const std::string launcherFile = app.launcherFile.str();
  if (!RenameUpdater(*p.files, *p.system, launcherFile)) {
    (void)app.Reports().FinishReport(static_cast<int32_t>(FinishCode::RenameFailed), true, {launcherFile});
    const std::string from =
        platform::JoinPath(p.files->CurrentDirectory().substr(0, kBoxFolderWidth), kUpdaterFile);
    app.Reports().ErrorReport("Rename file failed", {net::ReportPair{"From", from}, net::ReportPair{"TO", launcherFile}});
    FailureTail(app, dialog);
    return;
  }
  // The shortcuts' targets start as programs, as the programs of the file
  // list do. The uninstaller is optional in a file set; a launcher that
  // cannot be marked is only logged: the installation itself is complete.
  for (const std::string& target : {launcherFile, std::string(kUninstallProgram)}) {
    const std::string path = platform::JoinPath(p.files->CurrentDirectory(), target);
    if (p.files->Exists(path) && !p.files->MarkRunnable(path))
      platform::LogLine(p.log, "cannot mark " + path + " as a program: " + p.system->ErrorText(p.system->LastErrorCode()));
  }
  // 5. The installation is complete: its marker goes last.
  (void)app::RemoveIncompleteMarker(*p.files, app.installDir.str());
  // 6. The session has succeeded.
  app.SetStep(kStepLaunch);
  const std::string clientPrefix = record.GetClientPrefix();
  app.SetStep(app::kStepFinished);
  (void)app.Reports().FinishReport(net::kFinalSuccess, false);
  // 7. The lobby, then the dialog closes.
  LaunchClientAfterInstall(*p.processes, app.installDir.str(), clientPrefix);
  dialog.CloseDialogNow();
}

void FinishActions::RemoveInstallation(const std::string& folder, const std::string& appName) {
  app::RemoveInstallation(app_, folder, appName);
}

void FinishActions::FinishInstallation() {
  if (app::InstallerDialogPort* dialog = app_.Dialog()) {
    finish::FinishInstallation(app_, *dialog);
    return;
  }
  NoDialog none;
  finish::FinishInstallation(app_, none);
}

}  // namespace finish
