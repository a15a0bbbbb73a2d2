// Parallel downloads on libcurl's multi interface: one easy handle per
// transfer under way (kept for the next transfer, so a handle's TLS session
// and the multi handle's connection cache serve the whole run), HTTP/2
// multiplexing over TLS where the server offers it, otherwise at most
// `parallel` connections per host; transfers beyond that wait in libcurl's
// queue without connecting. The body goes straight from libcurl's receive
// buffer to the receiver, so nothing is held here.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "platform/posix/curl_download_session.h"

namespace platform {
namespace {

// libcurl's receive buffer per transfer: large enough that a fast link
// needs few reads per file, small enough for many transfers at once.
constexpr long kReceiveBufferBytes = 128 * 1024;

bool StartsWithNoCase(const char* text, size_t length, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return length >= n && strncasecmp(text, prefix, n) == 0;
}

class CurlBatch : public DownloadBatch {
 public:
  CurlBatch(const CurlDownloadSettings& settings, int parallel) : settings_(settings) {
    multi_ = curl_multi_init();
    if (multi_ == nullptr) return;
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(parallel > 0 ? parallel : 1));
    for (const char* header : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
      headers_ = curl_slist_append(headers_, header);
    }
  }

  ~CurlBatch() override {
    for (auto& [id, transfer] : transfers_) Remove(*transfer);
    transfers_.clear();
    spare_.clear();
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    if (headers_ != nullptr) curl_slist_free_all(headers_);
  }
  CurlBatch(const CurlBatch&) = delete;
  CurlBatch& operator=(const CurlBatch&) = delete;

  uint64_t Begin(const DownloadRequest& request) override {
    const uint64_t id = nextId_++;
    auto transfer = TakeHandle();
    transfer->id = id;
    transfer->request = request;
    transfer->url = EscapeUnsafeUrlBytes(request.url);
    transfers_[id] = std::move(transfer);
    toAdd_.push_back(id);
    return id;
  }

  void Abort(uint64_t id) override {
    const auto found = transfers_.find(id);
    if (found == transfers_.end()) return;
    found->second->aborted = true;
    // Handles leave the multi handle only outside libcurl's callbacks.
    if (!inside_) Retire(id);
  }

  void Pump(DownloadReceiver& receiver, int waitMs) override {
    receiver_ = &receiver;
    delivered_ = false;
    AddQueued();
    Perform();
    if (!delivered_ && multi_ != nullptr && !transfers_.empty()) {
      curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
      AddQueued();
      Perform();
    }
    receiver_ = nullptr;
  }

 private:
  struct Transfer {
    CURL* easy = nullptr;
    uint64_t id = 0;
    DownloadRequest request;
    std::string url;
    std::string range;
    CurlBatch* batch = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = "";
    long status = 0;
    uint64_t firstByte = 0;
    uint64_t bodyBytes = 0;
    uint64_t bodyBound = UINT64_MAX;  // the file's size less the reply's first byte
    bool sawLocation = false;
    bool started = false;
    bool busy = false;
    bool refused = false;  // by the receiver, or a status that is no success
    bool aborted = false;
    bool attached = false;
    std::string failure;

    ~Transfer() {
      if (easy != nullptr) curl_easy_cleanup(easy);
    }
    void Reset() {
      errorBuffer[0] = '\0';
      status = 0;
      firstByte = 0;
      bodyBytes = 0;
      bodyBound = UINT64_MAX;
      sawLocation = started = busy = refused = aborted = attached = false;
      failure.clear();
    }
  };

  std::unique_ptr<Transfer> TakeHandle() {
    std::unique_ptr<Transfer> transfer;
    if (!spare_.empty()) {
      transfer = std::move(spare_.back());
      spare_.pop_back();
      transfer->Reset();
      return transfer;
    }
    transfer = std::make_unique<Transfer>();
    transfer->batch = this;
    transfer->easy = curl_easy_init();
    if (transfer->easy != nullptr && Configure(*transfer) != CURLE_OK) {
      curl_easy_cleanup(transfer->easy);
      transfer->easy = nullptr;
    }
    return transfer;
  }

  CURLcode Configure(Transfer& t) {
    CURLcode code = static_cast<CURLcode>(SetSharedDownloadOptions(t.easy, settings_, headers_));
    auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(t.easy, option, value);
    };
    // HTTP/2 where TLS negotiates it, HTTP/1.1 otherwise; a new transfer
    // waits for a connection that may carry it as a stream rather than
    // opening another one.
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    set(CURLOPT_PIPEWAIT, 1L);
    set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // No byte for the no-data time-out ends the transfer; the clock runs
    // only while the transfer is on the wire, not while it waits its turn.
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(settings_.timeouts.idleSeconds));
    set(CURLOPT_HEADERFUNCTION, &CurlBatch::OnHeader);
    set(CURLOPT_HEADERDATA, &t);
    set(CURLOPT_WRITEFUNCTION, &CurlBatch::OnData);
    set(CURLOPT_WRITEDATA, &t);
    set(CURLOPT_ERRORBUFFER, t.errorBuffer);
    set(CURLOPT_PRIVATE, &t);
    return code;
  }

  // Puts the transfers begun since the last pump on the wire; one that
  // cannot be started ends at once.
  void AddQueued() {
    std::vector<uint64_t> queued;
    queued.swap(toAdd_);
    for (uint64_t id : queued) {
      const auto found = transfers_.find(id);
      if (found == transfers_.end() || found->second->aborted) continue;
      Transfer& t = *found->second;
      const char* why = Attach(t);
      if (why != nullptr) End(id, DownloadOutcome{false, false, false, why});
    }
  }

  // Null when the transfer is on its way, else why it is not.
  const char* Attach(Transfer& t) {
    if (multi_ == nullptr || t.easy == nullptr) return "cannot create transfer handles";
    if (!StartsWithNoCase(t.url.c_str(), t.url.size(), "http://") &&
        !StartsWithNoCase(t.url.c_str(), t.url.size(), "https://")) {
      return "not an http or https address";
    }
    // From a secure address only secure redirects are followed.
    const bool secure = StartsWithNoCase(t.url.c_str(), t.url.size(), "https://");
    t.range = t.request.fromByte > 0 ? std::to_string(t.request.fromByte) + "-" : std::string();
    if (curl_easy_setopt(t.easy, CURLOPT_URL, t.url.c_str()) != CURLE_OK ||
        curl_easy_setopt(t.easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https") != CURLE_OK ||
        curl_easy_setopt(t.easy, CURLOPT_RANGE, t.range.empty() ? nullptr : t.range.c_str()) != CURLE_OK) {
      return "cannot set up the transfer";
    }
    if (curl_multi_add_handle(multi_, t.easy) != CURLM_OK) return "cannot start the transfer";
    t.attached = true;
    return nullptr;
  }

  void Perform() {
    if (multi_ == nullptr) return;
    int running = 0;
    inside_ = true;
    curl_multi_perform(multi_, &running);
    inside_ = false;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      Transfer* t = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
      if (t == nullptr) continue;
      Finish(*t, message->data.result);
    }
    // Aborts asked for inside the callbacks.
    std::vector<uint64_t> gone;
    for (auto& [id, transfer] : transfers_) {
      if (transfer->aborted) gone.push_back(id);
    }
    for (uint64_t id : gone) Retire(id);
  }

  void Finish(Transfer& t, CURLcode result) {
    const uint64_t id = t.id;
    if (t.aborted) return Retire(id);
    DownloadOutcome outcome;
    outcome.started = t.started;
    outcome.ok = result == CURLE_OK && t.started && !t.refused;
    if (!outcome.ok) {
      long systemError = 0;
      curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &systemError);
      outcome.busy = !t.started && (t.busy || (result == CURLE_COULDNT_CONNECT && systemError == ECONNREFUSED));
      if (!t.failure.empty()) {
        outcome.failure = t.failure;
      } else if (result == CURLE_OPERATION_TIMEDOUT && t.started) {
        outcome.failure = "time-out: no data for " + std::to_string(settings_.timeouts.idleSeconds) + " seconds";
      } else if (result != CURLE_OK) {
        outcome.failure = TransportCause(result, systemError, t.errorBuffer[0] != '\0' ? t.errorBuffer
                                                                                       : curl_easy_strerror(result));
      } else {
        outcome.failure = "the reply ended before its headers";
      }
    }
    End(id, outcome);
  }

  void End(uint64_t id, const DownloadOutcome& outcome) {
    Retire(id);
    delivered_ = true;
    if (receiver_ != nullptr) receiver_->Ended(id, outcome);
  }

  // Takes the transfer out of the multi handle (a transfer still running
  // loses its connection; a finished one leaves it in the cache) and keeps
  // its handle for the next transfer.
  void Retire(uint64_t id) {
    const auto found = transfers_.find(id);
    if (found == transfers_.end()) return;
    std::unique_ptr<Transfer> transfer = std::move(found->second);
    transfers_.erase(found);
    Remove(*transfer);
    if (transfer->easy != nullptr) spare_.push_back(std::move(transfer));
  }

  void Remove(Transfer& t) {
    if (t.attached) curl_multi_remove_handle(multi_, t.easy);
    t.attached = false;
  }

  // One header line of any reply of the exchange. The final reply's
  // headers end with an empty line; interim replies (1xx) and followed
  // redirects come before it.
  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (t.aborted) return 0;
    if (StartsWithNoCase(data, length, "HTTP/")) {
      t.sawLocation = false;
      t.firstByte = kUnknownFirstByte;  // until a Content-Range names it
    } else if (StartsWithNoCase(data, length, "Location:")) {
      t.sawLocation = true;
    } else if (StartsWithNoCase(data, length, "Content-Range:")) {
      t.firstByte = ContentRangeFirstByte(std::string(data + 14, length - 14));
    } else if (length <= 2 && (data[0] == '\r' || data[0] == '\n')) {
      return t.batch->OnHeadersEnd(t) ? length : 0;
    }
    return length;
  }

  bool OnHeadersEnd(Transfer& t) {
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &t.status);
    if (t.status >= 100 && t.status <= 199) return true;
    if (t.status >= 300 && t.status <= 399 && t.sawLocation) return true;
    if (t.status < 200 || t.status > 299) {
      t.refused = true;
      t.busy = IsBusyStatus(t.status);
      t.failure = "HTTP status " + std::to_string(t.status);
      return false;
    }
    const uint64_t firstByte = t.status == 206 ? t.firstByte : 0;
    t.bodyBound = t.request.fileSize - std::min(firstByte, t.request.fileSize);
    t.started = true;
    delivered_ = true;
    if (receiver_->Started(t.id, firstByte) && !t.aborted) return true;
    t.refused = true;
    return false;
  }

  static size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (!t.started) return length;  // the body of a redirect or an interim reply
    if (t.aborted || t.refused) return 0;
    t.batch->delivered_ = true;
    t.bodyBytes += length;
    if (t.bodyBytes > t.bodyBound) t.failure = "more bytes than the file has";
    if (t.batch->receiver_->Received(t.id, data, length) && !t.aborted && t.failure.empty()) return length;
    t.refused = true;
    return 0;
  }

  const CurlDownloadSettings settings_;
  CURLM* multi_ = nullptr;
  curl_slist* headers_ = nullptr;
  uint64_t nextId_ = 1;
  std::map<uint64_t, std::unique_ptr<Transfer>> transfers_;
  std::vector<std::unique_ptr<Transfer>> spare_;
  std::vector<uint64_t> toAdd_;
  DownloadReceiver* receiver_ = nullptr;
  bool inside_ = false;
  bool delivered_ = false;
};

}  // namespace

std::unique_ptr<DownloadBatch> NewCurlDownloadBatch(const CurlDownloadSettings& settings, int parallel) {
  return std::make_unique<CurlBatch>(settings, parallel);
}

}  // namespace platform
