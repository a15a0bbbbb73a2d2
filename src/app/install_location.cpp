#include "app/install_location.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "app/installer_app.h"
#include "app/read_write_data.h"
#include "app/settings_record.h"
#include "platform/path.h"

namespace app {

namespace {

std::mutex traceLock;
TraceHook traceHook;

constexpr size_t kPathWidth = 260;

std::string AppKey(std::string_view appName) { return "Software\\" + std::string(appName); }

}  // namespace

void SetTraceHook(TraceHook hook) {
  std::lock_guard<std::mutex> lock(traceLock);
  traceHook = std::move(hook);
}

void Trace(const std::string& message, const std::string& function,
           const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::lock_guard<std::mutex> lock(traceLock);
  if (traceHook) traceHook(message, function, pairs);
}

int RegReadString(platform::Registry& registry, platform::Hive hive, std::string_view key,
                  std::string_view valueName, std::string* value, size_t capacity) {
  std::string read;
  const int code = registry.ReadString(hive, std::string(key), std::string(valueName), &read);
  if (code != platform::kRegistryOk) {
    Trace("Error opening registry key", "RegReadString", {{"Key", std::string(key)}, {"Value Name", std::string(valueName)}});
    return code;
  }
  if (capacity > 0 && read.size() > capacity - 1) read.resize(capacity - 1);
  *value = read;
  return 0;
}

int RegWriteString(platform::Registry& registry, platform::Hive hive, std::string_view key,
                   std::string_view valueName, std::string_view text) {
  const int code = registry.WriteString(hive, std::string(key), std::string(valueName), std::string(text));
  if (code != platform::kRegistryOk) {
    Trace("Error setting registry value", "RegWriteString", {{"Key", std::string(key)}, {"Value Name", std::string(valueName)}});
  }
  return code;
}

std::string ProgramFilesDir(platform::Registry& registry, platform::Shell& shell) {
  std::string folder;
  if (RegReadString(registry, platform::Hive::LocalMachine, kCurrentVersionKey, "ProgramFilesDir", &folder,
                    kPathWidth) != 0) {
    return shell.SpecialFolderPath(platform::SpecialFolder::ProgramFiles);
  }
  return folder;
}

namespace {

// True when `path` names a file below `folder` (either separator).
bool InsideFolder(const std::string& path, std::string folder) {
  while (!folder.empty() && platform::EndsWithSeparator(folder)) folder.pop_back();
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         (path[folder.size()] == '/' || path[folder.size()] == '\\');
}

}  // namespace

int StopProcessesByPrefix(platform::Processes& processes, std::string_view prefix, const std::string& folder,
                          const std::function<void()>& pause) {
  if (prefix.empty() || folder.empty()) return 2;
  const int self = processes.CurrentProcessId();
  int result = 2;
  for (const platform::ProcessInfo& process : processes.Snapshot()) {
    if (process.pid == self || process.exeName.compare(0, prefix.size(), prefix) != 0) continue;
    if (process.exeName.size() < prefix.size() || !InsideFolder(process.exePath, folder)) continue;
    result = processes.Terminate(process.pid, 0) ? 1 : 0;
    if (pause) {
      pause();
    } else {
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  return result;
}

bool HoldsInstallationOf(platform::FileSystem& files, const std::string& folder, const std::string& appName) {
  if (files.Exists(platform::JoinPath(folder, kSettingsFile))) return true;
  std::string mark(kPathWidth, '\0');
  size_t read = 0;
  if (ReadWriteData(files).ReadData(platform::JoinPath(folder, kIncompleteMarker), mark.data(), mark.size(), &read) !=
      DataResult::Ok) {
    return false;
  }
  mark.resize(read);
  return mark == appName;
}

bool WriteIncompleteMarker(platform::FileSystem& files, const std::string& folder, const std::string& appName) {
  return ReadWriteData(files).WriteData(platform::JoinPath(folder, kIncompleteMarker), appName.data(),
                                        appName.size()) == DataResult::Ok;
}

bool RemoveIncompleteMarker(platform::FileSystem& files, const std::string& folder) {
  const std::string marker = platform::JoinPath(folder, kIncompleteMarker);
  return files.RemoveFile(marker) || !files.Exists(marker);
}

int EmptyInstallationFolder(const platform::Platform& platform, const std::string& folder, const std::string& appName,
                            bool removeFolder) {
  platform::FileSystem& files = *platform.files;
  (void)WriteIncompleteMarker(files, folder, appName);
  std::vector<std::string> names;
  if (!files.ListFolder(folder, &names)) return platform.shell->DeleteTree(folder, !removeFolder);
  std::sort(names.begin(), names.end());
  int result = 0;
  for (const std::string& name : names) {
    if (name == kIncompleteMarker) continue;
    const int deleted = platform.shell->DeleteTree(platform::JoinPath(folder, name), false);
    if (result == 0) result = deleted;
  }
  if (removeFolder) {
    const int deleted = platform.shell->DeleteTree(folder, false);
    if (result == 0) result = deleted;
  }
  return result;
}

bool InstallationComplete(platform::FileSystem& files, const std::string& folder, const std::string& launcherFile) {
  return files.Exists(platform::JoinPath(folder, kSettingsFile)) &&
         files.FileSize(platform::JoinPath(folder, launcherFile)) >= 0 &&
         !files.Exists(platform::JoinPath(folder, kIncompleteMarker));
}

bool CInstallerApp::FindInstallation(std::string& proposal) {
  std::string folder;
  const int read = RegReadString(*platform_.registry, platform::Hive::LocalMachine, appRegKey.str(),
                                 kAppDirectoryValue, &folder, kPathWidth);
  registryUnreadable_ = read != 0 && read != platform::kRegistryNotFound;
  if (read == 0) {
    installDir = folder;
    proposal.clear();
    return false;
  }
  installDir = platform::JoinPath(ProgramFilesDir(*platform_.registry, *platform_.shell), appName.str());
  proposal = appName.str() + "~" + installDir.str();
  return true;
}

namespace {

// Creates `folder` with every missing level above it: a fresh account may
// lack even the data folder that holds installations. The first level that
// cannot be made ends it, its error the thread's last error (a denied
// parent is "Permission denied", not the child's "No such file"); a file in
// a folder's place is left to the level below it ("Not a directory").
bool CreateFolderPath(platform::FileSystem& files, const std::string& folder) {
  if (folder.empty() || files.IsDirectory(folder)) return !folder.empty();
  const std::string parent = platform::DirectoryOf(folder);
  if (!parent.empty() && parent != folder && !files.Exists(parent) && !CreateFolderPath(files, parent)) return false;
  return files.MakeDirectory(folder);
}

// A folder this installer may empty: nothing in it, or an earlier or
// half-made installation of this application.
bool MayEmpty(platform::FileSystem& files, const std::string& folder, const std::string& appName) {
  return files.IsEmptyDirectory(folder) || HoldsInstallationOf(files, folder, appName);
}

}  // namespace

PrepareResult CInstallerApp::PrepareInstallDir(const std::string& folder) {
  platform::FileSystem& files = *platform_.files;
  const std::string name = appName.str();
  std::string target = folder;
  if (files.IsDirectory(target) && !MayEmpty(files, target, name)) {
    // Someone's folder: the installation goes beside their files, into a
    // folder of its own.
    target = platform::JoinPath(target, name);
    if (files.IsDirectory(target) && !MayEmpty(files, target, name)) return PrepareResult::ForeignFiles;
  }
  // A registry store that cannot be read cannot tell whether this folder is
  // the registered installation: it is kept rather than emptied.
  if (registryUnreadable_ && files.IsDirectory(target) && !files.IsEmptyDirectory(target)) {
    return PrepareResult::RegistryUnreadable;
  }
  removeOnFailure = true;
  installDir = target;
  if (files.IsDirectory(target)) {
    // Marked before it is emptied, the marker kept: a run killed
    // meanwhile leaves a folder that the next run still knows as its own.
    if (!files.IsEmptyDirectory(target)) (void)EmptyInstallationFolder(platform_, target, name, false);
  } else if (!CreateFolderPath(files, target)) {
    // The creation's own error stays the thread's last error for the
    // report ("Permission denied", not a later "No such file").
    return PrepareResult::NotCreatable;
  }
  if (!files.ChangeCurrentDirectory(target)) return PrepareResult::NotCreatable;
  // The session's first write into the folder.
  if (!WriteIncompleteMarker(files, target, name)) return PrepareResult::NotCreatable;
  files.MakeDirectory(platform::JoinPath(target, "cfg"));
  return PrepareResult::Ok;
}

void RemoveInstallation(CInstallerApp& app, std::string folder, const std::string& appName) {
  const platform::Platform& p = app.Platform();
  const std::string key = AppKey(appName);
  // 1. The registered folder when none is named.
  if (folder.empty()) (void)RegReadString(*p.registry, platform::Hive::LocalMachine, key, kAppDirectoryValue, &folder, kPathWidth);
  if (!folder.empty()) p.files->ChangeCurrentDirectory(folder);
  // 2. The client's programs let go of their files.
  StopProcessesByPrefix(*p.processes, appName, folder);
  // 3. Shortcuts: the Start-menu folder and the desktop shortcut.
  const std::string programs = p.shell->SpecialFolderPath(platform::SpecialFolder::CommonPrograms);
  if (!programs.empty()) (void)p.shell->DeleteTree(platform::JoinPath(programs, appName), false);
  const std::string desktop = p.shell->SpecialFolderPath(platform::SpecialFolder::CommonDesktop);
  if (!desktop.empty()) {
    p.files->RemoveFile(platform::JoinPath(desktop, appName + std::string(platform::ShortcutExtension())));
  }
  // 4. The uninstall entry.
  (void)p.registry->DeleteKey(platform::Hive::LocalMachine, std::string(kUninstallKeyBase) + appName);
  // 5. The user name survives a reinstallation in the user's hive.
  if (app.keepUserName) {
    SettingsRecord record(*p.files);
    record.LoadFrom(app.installDir.str());
    (void)RegWriteString(*p.registry, platform::Hive::CurrentUser, key, kUserNameValue, record.ReadUserName());
  }
  // 6. The folder, but only one that is an installation of this
  // application or that this session prepared: a registration naming
  // someone's folder must not cost them their files.
  if (!folder.empty()) {
    const bool ours = HoldsInstallationOf(*p.files, folder, appName) ||
                      (app.removeOnFailure && folder == app.installDir.str());
    if (ours) {
      (void)EmptyInstallationFolder(p, folder, appName, true);
    } else if (p.files->Exists(folder)) {
      Trace("Folder kept: not an installation of this application", "RemoveInstallation", {{"Dir", folder}});
    }
  }
  // 7. The registration, last: until the folder is gone the next run finds
  // it registered and incomplete, and takes the rest away.
  (void)p.registry->DeleteKey(platform::Hive::LocalMachine, key);
}

}  // namespace app
