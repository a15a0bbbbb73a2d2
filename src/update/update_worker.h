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

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/installer_app.h"
#include "build_config.h"
#include "net/final_codes.h"
#include "app/settings_record.h"
#include "platform/http.h"
#include "platform/message_queue.h"
#include "update/dialog_link.h"
#include "update/file_fetch.h"
#include "update/file_list.h"
#include "update/progress_publisher.h"

namespace update {

// Run mode of an installation (the only one the application uses).
inline constexpr int kRunModeInstall = 7;
// Capacity of the file-list reply. Larger than a single fixed buffer needs
// to be: the list has no limit on its records.
inline constexpr size_t kFileListReplyCapacity = 4u << 20;
inline constexpr size_t kEndProcessReplyCapacity = 10000;
// Largest read of a download.
inline constexpr size_t kDownloadChunk = 30720;
// Files fetched at once, and connections per file host where the host does
// not multiplex (build settings).
inline constexpr int kParallelFiles = build_config::kParallelFiles;
inline constexpr int kHostConnections = build_config::kHostConnections;
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

// Downloads: the "W", "X" and "R" files up to the next "X" or "R" entry
// (whose archive may supply later files) are fetched ahead, several at
// once, while the entries' actions keep the list's order: an entry's file
// is waited for when its turn comes, and its failure is reported then, so
// the first failure in list order decides the final code. A file that
// fails for good ends the transfers of the files after it (their partial
// files are removed); cancellation ends every transfer at once.
class CUpdateVersionFiles : private platform::DownloadReceiver {
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
  void ApplyEntry(const FileEntry& entry);
  void ApplyArchive(const FileEntry& entry);
  void ApplyWrite(const FileEntry& entry);
  void ApplyRun(const FileEntry& entry);
  void ApplyDelete(const FileEntry& entry);
  void FetchIntoStaging(const FileEntry& entry, const std::string& path);
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

  // Downloads (download.cpp).
  void OpenDownloads();
  void CloseDownloads();
  // Waits for the entry's file (fetched ahead, or fetched now) and reports
  // its failure. Returns 0 on success, 1 on failure or cancellation.
  int DownloadFile(const FileEntry& entry, const std::string& localPath);
  void FetchAhead();
  // The local path of an entry fetched ahead; false when the entry waits
  // for its turn (its folders cannot be made quietly, its name is refused,
  // an archive supplies it, or a work folder was replaced).
  bool AheadPath(const FileEntry& entry, std::string* path);
  FileFetch& StartFetch(size_t index, const std::string& path);
  void BeginAttempt(FileFetch& fetch);
  void EndAttempt(FileFetch& fetch, const platform::DownloadOutcome& outcome);
  bool RetryOrFail(FileFetch& fetch, bool busy);
  void DropFetches(size_t firstIndex);
  size_t FetchesOnTheWire() const;
  FileFetch* FetchOf(uint64_t transfer);
  void ShowProgress(bool now);
  bool Started(uint64_t id, uint64_t firstByte) override;
  bool Received(uint64_t id, const char* data, size_t size) override;
  void Ended(uint64_t id, const platform::DownloadOutcome& outcome) override;
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
  double completedBytes_ = 0;
  double totalBytes_ = 0;
  double downloadedBytes_ = 0;
  int64_t startTime_ = 0;
  std::string installDir_;
  std::string updateDir_;
  std::string extractDir_;
  bool archiveExtracted_ = false;
  PhaseTimes phaseTimes_;

  // The downloads of the run under way.
  std::unique_ptr<platform::HttpDownloadSession> session_;
  std::unique_ptr<platform::DownloadBatch> batch_;
  std::unique_ptr<ProgressPublisher> progress_;
  std::map<size_t, std::unique_ptr<FileFetch>> fetches_;  // by entry index
  std::map<uint64_t, FileFetch*> onTheWire_;              // by transfer id
  size_t cursor_ = 0;                                     // the entry whose action is next
  size_t failedAt_ = SIZE_MAX;                            // the first entry whose file failed for good
  size_t window_ = kParallelFiles;                        // files on the wire at most
  std::chrono::steady_clock::time_point lastShown_;
  std::string lastDoneName_;  // the file done last, shown when none is on its way
  uint32_t lastDoneSize_ = 0;
};

}  // namespace update
