// Downloads of the file list's entries: fetched ahead and in parallel on the
// run's one session, each file with its own attempts, size bound and codes,
// a retry resuming after the bytes already written; progress in the movie
// from the publisher's thread; and the copy of a file that an extracted
// archive supplies.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "net/http_post.h"
#include "platform/path.h"
#include "update/update_worker.h"

namespace update {

namespace {

using Clock = std::chrono::steady_clock;

// Longest wait for transfer events; the cancel flag is checked after it.
constexpr int kPumpWaitMs = 100;
// Progress goes to the publisher at most this often: four times a second
// reads well, and each call costs a movie drawn by a web engine on the same
// machine about a millisecond of CPU.
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
// No further file starts while the files on the wire still have this many
// bytes to come: small files go in parallel, large ones one after the
// other, so the disk writes few files at once.
constexpr uint64_t kBytesAhead = 32ull * 1024 * 1024;

}  // namespace

std::string FormatSize(uint32_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%03ub", bytes);
  } else if (bytes < 1047040) {
    std::snprintf(text, sizeof text, "%03uk", (bytes + 512) / 1024);
  } else {
    std::snprintf(text, sizeof text, "%1.1fM", bytes / 1048576.0);
  }
  return text;
}

int64_t CUpdateVersionFiles::NowSeconds() const {
  return static_cast<int64_t>(platform::UnixSecondsFromFileTime(platform_.system->SystemTimeAsFileTime()));
}

// The average rate of the run so far, in kilobytes per second.
void CUpdateVersionFiles::UpdateRate() {
  const int64_t elapsed = NowSeconds() - startTime_;
  const double kbs = elapsed > 0 ? downloadedBytes_ / 1024.0 / static_cast<double>(elapsed) : downloadedBytes_ / 1024.0;
  app_.stats.kbs = kbs;
}

std::string CUpdateVersionFiles::ProgressText(const std::string& done, const std::string& listed,
                                              double fileFraction, double runDone) const {
  const double runFraction = totalBytes_ > 0 ? std::min(1.0, runDone / totalBytes_) : 1.0;
  char text[256];
  std::snprintf(text, sizeof text, "%s~%s~%.1f~%f~%f", done.c_str(), listed.c_str(), app_.stats.kbs.load(),
                fileFraction, runFraction);
  return text;
}

// --- The run's downloads ----------------------------------------------------

void CUpdateVersionFiles::OpenDownloads() {
  session_ = platform_.http->OpenSession(app_.appName.str(), config_.timeouts);
  batch_ = session_->NewBatch(kHostConnections);
  progress_ = std::make_unique<ProgressPublisher>(
      [this](const char* function, const std::string& parameter) { CallMovie(function, parameter); },
      kProgressInterval);
  fetches_.clear();
  onTheWire_.clear();
  cursor_ = 0;
  failedAt_ = SIZE_MAX;
  window_ = kParallelFiles;
  lastShown_ = {};
  lastDoneName_.clear();
}

void CUpdateVersionFiles::CloseDownloads() {
  // Files still on their way belong to entries the run did not reach.
  DropFetches(0);
  if (!Cancelled()) {
    ShowProgress(true);
    progress_->Flush();
  }
  progress_.reset();
  batch_.reset();
  session_.reset();
}

int CUpdateVersionFiles::DownloadFile(const FileEntry& entry, const std::string& localPath) {
  const size_t index = static_cast<size_t>(&entry - fileTable_.data());
  cursor_ = index;
  FetchAhead();  // the window moves on with the cursor
  auto found = fetches_.find(index);
  if (found != fetches_.end() && found->second->path != localPath) {
    DropFetches(index);  // fetched ahead for another place: start afresh
    found = fetches_.end();
  }
  FileFetch& fetch = found != fetches_.end() ? *found->second : StartFetch(index, localPath);
  while (fetch.state == FileFetch::State::Waiting || fetch.state == FileFetch::State::Running) {
    if (Cancelled()) {
      DropFetches(0);
      return 1;
    }
    FetchAhead();
    batch_->Pump(*this, kPumpWaitMs);
    ShowProgress(false);
  }
  app_.SetStep(kStepAttemptsOver);
  const bool ok = fetch.state == FileFetch::State::Done;
  const std::unique_ptr<FileFetch> done = std::move(fetches_[index]);
  fetches_.erase(index);
  if (Cancelled()) return ok ? 0 : 1;
  platform::LogLine(platform_.log, "file " + entry.Fn() + ", " + entry.Fs() + " bytes listed, " +
                                       std::to_string(done->attempts) + " attempt(s): " +
                                       (ok ? std::string("complete")
                                           : "failed, code " + std::to_string(done->code) + " " + done->why));
  if (ok) {
    ++app_.stats.dlFileCount;
    lastDoneName_ = entry.Fn();
    lastDoneSize_ = done->expected;
    return 0;
  }
  net::SetLastTransportFailure(done->why);
  platform_.system->SetLastErrorCode(done->systemError);
  Reports().FinishReport(done->code, true, {entry.Fn(), localPath, entry.Fs(), std::to_string(done->received)});
  Reports().ErrorReport("File Download failed",
                        {net::ReportPair{"URL", entry.Url()}, net::ReportPair{"File", localPath}});
  return 1;
}

// Starts the files of the entries from the cursor up to the next "X" or
// "R" entry (its own file included) while there is room on the wire; files
// that wait for room after a busy answer go first.
void CUpdateVersionFiles::FetchAhead() {
  const auto room = [this] {
    uint64_t toCome = 0;
    for (const auto& [transfer, fetch] : onTheWire_) {
      toCome += fetch->expected - std::min<uint64_t>(fetch->expected, fetch->BytesDone());
    }
    return FetchesOnTheWire() < window_ && toCome < kBytesAhead;
  };
  for (auto& [index, fetch] : fetches_) {
    if (fetch->state != FileFetch::State::Waiting) continue;
    if (!room()) return;
    BeginAttempt(*fetch);
  }
  for (size_t i = cursor_; i < fileTable_.size() && i < failedAt_ && room(); ++i) {
    const FileEntry& entry = fileTable_[i];
    const char op = entry.Operation();
    const bool barrier = op == 'X' || op == 'R';
    if ((op == 'W' || barrier) && fetches_.count(i) == 0) {
      std::string path;
      if (AheadPath(entry, &path)) StartFetch(i, path);
    }
    if (barrier) break;
  }
}

bool CUpdateVersionFiles::AheadPath(const FileEntry& entry, std::string* path) {
  const bool inside = StaysInside(entry.Fn()) && StaysInside(entry.Rd()) && StaysInside(entry.ArchiveMemberName());
  if (!inside || InWorkFolder(platform::JoinPath(entry.Rd(), entry.Fn()))) return false;
  if (platform_.files->IsLink(updateDir_) || platform_.files->IsLink(extractDir_)) return false;
  if (entry.Operation() == 'X') {
    *path = platform::JoinPath(extractDir_, entry.Fn());
  } else {
    if (archiveExtracted_ && ExtractedFileUsable(entry, ExtractedPath(entry))) return false;
    std::string folder = updateDir_;
    if (entry.Operation() == 'W') {
      for (const std::string& part : FolderParts(entry.Rd())) {
        folder = platform::JoinPath(folder, part);
        if (platform_.files->IsLink(folder)) return false;
        if (!platform_.files->IsDirectory(folder) && !platform_.files->MakeDirectory(folder)) return false;
      }
    }
    *path = platform::JoinPath(folder, entry.Fn());
  }
  // Two entries of one place are fetched one after the other, in order.
  for (const auto& [index, fetch] : fetches_) {
    if (fetch->path == *path) return false;
  }
  return true;
}

FileFetch& CUpdateVersionFiles::StartFetch(size_t index, const std::string& path) {
  auto fetch = std::make_unique<FileFetch>();
  fetch->index = index;
  fetch->entry = &fileTable_[index];
  fetch->path = path;
  fetch->expected = fetch->entry->ExpectedBytes();
  FileFetch& started = *fetch;
  fetches_[index] = std::move(fetch);
  BeginAttempt(started);
  return started;
}

void CUpdateVersionFiles::BeginAttempt(FileFetch& fetch) {
  app_.SetStep(kStepAttempt);
  fetch.received = fetch.written = 0;
  fetch.code = 0;
  fetch.systemError = 0;
  fetch.why.clear();
  // A retry asks for the rest of the file when the server has kept to the
  // ranges so far; otherwise the file starts over.
  fetch.from = fetch.resumable && fetch.writer && fetch.kept > 0 && fetch.kept < fetch.expected ? fetch.kept : 0;
  if (fetch.from == 0) fetch.StartOver();
  fetch.attemptStartTick = platform_.system->TickCount();
  fetch.state = FileFetch::State::Running;
  fetch.transfer = batch_->Begin({fetch.entry->Url(), fetch.from, fetch.expected});
  onTheWire_[fetch.transfer] = &fetch;
}

FileFetch* CUpdateVersionFiles::FetchOf(uint64_t transfer) {
  const auto found = onTheWire_.find(transfer);
  return found == onTheWire_.end() ? nullptr : found->second;
}

size_t CUpdateVersionFiles::FetchesOnTheWire() const { return onTheWire_.size(); }

bool CUpdateVersionFiles::Started(uint64_t id, uint64_t firstByte) {
  FileFetch* fetch = FetchOf(id);
  if (fetch == nullptr) return false;
  app_.SetStep(kStepAddressOpen);
  if (fetch->from > 0 && firstByte == fetch->from) {
    app_.SetStep(kStepFirstRead);
    return true;  // the rest of the file follows the bytes kept
  }
  if (firstByte != 0) {
    // A range other than the one asked for: nothing of it is spliced in,
    // and the file starts over on its next attempt.
    fetch->code = kFinalDownloadData;
    fetch->why = "the server answered with another byte range";
    fetch->resumable = false;
    return false;
  }
  // The whole file: it starts over.
  fetch->StartOver();
  // A work folder replaced by a link: nothing may be written behind it.
  if (ReplacedWorkDir() != nullptr) {
    fetch->code = kFinalWorkDirCreate;
    fetch->why = "a work folder was replaced by a link";
    return false;
  }
  std::string why;
  std::unique_ptr<platform::File> file = platform_.files->CreateForWrite(fetch->path, &why);
  if (!file) {
    fetch->systemError = platform_.system->LastErrorCode();
    fetch->code = kFinalLocalCreate;
    fetch->why = why;
    return false;
  }
  fetch->writer = std::make_unique<FileWriter>(std::move(file), fetch->expected);
  app_.SetStep(kStepFirstRead);
  return true;
}

bool CUpdateVersionFiles::Received(uint64_t id, const char* data, size_t size) {
  FileFetch* fetch = FetchOf(id);
  if (fetch == nullptr || !fetch->writer) return false;
  app_.SetStep(fetch->received == 0 ? kStepFirstChunk : kStepNextChunk);
  // Never past the listed size: a server sending more than it listed must
  // not fill the disk.
  if (fetch->kept + fetch->received + size > fetch->expected) {
    fetch->received += static_cast<uint32_t>(size);
    fetch->code = kFinalDownloadData;
    fetch->why = "more bytes than the list names";
    return false;
  }
  if (!fetch->writer->Append(data, size)) {
    fetch->systemError = platform_.system->LastErrorCode();
    fetch->code = kFinalDownloadData;
    return false;
  }
  app_.SetStep(kStepChunkWritten);
  fetch->received += static_cast<uint32_t>(size);
  fetch->written += static_cast<uint32_t>(size);
  downloadedBytes_ += static_cast<double>(size);
  UpdateRate();
  ShowProgress(false);
  return true;
}

void CUpdateVersionFiles::Ended(uint64_t id, const platform::DownloadOutcome& outcome) {
  FileFetch* fetch = FetchOf(id);
  if (fetch == nullptr) return;
  onTheWire_.erase(id);
  EndAttempt(*fetch, outcome);
}

void CUpdateVersionFiles::EndAttempt(FileFetch& fetch, const platform::DownloadOutcome& outcome) {
  bool failed = !outcome.ok || fetch.code != 0;
  if (!failed && fetch.BytesDone() != fetch.expected) {
    fetch.code = kFinalDownloadData;
    fetch.why = "the reply ended after " + std::to_string(fetch.received) + " bytes";
    failed = true;
  }
  if (!failed && !fetch.writer->Flush()) {
    fetch.systemError = platform_.system->LastErrorCode();
    fetch.code = kFinalDownloadData;
    failed = true;
  }
  if (!failed) {
    app_.SetStep(kStepFileComplete);
    const bool closed = fetch.writer->Close();
    fetch.writer.reset();
    if (closed) {
      app_.SetStep(kStepFileClosed);
      fetch.state = FileFetch::State::Done;
      completedBytes_ += fetch.expected;
      return;
    }
    fetch.systemError = platform_.system->LastErrorCode();
    fetch.code = kFinalLocalClose;
    fetch.kept = 0;
  } else if (fetch.writer) {
    // What arrived stays in the file for the next attempt to resume after.
    if (fetch.writer->Flush()) {
      fetch.kept += fetch.written;
    } else {
      fetch.kept = 0;
      fetch.resumable = false;
    }
  }
  if (fetch.code == 0) fetch.code = outcome.started ? kFinalDownloadData : kFinalAddressOpen;
  if (fetch.why.empty()) fetch.why = outcome.failure;
  if (!RetryOrFail(fetch, outcome.busy)) {
    fetch.state = FileFetch::State::Failed;
    failedAt_ = std::min(failedAt_, fetch.index);
    DropFetches(fetch.index + 1);
  }
}

// True when the file gets another attempt (now, or once there is room).
bool CUpdateVersionFiles::RetryOrFail(FileFetch& fetch, bool busy) {
  // A server that turns requests away while others of the run are on the
  // wire allows fewer at once: the run goes on with fewer, and this
  // attempt does not count against the file.
  if (busy && FetchesOnTheWire() > 0) {
    window_ = std::max<size_t>(1, FetchesOnTheWire());
    fetch.state = FileFetch::State::Waiting;
    return true;
  }
  ++fetch.attempts;
  // A work folder replaced by a link: no attempt may write there.
  if (fetch.code == kFinalWorkDirCreate) return false;
  // A failed attempt that lasted the no-data time-out is a stall; the
  // file's remaining attempts are given up once stalls repeat.
  const uint32_t stallMs = static_cast<uint32_t>(config_.timeouts.idleSeconds) * 1000u;
  if (platform_.system->TickCount() - fetch.attemptStartTick >= stallMs && ++fetch.stalls >= kStallsPerFile) {
    return false;
  }
  if (fetch.attempts >= static_cast<uint32_t>(kDownloadAttempts)) return false;
  ++app_.stats.dlRetryCount;
  if (fetch.attempts == 1) ++app_.stats.dlRetryFiles;
  BeginAttempt(fetch);
  return true;
}

// Ends the fetches of the entries from `firstIndex` on that are not done:
// their transfers stop and their partial files are removed.
void CUpdateVersionFiles::DropFetches(size_t firstIndex) {
  for (auto it = fetches_.lower_bound(firstIndex); it != fetches_.end();) {
    FileFetch& fetch = *it->second;
    if (fetch.state == FileFetch::State::Done || (fetch.state == FileFetch::State::Failed && fetch.index < firstIndex)) {
      ++it;
      continue;
    }
    if (fetch.state == FileFetch::State::Running) {
      batch_->Abort(fetch.transfer);
      onTheWire_.erase(fetch.transfer);
    }
    if (fetch.writer) {
      (void)fetch.writer->Close();
      fetch.writer.reset();
      // Behind a link the path names someone else's file.
      if (ReplacedWorkDir() == nullptr) (void)platform_.files->RemoveFile(fetch.path);
    }
    if (fetch.state == FileFetch::State::Failed) {
      ++it;  // the cursor reports it when it comes
      continue;
    }
    it = fetches_.erase(it);
  }
}

// The movie shows the oldest file in list order that is still on its way
// (else the last one done): its bytes and share, the rate of the run, and
// the run's share from every byte received.
void CUpdateVersionFiles::ShowProgress(bool now) {
  const Clock::time_point time = Clock::now();
  if (!now && time - lastShown_ < kProgressInterval) return;
  lastShown_ = time;
  double runDone = completedBytes_;
  const FileFetch* oldest = nullptr;
  for (const auto& [index, fetch] : fetches_) {
    if (fetch->state != FileFetch::State::Running && fetch->state != FileFetch::State::Waiting) continue;
    runDone += static_cast<double>(fetch->BytesDone());
    if (oldest == nullptr) oldest = fetch.get();
  }
  if (oldest == nullptr) {
    if (lastDoneName_.empty()) return;
    // An empty file shows its name but no progress of its own.
    progress_->Show(lastDoneName_, lastDoneSize_ == 0 ? std::string()
                                                      : ProgressText(FormatSize(lastDoneSize_),
                                                                     FormatSize(lastDoneSize_), 1.0, runDone));
    return;
  }
  const uint64_t done = oldest->BytesDone();
  const double fraction = oldest->expected > 0 ? static_cast<double>(done) / oldest->expected : 1.0;
  progress_->Show(oldest->entry->Fn(),
                  oldest->expected == 0 ? std::string()
                                        : ProgressText(FormatSize(static_cast<uint32_t>(done)),
                                                       FormatSize(oldest->expected), fraction, runDone));
}

int CUpdateVersionFiles::CopyExtractedFile(const std::string& extracted, const std::string& target,
                                           const FileEntry& entry) {
  if (!platform_.files->CopyOneFile(extracted, target)) return 1;
  completedBytes_ += entry.SizeAsNumber();
  progress_->Show({}, ProgressText(entry.Fs(), entry.Fs(), 1.0, completedBytes_));
  return 0;
}

}  // namespace update
