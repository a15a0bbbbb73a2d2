// Downloads of the file list's entries, with retries and progress in the
// movie, and the copy of a file that an extracted archive supplies.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "net/http_post.h"
#include "update/update_worker.h"

namespace update {

namespace {

// The local file is written through a buffer far larger than the network's
// chunks: few, large writes. Each chunk is read straight into the buffer's
// free end (Space), so its bytes are copied once on their way to the file;
// only a committed chunk is ever written. The buffer is flushed as soon as
// it has less room left than one more chunk, so every read may ask for a
// whole chunk. A write that comes up short fails the attempt, at the latest
// when the buffer is flushed before the size check.
class BufferedWriter {
 public:
  static constexpr size_t kCapacity = 1024 * 1024;
  static_assert(kCapacity >= kDownloadChunk);

  explicit BufferedWriter(platform::File& file)
      : file_(file), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}

  // Where the next chunk of at most kDownloadChunk bytes is read to.
  char* Space() { return buffer_.get() + used_; }

  // The `size` bytes read into Space() belong to the file. Returns false when
  // this filled the buffer and writing it out failed.
  bool Commit(size_t size) {
    used_ += size;
    return kCapacity - used_ >= kDownloadChunk || Flush();
  }

  bool Flush() {
    if (used_ == 0) return true;
    const bool ok = file_.Write(buffer_.get(), used_);
    used_ = 0;
    return ok;
  }

 private:
  platform::File& file_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
};

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

int CUpdateVersionFiles::DownloadFile(platform::HttpDownloadSession& session, const FileEntry& entry,
                                      const std::string& localPath) {
  attempt_ = 0;
  int result = 1;
  int32_t code = 0;
  int stalls = 0;
  const uint32_t stallMs = static_cast<uint32_t>(config_.timeouts.idleSeconds) * 1000u;
  while (result != 0 && !Cancelled() && attempt_ < kDownloadAttempts) {
    if (attempt_ > 0) ++app_.stats.dlRetryCount;
    if (attempt_ == 1) ++app_.stats.dlRetryFiles;
    const uint32_t started = platform_.system->TickCount();
    result = DownloadAttempt(session, entry, localPath, &code);
    ++attempt_;
    // A failed attempt that lasted the no-data time-out is a stall; the
    // file's remaining attempts are given up once stalls repeat.
    if (result != 0 && platform_.system->TickCount() - started >= stallMs && ++stalls >= kStallsPerFile) break;
    // A work folder replaced by a link: no attempt may write there.
    if (result != 0 && code == kFinalWorkDirCreate) break;
  }
  app_.SetStep(kStepAttemptsOver);
  if (Cancelled()) return result;
  platform::LogLine(platform_.log, "file " + entry.Fn() + ", " + entry.Fs() + " bytes listed, " +
                                       std::to_string(attempt_) + " attempt(s): " +
                                       (result == 0 ? std::string("complete")
                                                    : "failed, code " + std::to_string(code) + " " +
                                                          net::LastTransportFailure()));
  if (result == 0) {
    ++app_.stats.dlFileCount;
    return 0;
  }
  platform_.system->SetLastErrorCode(lastSystemError_);
  Reports().FinishReport(code, true, {entry.Fn(), localPath, entry.Fs(), std::to_string(receivedBytes_)});
  Reports().ErrorReport("File Download failed",
                        {net::ReportPair{"URL", entry.Url()}, net::ReportPair{"File", localPath}});
  return result;
}

int CUpdateVersionFiles::DownloadAttempt(platform::HttpDownloadSession& session, const FileEntry& entry,
                                         const std::string& localPath, int32_t* code) {
  app_.SetStep(kStepAttempt);
  receivedBytes_ = 0;
  expectedBytes_ = entry.ExpectedBytes();
  lastSystemError_ = 0;
  const std::string listedSize = FormatSize(expectedBytes_);
  if (Cancelled()) return 1;

  std::string why;
  net::SetLastTransportFailure({});
  std::unique_ptr<platform::HttpStream> stream = session.OpenUrl(entry.Url(), &why);
  if (!stream) {
    net::SetLastTransportFailure(why);
    *code = kFinalAddressOpen;
    return 1;
  }
  app_.SetStep(kStepAddressOpen);
  CallMovie("SetFileName", entry.Fn());

  bool failed = false;
  std::unique_ptr<platform::File> file;
  if (ReplacedWorkDir() != nullptr) {
    *code = kFinalWorkDirCreate;
    return 1;
  }
  if (!Cancelled()) {
    file = platform_.files->CreateForWrite(localPath, &why);
    if (!file) {
      lastSystemError_ = platform_.system->LastErrorCode();
      *code = kFinalLocalCreate;
      failed = true;
    }
  }
  if (file) {
    BufferedWriter writer(*file);
    bool first = true;
    while (!Cancelled()) {
      app_.SetStep(first ? kStepFirstRead : kStepNextRead);
      size_t n = 0;
      if (!stream->Read(writer.Space(), kDownloadChunk, &n)) {
        net::SetLastTransportFailure(stream->FailureText());
        failed = true;
        break;
      }
      if (n == 0) break;
      app_.SetStep(first ? kStepFirstChunk : kStepNextChunk);
      first = false;
      // Never past the listed size: a server sending more than it listed
      // must not fill the disk.
      if (static_cast<uint64_t>(receivedBytes_) + n > expectedBytes_) {
        receivedBytes_ += static_cast<uint32_t>(n);
        failed = true;
        break;
      }
      if (!writer.Commit(n)) {
        lastSystemError_ = platform_.system->LastErrorCode();
        failed = true;
        break;
      }
      app_.SetStep(kStepChunkWritten);
      receivedBytes_ += static_cast<uint32_t>(n);
      downloadedBytes_ += static_cast<double>(n);
      UpdateRate();
      const double fileFraction = expectedBytes_ > 0 ? static_cast<double>(receivedBytes_) / expectedBytes_ : 1.0;
      CallMovie("SetProgress", ProgressText(FormatSize(receivedBytes_), listedSize, fileFraction,
                                            completedBytes_ + receivedBytes_));
    }
    if (!failed && !writer.Flush()) {
      lastSystemError_ = platform_.system->LastErrorCode();
      failed = true;
    }
    const bool cancelled = Cancelled();
    if (!cancelled) {
      if (failed || receivedBytes_ != expectedBytes_) {
        *code = kFinalDownloadData;
        failed = true;
      } else {
        completedBytes_ += expectedBytes_;
        app_.SetStep(kStepFileComplete);
      }
    }
    if (!file->Close() && !cancelled) {
      lastSystemError_ = platform_.system->LastErrorCode();
      *code = kFinalLocalClose;
      failed = true;
    }
    if (!failed) app_.SetStep(kStepFileClosed);
  }
  // Closing the address cannot fail here (the code for it stays reserved).
  stream.reset();
  return failed ? 1 : 0;
}

int CUpdateVersionFiles::CopyExtractedFile(const std::string& extracted, const std::string& target,
                                           const FileEntry& entry) {
  if (!platform_.files->CopyOneFile(extracted, target)) return 1;
  completedBytes_ += entry.SizeAsNumber();
  CallMovie("SetProgress", ProgressText(entry.Fs(), entry.Fs(), 1.0, completedBytes_));
  return 0;
}

}  // namespace update
