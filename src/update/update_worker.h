// The update worker: one thread with its own message queue that asks the
// server for the client's file list, downloads and applies the files in a
// staging tree, gives the client modules their custom names and closes the
// exchange with the server, while it shows progress in the movie through
// synchronous calls into the installer dialog. The outcome of each run goes
// to the main thread as WM_APP_FILESET_DONE.
//
// Cancellation: once the user has confirmed leaving (SessionStats::userExit),
// the worker stops at its next check without a final code of its own, makes
// no further movie call and posts no result. While the dialog holds the
// worker (the exit question is open), the worker waits at its next check.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/installer_app.h"
#include "net/final_codes.h"
#include "app/settings_record.h"
#include "platform/http.h"
#include "platform/message_queue.h"
#include "update/dialog_link.h"
#include "update/file_list.h"

namespace update {

// Run mode of an installation (the only one the application uses).
inline constexpr int kRunModeInstall = 7;
// Capacity of the file-list reply. Larger than a single fixed buffer needs
// to be: the list has no limit on its records.
inline constexpr size_t kFileListReplyCapacity = 4u << 20;
inline constexpr size_t kEndProcessReplyCapacity = 10000;
// Largest read of a download.
inline constexpr size_t kDownloadChunk = 30720;
// The most attempts a file gets.
inline constexpr int kDownloadAttempts = 20;
// Stalls of one file that end its attempts early: a failed attempt that
// lasted at least the no-data time-out counts as a stall, and the second
// one fails the file at once, so that a stalling host costs two time-outs
// instead of twenty. Other failures keep every attempt.
inline constexpr int kStallsPerFile = 2;

// Step codes of the update engine.
enum Step : int32_t {
  kStepFileList = 20,
  kStepApply = 30,
  kStepSessionOpen = 40,
  kStepAttempt = 41,
  kStepAddressOpen = 42,
  kStepNextRead = 43,
  kStepNextChunk = 44,
  kStepChunkWritten = 45,
  kStepFileComplete = 46,
  kStepFileClosed = 47,
  kStepFirstRead = 48,
  kStepFirstChunk = 49,
  kStepAllEntries = 50,
  kStepCopyTree = 51,
  kStepRemoveWorkDirs = 52,
  kStepRefreshRecord = 53,
  kStepUserNameLookup = 54,
  kStepUserNameFound = 55,
  kStepCustomNames = 56,
  kStepEndProcess = 57,
  kStepAttemptsOver = 58,
  kStepApplyEnd = 60,
};

// Final codes of the update engine (net/final_codes.h).
using net::FinalCode;
using net::kFinalListActionCode;
using net::kFinalEndProcessRejected;
using net::kFinalListTransport;
using net::kFinalDownloadData;
using net::kFinalEndProcessUnknown;
using net::kFinalAddressOpen;
using net::kFinalLocalCreate;
using net::kFinalLocalClose;
using net::kFinalAddressClose;
using net::kFinalEndProcessTransport;
using net::kFinalCopyTree;
using net::kFinalSubDir;
using net::kFinalWorkDirCreate;
using net::kFinalWorkDirEmpty;
using net::kFinalDelete;
using net::kFinalRunProgram;
using net::kFinalCopyExtracted;
using net::kFinalExtract;

// The byte count as the movie shows it: "005b", "001k", "2.5M".
std::string FormatSize(uint32_t bytes);

// The eight values the dialog hands the worker before it starts, and the
// limits of its downloads.
struct WorkerConfig {
  WorkerConfig() = default;
  WorkerConfig(int mode, app::CInstallerApp* application, DialogLink* link, int32_t flashInstalled,
               int32_t flashVersion)
      : runMode(mode), app(application), dialog(link), fli(flashInstalled), flv(flashVersion) {}

  int runMode = kRunModeInstall;
  app::CInstallerApp* app = nullptr;  // not owned
  DialogLink* dialog = nullptr;       // not owned
  int32_t fli = 0;                    // the application's flashInstalled
  int32_t flv = 0;                    // the application's flashVersion
  // Limits of the run's file downloads; tests shorten them.
  platform::HttpTimeouts timeouts;
};

// Wall-clock durations of the last run's two heavy parts: the download of
// the entries (the entries loop) and the apply (the staging tree put in
// place and the work folders removed). Zero for a part the run did not reach.
struct PhaseTimes {
  double downloadSeconds = 0;
  double applySeconds = 0;
};

class CUpdateVersionFiles {
 public:
  // Nothing runs until Start. `config.app` and `config.dialog` must outlive
  // this object.
  explicit CUpdateVersionFiles(const WorkerConfig& config);
  // Stops the thread (as Stop) if it still runs.
  ~CUpdateVersionFiles();
  CUpdateVersionFiles(const CUpdateVersionFiles&) = delete;
  CUpdateVersionFiles& operator=(const CUpdateVersionFiles&) = delete;

  // Starts the thread at the lowest priority; its first run begins at once.
  // False, and nothing runs, when the system gives no thread.
  [[nodiscard]] bool Start();
  // Queues a complete new run (the movie's "Retry"); it starts when the
  // current run has ended. Any thread.
  void PostRun();
  // Holds the worker at its next check until Resume (the exit question is
  // open). Any thread.
  void Hold();
  void Resume();
  // Ends the thread's loop after the current run and waits for the thread.
  // The caller must keep handling the worker's movie calls (or release
  // them) while it waits. Main thread.
  void Stop();

  // One whole run, on the calling thread (the worker's, or a test's).
  void RunUpdate();

  // State of the last run, for tests and the dialog.
  int32_t RunResult() const { return runResult_; }
  size_t FileCount() const { return fileTable_.size(); }
  PhaseTimes LastPhaseTimes() const { return phaseTimes_; }

 private:
  // Steps of a run.
  int GetFileList(std::string& reply);
  void RecordSessionData(const std::string& reply);
  void FailListActionCode(int32_t actionCode, const std::string& reply);
  void FailIncompleteList(const std::string& reply);
  ListCheck CheckListOf(const std::string& reply) const;
  void FailUnusableList(const ListCheck& check, const std::string& reply);
  int ApplyFileSet(std::string& reply);
  int PrepareWorkDir(std::string& path, const char* name);
  int CreateSubDirs(std::string& path, const std::string& rd);
  std::string ExtractedPath(const FileEntry& entry) const;
  bool ExtractedFileUsable(const FileEntry& entry, const std::string& path) const;
  void ApplyEntry(platform::HttpDownloadSession& session, const FileEntry& entry);
  void ApplyArchive(platform::HttpDownloadSession& session, const FileEntry& entry);
  void ApplyWrite(platform::HttpDownloadSession& session, const FileEntry& entry);
  void ApplyRun(platform::HttpDownloadSession& session, const FileEntry& entry);
  void ApplyDelete(const FileEntry& entry);
  void FetchIntoStaging(platform::HttpDownloadSession& session, const FileEntry& entry, const std::string& path);
  const std::string* ReplacedWorkDir() const;
  bool FailReplacedWorkDir();
  bool FailHostilePath(const FileEntry& entry, int32_t finalCode);
  void FinishEntryFailure(int32_t finalCode, const std::string& path, const FileEntry& entry, const char* detail,
                          const net::ReportPairs& pairs);
  void FinishInstalledSet(const std::string& reply);
  int CopyUpdateTree();
  void RemoveWorkDirs();
  // Returns 0, or runResult_ after FailSettingsRecord.
  int RefreshSettingsRecord(const std::string& reply);
  void FailSettingsRecord();
  int RenameClientFiles();
  int CommunicateEndProcess();

  // Downloads.
  int DownloadFile(platform::HttpDownloadSession& session, const FileEntry& entry, const std::string& localPath);
  int DownloadAttempt(platform::HttpDownloadSession& session, const FileEntry& entry, const std::string& localPath,
                      int32_t* code);
  int CopyExtractedFile(const std::string& extracted, const std::string& target, const FileEntry& entry);
  void UpdateRate();
  int64_t NowSeconds() const;
  // The five fields of "SetProgress": bytes done and listed (as shown),
  // rate, fraction of the file, and bytes of the run done so far.
  std::string ProgressText(const std::string& done, const std::string& listed, double fileFraction,
                           double runDone) const;

  // Thread and movie.
  void ThreadMain();
  void CallMovie(const char* function, const std::optional<std::string>& parameter);
  bool Cancelled();
  void Status(const char* line);
  std::string IdentityFields();
  net::Reports& Reports() { return app_.Reports(); }

  WorkerConfig config_;
  app::CInstallerApp& app_;
  platform::Platform platform_;
  app::SettingsRecord record_;
  platform::MessageQueue queue_;
  std::thread thread_;

  std::mutex holdLock_;
  std::condition_variable holdChanged_;
  bool held_ = false;

  std::vector<FileEntry> fileTable_;
  int32_t runResult_ = 0;
  uint32_t attempt_ = 0;
  uint32_t expectedBytes_ = 0;
  uint32_t receivedBytes_ = 0;
  double completedBytes_ = 0;
  double totalBytes_ = 0;
  double downloadedBytes_ = 0;
  int64_t startTime_ = 0;
  std::string installDir_;
  std::string updateDir_;
  std::string extractDir_;
  bool archiveExtracted_ = false;
  int lastSystemError_ = 0;  // system error of the last failing local file operation
  PhaseTimes phaseTimes_;
};

}  // namespace update
