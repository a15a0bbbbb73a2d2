// Applying a file list: work folders, the entries in list order, the move of
// the staging tree over the installation, the settings record, the client
// modules' names and the end of the exchange with the server.
#include <chrono>

#include "app/install_location.h"
#include "platform/path.h"
#include "update/update_worker.h"

namespace update {

namespace {

constexpr size_t kUserNameWidth = 101;

using PhaseClock = std::chrono::steady_clock;

double SecondsSince(PhaseClock::time_point start) {
  return std::chrono::duration<double>(PhaseClock::now() - start).count();
}

}  // namespace

int CUpdateVersionFiles::ApplyFileSet(std::string& reply) {
  // 1. A fresh run.
  app_.SetStep(kStepApply);
  completedBytes_ = totalBytes_ = downloadedBytes_ = 0;
  fileTable_.clear();
  phaseTimes_ = PhaseTimes{};
  installDir_ = app_.installDir.str();

  // 2. The work folders.
  Status("STATUS: 01 Before creating update directory");
  const int updateResult = PrepareWorkDir(updateDir_, "Update");
  const int extractResult = PrepareWorkDir(extractDir_, "Extract");
  if (updateResult != 0 || extractResult != 0) {
    runResult_ = 1;
  } else {
    // 3. The list.
    Status("STATUS: 02 After creating update directory");
    ParsedFileList list = ParseFileList(reply);
    fileTable_ = std::move(list.entries);
    totalBytes_ = list.totalBytes;

    // 4. One download session for the whole run.
    OpenDownloads();
    app_.SetStep(kStepSessionOpen);
    CallMovie("Performing", config_.runMode == kRunModeInstall ? "Install" : "Update");
    app_.stats.tDL = platform_.system->TickCount();
    startTime_ = NowSeconds();

    // 5. The entries, strictly in list order.
    const PhaseClock::time_point downloadStart = PhaseClock::now();
    for (const FileEntry& entry : fileTable_) {
      if (runResult_ != 0 || Cancelled()) break;
      ApplyEntry(entry);
    }
    // 6.
    CloseDownloads();
    phaseTimes_.downloadSeconds = SecondsSince(downloadStart);
    Status("STATUS: 03 After downloading all files");
    app_.SetStep(kStepAllEntries);

    // 7.-9. Only a complete set reaches the installation.
    if (!Cancelled() && runResult_ == 0) {
      app_.SetStep(kStepCopyTree);
      const PhaseClock::time_point applyStart = PhaseClock::now();
      const int copied = CopyUpdateTree();
      phaseTimes_.applySeconds = SecondsSince(applyStart);
      if (copied != 0) {
        runResult_ = copied;
        Reports().FinishReport(kFinalCopyTree, true, {installDir_, updateDir_});
        Reports().ErrorReport("Directory copying failed",
                              {net::ReportPair{"From", updateDir_}, net::ReportPair{"To", installDir_}});
      } else if (!Cancelled()) {
        FinishInstalledSet(reply);
      }
    }
  }
  // 10.
  app_.SetStep(kStepApplyEnd);
  Status("STATUS: 10 Before sending end pixel");
  return runResult_;
}

// The set is in place: tidy up, refresh the settings record, restore the
// user name, give the modules their names and tell the server.
void CUpdateVersionFiles::FinishInstalledSet(const std::string& reply) {
  app_.SetStep(kStepRemoveWorkDirs);
  const PhaseClock::time_point removeStart = PhaseClock::now();
  RemoveWorkDirs();
  phaseTimes_.applySeconds += SecondsSince(removeStart);
  app_.SetStep(kStepRefreshRecord);
  if (RefreshSettingsRecord(reply) != 0 || Cancelled()) return;
  app_.SetStep(kStepUserNameLookup);
  std::string userName;
  if (app::RegReadString(*platform_.registry, platform::Hive::CurrentUser, app_.appRegKey.str(),
                         app::kUserNameValue, &userName, kUserNameWidth) == 0) {
    app_.SetStep(kStepUserNameFound);
    if (record_.SetUserName(userName) != app::DataResult::Ok) {
      FailSettingsRecord();
      return;
    }
  }
  if (Cancelled()) return;
  app_.SetStep(kStepCustomNames);
  Status("STATUS: 04 Before changing to custum file names");
  runResult_ = RenameClientFiles();
  if (runResult_ == 0 && !Cancelled()) {
    app_.SetStep(kStepEndProcess);
    Status("STATUS: 05 Before sending end process message");
    runResult_ = CommunicateEndProcess();
    Status("STATUS: 09 After sending end process message");
  }
}

int CUpdateVersionFiles::PrepareWorkDir(std::string& path, const char* name) {
  path = platform::JoinPath(installDir_, name);
  // A link in the work folder's place is taken away, never followed.
  if (platform_.files->IsLink(path)) (void)platform_.files->RemoveFile(path);
  if (platform_.files->Exists(path)) {
    const int result = platform_.shell->DeleteTree(path, true);
    if (result != 0) {
      Reports().FinishReport(kFinalWorkDirEmpty, true, {path});
      Reports().ErrorReport("Directory files deletion failed", {net::ReportPair{"Dir", path}});
      return result;
    }
    return 0;
  }
  if (!platform_.files->MakeDirectory(path)) {
    Reports().FinishReport(kFinalWorkDirCreate, true, {path});
    Reports().ErrorReport("Directory creation failed", {net::ReportPair{"Dir", path}});
    return 1;
  }
  return 0;
}

int CUpdateVersionFiles::CreateSubDirs(std::string& path, const std::string& rd) {
  if (rd.empty()) return 0;
  if (!StaysInside(rd)) {
    // A folder that would leave the installation is never made.
    platform_.system->SetLastErrorCode(0);
    Reports().FinishReport(kFinalSubDir, false, {path, rd});
    Reports().ErrorReport("Directory creation failed",
                          {net::ReportPair{"Dir", path}, net::ReportPair{"SubDir", rd}});
    return 1;
  }
  int result = 0;
  for (const std::string& part : FolderParts(rd)) {
    path = platform::JoinPath(path, part);
    if (platform_.files->IsLink(path)) {
      // A link inside the installation may point anywhere: not followed.
      platform_.system->SetLastErrorCode(0);
      Reports().FinishReport(kFinalSubDir, false, {path, rd});
      Reports().ErrorReport("Directory creation failed",
                            {net::ReportPair{"Dir", path}, net::ReportPair{"SubDir", rd}});
      return 1;
    }
    if (platform_.files->IsDirectory(path)) continue;
    if (!platform_.files->MakeDirectory(path)) {
      result = 1;
      Reports().FinishReport(kFinalSubDir, true, {path, rd});
      Reports().ErrorReport("Directory creation failed",
                            {net::ReportPair{"Dir", path}, net::ReportPair{"SubDir", rd}});
    }
  }
  return result;
}

std::string CUpdateVersionFiles::ExtractedPath(const FileEntry& entry) const {
  const std::string member = entry.ArchiveMemberName();
  if (entry.Rd().empty()) return platform::JoinPath(extractDir_, member);
  return platform::JoinPath(platform::JoinPath(extractDir_, entry.Rd()), member);
}

bool CUpdateVersionFiles::ExtractedFileUsable(const FileEntry& entry, const std::string& path) const {
  const int64_t size = platform_.files->FileSize(path);
  return size >= 0 && static_cast<uint64_t>(size) == entry.ExpectedBytes();
}

// A name or folder of the list that would leave its folder fails the entry
// before anything is written or deleted.
// The same holds for every folder of every entry kind, and for names that
// would land in a work folder.
bool CUpdateVersionFiles::FailHostilePath(const FileEntry& entry, int32_t finalCode) {
  const bool inside = StaysInside(entry.Fn()) && StaysInside(entry.Rd()) && StaysInside(entry.ArchiveMemberName());
  const bool workFolder = inside && InWorkFolder(platform::JoinPath(entry.Rd(), entry.Fn()));
  if (inside && !workFolder) return false;
  runResult_ = 1;
  platform_.system->SetLastErrorCode(0);
  Reports().FinishReport(finalCode, false, {entry.Fn(), entry.Rd(), entry.Fs(), entry.Url()});
  Reports().ErrorReport(inside ? "File name of a work folder refused" : "File name outside the installation folder refused",
                        {net::ReportPair{"File", entry.Fn()}, net::ReportPair{"URL", entry.Url()}});
  return true;
}

// The work folders must still be the folders this run made: one replaced by
// a link meanwhile would receive the downloads elsewhere, run a program
// found there, or have a file there deleted. Checked before each entry and
// again right before a file is written or a program run in them.
const std::string* CUpdateVersionFiles::ReplacedWorkDir() const {
  for (const std::string* dir : {&updateDir_, &extractDir_}) {
    if (platform_.files->IsLink(*dir)) return dir;
  }
  return nullptr;
}

bool CUpdateVersionFiles::FailReplacedWorkDir() {
  const std::string* dir = ReplacedWorkDir();
  if (dir == nullptr) return false;
  runResult_ = 1;
  platform_.system->SetLastErrorCode(0);
  Reports().FinishReport(kFinalWorkDirCreate, false, {*dir});
  Reports().ErrorReport("Directory creation failed", {net::ReportPair{"Dir", *dir}});
  return true;
}

void CUpdateVersionFiles::FinishEntryFailure(int32_t finalCode, const std::string& path, const FileEntry& entry,
                                             const char* detail, const net::ReportPairs& pairs) {
  Reports().FinishReport(finalCode, true, {path, entry.Fn(), entry.Fs(), entry.Url()});
  Reports().ErrorReport(detail, pairs);
}

void CUpdateVersionFiles::ApplyEntry(const FileEntry& entry) {
  if (FailReplacedWorkDir()) return;
  switch (entry.Operation()) {
    case 'X':
      ApplyArchive(entry);
      break;
    case 'W':
      ApplyWrite(entry);
      break;
    case 'R':
      ApplyRun(entry);
      break;
    case 'D':
      ApplyDelete(entry);
      break;
    default:
      break;  // any other letter: nothing to do
  }
}

// "X": download a self-extracting archive into the extract folder and run it
// there; the files it unpacks serve the entries that follow.
void CUpdateVersionFiles::ApplyArchive(const FileEntry& entry) {
  if (FailHostilePath(entry, kFinalExtract)) return;
  const std::string path = platform::JoinPath(extractDir_, entry.Fn());
  runResult_ = DownloadFile(entry, path);
  if (runResult_ == 0 && !Cancelled()) {
    if (FailReplacedWorkDir()) return;  // neither run nor delete what lies behind the link
    const int ran = platform_.processes->RunProgram(extractDir_, entry.Fn(), std::nullopt, false, true);
    if (ran != 0) {
      runResult_ = ran;
      FinishEntryFailure(kFinalExtract, path, entry, "Cannot extract archive", {net::ReportPair{"File", entry.Fn()}});
    } else {
      archiveExtracted_ = true;
    }
  }
  if (ReplacedWorkDir() == nullptr) platform_.files->RemoveFile(path);
}

// Steps 3 and 4 of "W", shared by "R": the extracted copy when an archive
// supplies the file with its listed size, otherwise a download.
void CUpdateVersionFiles::FetchIntoStaging(const FileEntry& entry,
                                           const std::string& path) {
  const std::string extracted = ExtractedPath(entry);
  if (archiveExtracted_ && ExtractedFileUsable(entry, extracted)) {
    if (CopyExtractedFile(extracted, path, entry) != 0) {
      runResult_ = 1;
      FinishEntryFailure(kFinalCopyExtracted, path, entry, "Copying of Extracted File failed",
                         {net::ReportPair{"File", entry.Fn()}});
    }
    return;
  }
  runResult_ = DownloadFile(entry, path);
}

void CUpdateVersionFiles::ApplyWrite(const FileEntry& entry) {
  std::string path = updateDir_;
  if (!Cancelled()) runResult_ = CreateSubDirs(path, entry.Rd());
  if (runResult_ != 0 || Cancelled()) return;
  if (FailHostilePath(entry, kFinalLocalCreate)) return;
  path = platform::JoinPath(path, entry.Fn());
  if (Cancelled()) return;
  FetchIntoStaging(entry, path);
}

// "R": a program that runs in the staging folder and is deleted after it
// ran, so that it never reaches the installation.
void CUpdateVersionFiles::ApplyRun(const FileEntry& entry) {
  if (FailHostilePath(entry, kFinalRunProgram)) return;
  const std::string path = platform::JoinPath(updateDir_, entry.Fn());
  if (!Cancelled()) FetchIntoStaging(entry, path);
  if (runResult_ == 0 && !Cancelled()) {
    if (FailReplacedWorkDir()) return;  // neither run nor delete what lies behind the link
    const int ran = platform_.processes->RunProgram(updateDir_, entry.Fn(), std::nullopt, false, true);
    if (ran != 0) {
      runResult_ = ran;
      FinishEntryFailure(kFinalRunProgram, path, entry, "Running the Extracted File failed",
                         {net::ReportPair{"Dir", updateDir_}, net::ReportPair{"File", entry.Fn()}});
    }
  }
  if (ReplacedWorkDir() == nullptr) platform_.files->RemoveFile(path);
}

void CUpdateVersionFiles::ApplyDelete(const FileEntry& entry) {
  std::string path = installDir_;
  if (!Cancelled()) runResult_ = CreateSubDirs(path, entry.Rd());
  if (runResult_ != 0 || Cancelled()) return;
  if (FailHostilePath(entry, kFinalDelete)) return;
  path = platform::JoinPath(path, entry.Fn());
  if (platform_.files->Exists(path) && !platform_.files->RemoveFile(path)) {
    runResult_ = 1;
    Reports().FinishReport(kFinalDelete, true, {path, entry.Fn(), entry.Fs(), entry.Url()});
    Reports().ErrorReport("File deletion failed", {net::ReportPair{"File", path}});
  }
}

int CUpdateVersionFiles::CopyUpdateTree() { return platform_.shell->MoveTree(updateDir_, installDir_); }

void CUpdateVersionFiles::RemoveWorkDirs() {
  (void)platform_.shell->DeleteTree(updateDir_, false);
  (void)platform_.shell->DeleteTree(extractDir_, false);
}

// The reply has been cut by the list walk: only the fields before "~fl="
// (and those of the first record) are seen.
int CUpdateVersionFiles::RefreshSettingsRecord(const std::string& reply) {
  if (record_.ApplyServerReply(reply, app_.clientPrefix.str()) == app::DataResult::Ok) return 0;
  FailSettingsRecord();
  return runResult_;
}

// The client relies on its record: a save that fails fails the run.
void CUpdateVersionFiles::FailSettingsRecord() {
  runResult_ = 1;
  Reports().FinishReport(app::kFinalSettingsRecordSave, true, {app::kSettingsFile});
  Reports().ErrorReport("Settings file saving failed", {net::ReportPair{"File", app::kSettingsFile}});
}

int CUpdateVersionFiles::RenameClientFiles() {
  static constexpr const char* kModules[] = {"Salon.exe", "Wirex.dll", "Tavrel.dll", "WebPane.exe"};
  platform::FileSystem& files = *platform_.files;
  for (const char* module : kModules) {
    const std::string plain = platform::JoinPath(installDir_, module);
    if (!files.Exists(plain)) continue;
    const std::string customName = record_.ClientProgramPath(module);
    const std::string custom = platform::JoinPath(installDir_, customName);
    bool clear = !files.Exists(custom) || files.RemoveFile(custom);
    if (!clear) {
      // A running client holds its module: stop it and try once more.
      const int stopped = app::StopProcessesByPrefix(*platform_.processes, customName, installDir_);
      if (stopped == 0) {
        Reports().ErrorReport("Terminate Process Failed. rc=0", {net::ReportPair{"Process", customName}});
        continue;
      }
      clear = files.RemoveFile(custom);
      if (!clear) {
        Reports().ErrorReport("File Deletion Failed", {net::ReportPair{"File", customName}});
        return 1;
      }
    }
    // A module that keeps its plain name would leave the client without it:
    // a failed rename fails the run instead of passing as success.
    if (!files.MoveOneFile(plain, custom)) {
      Reports().ErrorReport("File Rename Failed", {net::ReportPair{"File", customName}});
      return 1;
    }
  }
  return 0;
}

}  // namespace update
