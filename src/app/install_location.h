// Where the client lives, and how an installation is recognised, prepared
// and taken away: its registration (AppDirectory under "Software\<app>" in
// the machine hive), the proposal of a default folder, the preparation of
// the chosen folder and the removal of an earlier or half-made
// installation. Also the small registry, shell and process helpers that the
// finishing steps reuse.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace app {

class CInstallerApp;

// Registry keys of an installation.
inline constexpr std::string_view kUninstallKeyBase = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr std::string_view kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr std::string_view kAppDirectoryValue = "AppDirectory";
inline constexpr std::string_view kUserNameValue = "UserName";

// The trace hook of the helpers: a failing call hands its message, its own
// name and label/value pairs here. It records nothing unless a test or a
// diagnostic build installs a recorder. Any thread.
using TraceHook = std::function<void(const std::string& message, const std::string& function,
                                     const std::vector<std::pair<std::string, std::string>>& pairs)>;
void SetTraceHook(TraceHook hook);
void Trace(const std::string& message, const std::string& function,
           const std::vector<std::pair<std::string, std::string>>& pairs);

// Reads a string value, at most `capacity` - 1 characters of it, into
// *value. Returns 0, 2 when the key or value does not exist, or the
// system's error code; *value is unchanged on failure. Failures go to the
// trace hook with "Error opening registry key".
int RegReadString(platform::Registry& registry, platform::Hive hive, std::string_view key,
                  std::string_view valueName, std::string* value, size_t capacity);
// Writes a string value, creating the key. Returns 0 or the system's error
// code; failures go to the trace hook with "Error setting registry value".
int RegWriteString(platform::Registry& registry, platform::Hive hive, std::string_view key,
                   std::string_view valueName, std::string_view text);

// The system's program-files folder, or the platform's fallback when the
// registry cannot tell.
std::string ProgramFilesDir(platform::Registry& registry, platform::Shell& shell);

// Terminates every process of the current user other than this one whose
// executable name begins with `prefix` (letter case significant) and whose
// executable lies inside `folder`, pausing `pause` after each termination
// so that the process can let go of its files. An empty prefix or folder
// stops nothing. Returns 2 when no process matched, else 1 when the last
// termination succeeded and 0 when it failed. Blocks one second per
// terminated process by default.
int StopProcessesByPrefix(platform::Processes& processes, std::string_view prefix, const std::string& folder,
                          const std::function<void()>& pause = {});

// The file that marks a folder as this application's installation under
// way. The preparation writes it first (it holds the application's name)
// and the finish removes it last, so that a folder left by a run that was
// killed is recognised by the next run as its own, emptied and reused.
inline constexpr const char* kIncompleteMarker = "Setup.incomplete";

// True when `folder` holds an installation of `appName`, finished (its
// settings record) or under way (its marker). Blocks on file I/O.
bool HoldsInstallationOf(platform::FileSystem& files, const std::string& folder, const std::string& appName);
// Writes the marker into `folder`. False when it could not be saved.
[[nodiscard]] bool WriteIncompleteMarker(platform::FileSystem& files, const std::string& folder,
                                         const std::string& appName);
// Removes the marker of `folder`. False when it is still there.
[[nodiscard]] bool RemoveIncompleteMarker(platform::FileSystem& files, const std::string& folder);
// True when the installation in `folder` is complete: its settings record
// and its launcher `launcherFile` are there and no marker is.
bool InstallationComplete(platform::FileSystem& files, const std::string& folder, const std::string& launcherFile);

// Empties `folder`, an installation of `appName` finished or under way, so
// that it stays recognisable to the end: the marker is written first and
// every other entry (in name order) goes before it; with `removeFolder`
// the marker and the folder go last. A run killed anywhere in between
// leaves a folder that the next run knows as its own. Returns 0 or the
// first failure's code; everything that can go goes. Blocks on file I/O.
int EmptyInstallationFolder(const platform::Platform& platform, const std::string& folder, const std::string& appName,
                            bool removeFolder);

// The results of PrepareInstallDir.
enum class PrepareResult {
  Ok = 0,
  ForeignFiles = 1,  // the folder and its application sub-folder hold someone else's files
  NotCreatable = 2,  // the folder could not be created or made current
  RegistryUnreadable = 3,  // the folder holds an installation and the registry store cannot be read
};

// Takes away an installation: stops the client's processes, deletes the
// Start-menu folder and the desktop shortcut, the uninstall entry, saves
// the user name when the application's keepUserName is set, deletes the
// folder and then the registration, so that a removal cut short leaves a
// registered, incomplete installation that the next run takes away in
// turn. `folder` empty: the registered folder. Every step runs even when an
// earlier one failed; nothing is reported. Main thread.
void RemoveInstallation(CInstallerApp& app, std::string folder, const std::string& appName);

}  // namespace app
