#include "platform/posix/curl_download_session.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#if LIBCURL_VERSION_NUM < 0x075500
#error "downloads need libcurl 7.85 or later (pre-request callback, protocol lists by name)"
#endif

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Unread data held before the transfer pauses; a read asking for more raises
// the bound to its own capacity. Each pause stops the socket being read
// and costs libcurl a copy of the rest of its receive buffer, so the bound
// is a few receive buffers: on a fast link the transfer then pauses about
// once a megabyte, and the server keeps sending while the reader catches up.
constexpr size_t kPauseAt = 1024 * 1024;
// Bytes that have waited this long are handed out even when they do not
// fill the caller's buffer.
constexpr auto kGatherWait = std::chrono::milliseconds(200);
// libcurl's largest receive buffer: on a fast link one system call fetches
// up to half a megabyte.
constexpr long kReceiveBufferBytes = 512 * 1024;
// Longest single wait for socket activity; the clocks are checked after it.
constexpr auto kLongestPoll = std::chrono::milliseconds(1000);

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// The received bytes the caller has not read yet, first in first out. A
// ring: taking bytes out never moves the rest. The storage is made on the
// first delivery with room for the pause bound and one whole receive buffer
// on top (what arrives before the pause takes hold), and serves every later
// file of the session; it grows only for a read larger than the bound.
class PendingBytes {
 public:
  explicit PendingBytes(size_t firstCapacity) : firstCapacity_(firstCapacity) {}

  size_t size() const { return size_; }

  void Append(const char* data, size_t length) {
    if (length == 0) return;
    if (size_ + length > ring_.size()) Grow(size_ + length);
    const size_t tail = (head_ + size_) % ring_.size();
    const size_t first = std::min(length, ring_.size() - tail);
    std::memcpy(ring_.data() + tail, data, first);
    std::memcpy(ring_.data(), data + first, length - first);
    size_ += length;
  }

  // Moves up to `capacity` bytes into `buffer`; returns how many.
  size_t Take(char* buffer, size_t capacity) {
    const size_t n = std::min(capacity, size_);
    if (n == 0) return 0;
    const size_t first = std::min(n, ring_.size() - head_);
    std::memcpy(buffer, ring_.data() + head_, first);
    std::memcpy(buffer + first, ring_.data(), n - first);
    size_ -= n;
    head_ = size_ == 0 ? 0 : (head_ + n) % ring_.size();
    return n;
  }

  void Clear() {
    head_ = 0;
    size_ = 0;
  }

 private:
  void Grow(size_t needed) {
    std::vector<char> larger(std::max({needed, 2 * ring_.size(), firstCapacity_}));
    const size_t held = size_;
    Take(larger.data(), held);
    ring_.swap(larger);
    head_ = 0;
    size_ = held;
  }

  const size_t firstCapacity_;
  std::vector<char> ring_;
  size_t head_ = 0;
  size_t size_ = 0;
};

// The handles and the state of the transfer under way. Shared by the
// session and the stream it opened, so that either may be destroyed first;
// each stream is tied to the transfer it opened by a generation number, and
// a stream whose transfer was replaced or closed only fails.
class Transfer {
 public:
  explicit Transfer(const CurlDownloadSettings& settings) : settings_(settings) {
    errorBuffer_[0] = '\0';
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (multi_ == nullptr || easy_ == nullptr) {
      setupFailure_ = "cannot create transfer handles";
      return;
    }
    for (const char* header : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
      headers_ = curl_slist_append(headers_, header);
    }
    const CURLcode code = Configure();
    if (code != CURLE_OK) setupFailure_ = curl_easy_strerror(code);
  }

  ~Transfer() { Close(); }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  uint64_t generation() const { return generation_; }

  // Starts a GET of `url`, ending the transfer before it, and waits for the
  // final reply's headers. Returns false with `error` set when the address
  // cannot be opened.
  bool Begin(const std::string& url, std::string& error) {
    Detach();
    ResetState();
    ++generation_;
    if (!setupFailure_.empty()) return Refuse(setupFailure_, error);
    if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) {
      return Refuse("not an http or https address: " + url, error);
    }
    url_ = EscapeUnsafeUrlBytes(url);
    // From a secure address only secure redirects are followed.
    const char* redirectProtocols = StartsWithNoCase(url, "https://") ? "https" : "http,https";
    CURLcode code = curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
    if (code == CURLE_OK) code = curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols);
    if (code != CURLE_OK) return Refuse(curl_easy_strerror(code), error);
    const CURLMcode added = curl_multi_add_handle(multi_, easy_);
    if (added != CURLM_OK) return Refuse(curl_multi_strerror(added), error);
    attached_ = true;

    Touch();
    while (!headersDone_ && !done_) Pump(Clock::time_point::max());
    // Once the final headers are in, the address is open: a failure of the
    // body that came with them shows on the reads, as it would had it come
    // a moment later.
    if (!headersDone_) return Refuse(failed_ ? failure_ : "the reply ended before its headers", error);
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) return Refuse("HTTP status " + std::to_string(status), error);
    return true;
  }

  bool Read(uint64_t generation, char* buffer, size_t capacity, size_t* received) {
    *received = 0;
    if (generation != generation_) return false;
    if (capacity == 0) return true;  // nothing asked for
    capacity_ = capacity;
    Touch();  // the caller waits from now on; time spent away from Read is not idle time
    for (;;) {
      const size_t pending = PendingSize();
      const bool waitedEnough = pending > 0 && Clock::now() - firstPendingAt_ >= kGatherWait;
      if (pending >= capacity || (pending > 0 && (done_ || waitedEnough))) {
        *received = TakePending(buffer, capacity);
        return true;
      }
      if (done_) return !failed_;
      Pump(pending > 0 ? firstPendingAt_ + kGatherWait : Clock::time_point::max());
    }
  }

  std::string FailureText(uint64_t generation) const {
    if (generation != generation_) return "another address was opened on the download session";
    return failure_;
  }

  // The stream of `generation` is gone: a transfer still running is ended,
  // which closes its connection; a finished one has already left its
  // connection in the cache for the next file.
  void Abandon(uint64_t generation) {
    if (generation == generation_) Detach();
  }

  // Ends the transfer and frees the handles, closing every connection.
  void Close() {
    Detach();
    if (!done_) {
      // What arrived of an unfinished body is no use to anyone now.
      Fail("the download session was closed");
      pending_.Clear();
    }
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    if (headers_ != nullptr) curl_slist_free_all(headers_);
    easy_ = nullptr;
    multi_ = nullptr;
    headers_ = nullptr;
    if (setupFailure_.empty()) setupFailure_ = "the download session was closed";
  }

 private:
  CURLcode Configure() {
    CURLcode code = CURLE_OK;
    code = static_cast<CURLcode>(SetSharedDownloadOptions(easy_, settings_, headers_));
    auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(easy_, option, value);
    };
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // Large receive buffers: fewer, larger reads from the socket on big
    // files (the default 16 KiB costs a system call and a poll per 16 KiB).
    set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    set(CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
    set(CURLOPT_PREREQDATA, this);
    set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &Transfer::OnData);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_ERRORBUFFER, errorBuffer_);
    return code;
  }

  void ResetState() {
    pending_.Clear();
    capacity_ = 0;
    errorBuffer_[0] = '\0';
    connected_ = false;
    sawLocation_ = false;
    headersDone_ = false;
    paused_ = false;
    done_ = false;
    failed_ = false;
    failure_.clear();
  }

  bool Refuse(const std::string& why, std::string& error) {
    Detach();
    if (!done_) Fail(why);
    error = why;
    return false;
  }

  void Fail(const std::string& why) {
    done_ = true;
    failed_ = true;
    failure_ = why;
  }

  // Takes the easy handle out of the multi handle. A finished transfer
  // leaves its connection in the cache; one still running is ended and its
  // connection closed.
  void Detach() {
    if (!attached_) return;
    curl_multi_remove_handle(multi_, easy_);
    attached_ = false;
    paused_ = false;
  }

  // Runs the transfer until something changed (headers, data, the end) or
  // one wait for socket activity passed, which ends no later than `until`
  // and the idle deadline.
  void Pump(Clock::time_point until) {
    // Taken before the resume: what a resumed transfer hands over from its
    // held data counts as new, so the read it serves never waits on the
    // socket for it.
    const size_t pendingBefore = PendingSize();
    const bool headersBefore = headersDone_;
    ResumeIfRoom();
    int running = 0;
    const CURLMcode code = curl_multi_perform(multi_, &running);
    if (code != CURLM_OK) return FailAndDetach(curl_multi_strerror(code));
    CollectEnd();
    if (done_ || PendingSize() != pendingBefore || headersDone_ != headersBefore) return;

    const auto now = Clock::now();
    auto wait = std::min<Clock::duration>(kLongestPoll, until > now ? until - now : Clock::duration::zero());
    if (connected_ && !paused_) wait = std::min(wait, IdleDeadline() - now);
    const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
    if (waitMs > 0) curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitMs), nullptr);
    if (connected_ && !paused_ && Clock::now() >= IdleDeadline()) {
      FailAndDetach("time-out: no data for " + std::to_string(settings_.timeouts.idleSeconds) + " seconds");
    }
  }

  Clock::time_point IdleDeadline() const {
    return lastActivity_ + std::chrono::seconds(settings_.timeouts.idleSeconds);
  }

  void FailAndDetach(const std::string& why) {
    Fail(why);
    Detach();
  }

  void CollectEnd() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg != CURLMSG_DONE || message->easy_handle != easy_) continue;
      done_ = true;
      if (message->data.result != CURLE_OK) {
        failed_ = true;
        long systemError = 0;
        curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &systemError);
        failure_ = TransportCause(message->data.result, systemError,
                                  errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(message->data.result));
      }
    }
  }

  void Touch() { lastActivity_ = Clock::now(); }

  size_t PauseBound() const { return std::max(kPauseAt, capacity_); }

  void ResumeIfRoom() {
    if (!paused_ || PendingSize() >= PauseBound()) return;
    paused_ = false;  // before the call: libcurl may deliver the held data from inside it
    Touch();
    curl_easy_pause(easy_, CURLPAUSE_CONT);
  }

  // Called once the connection (TLS included) is up or reused, before the
  // request goes out; from here on the idle clock runs.
  static int OnConnected(void* user, char*, char*, int, int) {
    auto* self = static_cast<Transfer*>(user);
    self->connected_ = true;
    self->Touch();
    return CURL_PREREQFUNC_OK;
  }

  // One header line of any reply of the exchange. A reply's headers end
  // with an empty line; they are the final ones unless the reply is an
  // interim one (1xx) or a redirect that libcurl follows.
  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const size_t length = size * count;
    self->Touch();
    const std::string line(data, length);
    if (StartsWithNoCase(line, "HTTP/")) {
      self->sawLocation_ = false;
    } else if (StartsWithNoCase(line, "Location:")) {
      self->sawLocation_ = true;
    } else if (line == "\r\n" || line == "\n") {
      long status = 0;
      curl_easy_getinfo(self->easy_, CURLINFO_RESPONSE_CODE, &status);
      const bool interim = status >= 100 && status <= 199;
      const bool redirect = status >= 300 && status <= 399 && self->sawLocation_;
      if (redirect) self->connected_ = false;  // the next hop may connect afresh
      if (!interim && !redirect) self->headersDone_ = true;
    }
    return length;
  }

  static size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (!self->headersDone_) return length;  // the body of a redirect
    if (self->PendingSize() >= self->PauseBound()) {
      self->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (self->PendingSize() == 0) self->firstPendingAt_ = Clock::now();
    self->pending_.Append(data, length);
    self->Touch();
    return length;
  }

  size_t PendingSize() const { return pending_.size(); }

  size_t TakePending(char* buffer, size_t capacity) { return pending_.Take(buffer, capacity); }

  const CurlDownloadSettings settings_;
  std::string setupFailure_;
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  char errorBuffer_[CURL_ERROR_SIZE];
  bool attached_ = false;
  uint64_t generation_ = 0;

  std::string url_;
  PendingBytes pending_{kPauseAt + kReceiveBufferBytes};
  size_t capacity_ = 0;  // of the read under way
  Clock::time_point firstPendingAt_;
  Clock::time_point lastActivity_;
  bool connected_ = false;
  bool sawLocation_ = false;
  bool headersDone_ = false;
  bool paused_ = false;
  bool done_ = false;
  bool failed_ = false;
  std::string failure_;
};

class DownloadStream : public HttpStream {
 public:
  DownloadStream(std::shared_ptr<Transfer> transfer, uint64_t generation)
      : transfer_(std::move(transfer)), generation_(generation) {}
  ~DownloadStream() override { transfer_->Abandon(generation_); }

  bool Read(char* buffer, size_t capacity, size_t* received) override {
    return transfer_->Read(generation_, buffer, capacity, received);
  }
  std::string FailureText() const override { return transfer_->FailureText(generation_); }

 private:
  std::shared_ptr<Transfer> transfer_;
  const uint64_t generation_;
};

class CurlDownloadSession : public HttpDownloadSession {
 public:
  explicit CurlDownloadSession(const CurlDownloadSettings& settings)
      : settings_(settings), transfer_(std::make_shared<Transfer>(settings)) {}
  // A stream that outlives its session only fails from here on.
  ~CurlDownloadSession() override { transfer_->Close(); }

  std::unique_ptr<HttpStream> OpenUrl(const std::string& url, std::string* error) override {
    std::string why;
    if (!transfer_->Begin(url, why)) {
      if (error != nullptr) *error = why;
      return nullptr;
    }
    if (error != nullptr) error->clear();
    return std::make_unique<DownloadStream>(transfer_, transfer_->generation());
  }

  std::unique_ptr<DownloadBatch> NewBatch(int parallel) override { return NewCurlDownloadBatch(settings_, parallel); }

 private:
  const CurlDownloadSettings settings_;
  std::shared_ptr<Transfer> transfer_;
};

}  // namespace

std::string TransportCause(int curlCode, long systemError, const std::string& detail) {
  std::string cause;
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_COULDNT_CONNECT:
      cause = systemError == ECONNREFUSED ? "connection refused: nothing answers at the server's address and port"
                                          : "the server cannot be reached";
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
      cause = "the server's host name was not found";
      break;
    case CURLE_OPERATION_TIMEDOUT:
      cause = "time-out: the server did not answer in time";
      break;
    case CURLE_PEER_FAILED_VERIFICATION:
      cause = "the server's certificate is not trusted for this host";
      break;
    case CURLE_SSL_CACERT_BADFILE:
      cause = "the CA file named in cfg/Updater.cfg cannot be read";
      break;
    case CURLE_SSL_CONNECT_ERROR:
      cause = "the secure connection could not be set up";
      break;
    case CURLE_GOT_NOTHING:
      cause = "the server closed the connection without answering";
      break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      cause = "the connection broke off";
      break;
    default:
      return detail;
  }
  return detail.empty() ? cause : cause + " (" + detail + ")";
}


int SetSharedDownloadOptions(void* easy, const CurlDownloadSettings& settings, curl_slist* headers) {
  CURLcode code = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (code == CURLE_OK) code = curl_easy_setopt(easy, option, value);
  };
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_HTTPGET, 1L);
  set(CURLOPT_HTTPHEADER, headers);
  if (!settings.agent.empty()) set(CURLOPT_USERAGENT, settings.agent.c_str());
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, kMaxDownloadRedirects);
  set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(settings.timeouts.connectSeconds));
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  if (!settings.extraCaFile.empty()) {
    // Naming a CA file replaces libcurl's default bundle; the folder keeps
    // the system store trusted alongside it.
    set(CURLOPT_CAINFO, settings.extraCaFile.c_str());
    set(CURLOPT_CAPATH, settings.caFolder.c_str());
  }
  return code;
}

std::unique_ptr<HttpDownloadSession> NewCurlDownloadSession(const CurlDownloadSettings& settings) {
  return std::make_unique<CurlDownloadSession>(settings);
}

std::string EscapeUnsafeUrlBytes(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7f) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace platform
