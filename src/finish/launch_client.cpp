#include "finish/launch_client.h"

#include <algorithm>

#include "app/installer_app.h"
#include "app/settings_record.h"
#include "platform/path.h"

namespace finish {

std::string FolderWithoutTrailingSeparator(std::string_view folder) {
  std::string out(folder);
  while (out.size() > 1 && platform::EndsWithSeparator(out)) out.pop_back();
  return out;
}

std::string LobbyArgument(std::string_view folder) {
  std::string argument = FolderWithoutTrailingSeparator(folder);
  std::replace(argument.begin(), argument.end(), ' ', '~');
  return argument;
}

void LaunchClientAfterInstall(platform::Processes& processes, const std::string& folder,
                              const std::string& clientPrefix) {
  const std::string program = clientPrefix + std::string(kLobbyProgram);
  (void)processes.RunProgram(FolderWithoutTrailingSeparator(folder), program, LobbyArgument(folder), true, false);
}

bool FindClientWindow(platform::Processes& processes, const std::string& programName, const std::string& /*appName*/) {
  return processes.FindTopLevelWindow(programName);
}

PlayResult LaunchInstalledClient(app::CInstallerApp& app) {
  const platform::Platform& p = app.Platform();
  const std::string installDir = app.installDir.str();
  p.files->ChangeCurrentDirectory(installDir);
  app::SettingsRecord record(*p.files);
  record.LoadFrom(installDir);
  const std::string programName = record.ClientProgramPath(kLobbyProgram);
  // The window may be gone between the search and the raise; then the
  // client is started after all.
  if (FindClientWindow(*p.processes, programName, app.appName.str()) &&
      p.processes->BringTopLevelWindowToFront(programName)) {
    return PlayResult::Raised;
  }
  const std::string launcher = record.GetLauncherFile();
  if (launcher.empty() || p.processes->RunProgram(installDir, launcher, std::nullopt, true, false) != 0) {
    return PlayResult::NotStarted;
  }
  return PlayResult::Started;
}

void PlayOrOfferInstallation(app::CInstallerApp& app) {
  if (LaunchInstalledClient(app) != PlayResult::NotStarted) return;
  app.Reports().ErrorReport("The game could not be started, it will be installed again",
                            {net::ReportPair{"Dir", app.installDir.str()}});
  app.keepUserName = true;
  app.StartFreshInstall();
}

}  // namespace finish
