// Starting the installed client: the lobby right after an installation,
// with the install folder as its one argument, and the "Play" action of an
// installed client, which brings a running lobby forward instead of
// starting a second one.
#pragma once

#include <string>
#include <string_view>

#include "platform/processes.h"

namespace app {
class CInstallerApp;
}

namespace finish {

// The lobby program's name after the client prefix.
inline constexpr std::string_view kLobbyProgram = "Salon.exe";

// `folder` without trailing separators (a root folder keeps its one).
std::string FolderWithoutTrailingSeparator(std::string_view folder);

// The lobby's argument: `folder` (trailing separators dropped) with every
// space replaced by "~", so that it is one space-free word.
std::string LobbyArgument(std::string_view folder);

// Starts "<clientPrefix>Salon.exe" in `folder`, shown, not waited for, with
// LobbyArgument(folder). A lobby that cannot be started is not reported.
// Main thread; returns at once.
void LaunchClientAfterInstall(platform::Processes& processes, const std::string& folder,
                              const std::string& clientPrefix);

// True when a process other than this one, whose executable name contains
// `programName` (exact letter case), has a top-level window. `appName`
// takes no part in the search. Non-blocking.
bool FindClientWindow(platform::Processes& processes, const std::string& programName, const std::string& appName);

// The outcomes of "Play".
enum class PlayResult {
  Raised = 0,      // a running client was brought forward
  Started = 1,     // the launcher was started
  NotStarted = 2,  // the launcher could not be started
};

// "Play": makes installDir current, loads the settings record found there,
// and brings the window of a running "<prefix>Salon.exe" to the front; when
// none runs, starts the record's launcher file in installDir, shown, not
// waited for. Main thread; never waits for the started program.
PlayResult LaunchInstalledClient(app::CInstallerApp& app);

// "Play" as the reinstall/play dialog runs it: a launcher that cannot be
// started is reported in the error box and the installation is offered
// again (a fresh installer dialog). Main thread; blocks while that dialog
// runs.
void PlayOrOfferInstallation(app::CInstallerApp& app);

}  // namespace finish
