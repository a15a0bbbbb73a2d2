#include "platform/posix/curl_http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/posix/curl_download_session.h"

namespace platform {

namespace {

constexpr const char* kFallbackCaFolder = "/etc/ssl/certs";
// Data the caller has not read yet is held up to this much; beyond it the
// transfer pauses until the caller catches up, so a server sending endless
// data cannot fill the memory.
constexpr size_t kPauseAt = 256 * 1024;
// Longest single wait for socket activity; libcurl shortens it to its own
// next time-out, so this only bounds how long a wait can last without a
// check.
constexpr int kPollMilliseconds = 1000;

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// libcurl's own folder of trusted certificates, the one it uses when nothing
// is set.
std::string DefaultCaFolder() {
  std::string folder;
#if LIBCURL_VERSION_NUM >= 0x075400  // CURLINFO_CAPATH arrived in 7.84
  if (CURL* easy = curl_easy_init()) {
    char* path = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CAPATH, &path) == CURLE_OK && path != nullptr) folder = path;
    curl_easy_cleanup(easy);
  }
#endif
  return folder.empty() ? kFallbackCaFolder : folder;
}

// Bytes that cannot stand in a request line are sent percent-encoded; every
// other byte of the object name goes out as it stands.
std::string RequestTarget(const std::string& objectName) {
  const bool rooted = !objectName.empty() && objectName.front() == '/';
  return (rooted ? "" : "/") + EscapeUnsafeUrlBytes(objectName);
}

std::string Url(const HttpPostRequest& request) {
  std::string url = request.secure ? "https://" : "http://";
  const bool ipv6Literal = request.host.find(':') != std::string::npos && request.host.front() != '[';
  url += ipv6Literal ? "[" + request.host + "]" : request.host;
  url += ":" + std::to_string(request.port);
  url += RequestTarget(request.objectName);
  return url;
}

class CurlStream : public HttpStream {
 public:
  CurlStream(const HttpPostRequest& request, std::string extraCaFile, std::string caFolder)
      : request_(request), extraCaFile_(std::move(extraCaFile)), caFolder_(std::move(caFolder)) {
    errorBuffer_[0] = '\0';
  }

  ~CurlStream() override {
    if (multi_ != nullptr && easy_ != nullptr) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    if (headers_ != nullptr) curl_slist_free_all(headers_);
  }

  bool Read(char* buffer, size_t capacity, size_t* received) override {
    *received = 0;
    if (capacity == 0) return true;  // nothing asked for
    if (!started_) Start();
    for (;;) {
      if (PendingSize() > 0) {
        *received = TakePending(buffer, capacity);
        ResumeIfRoom();
        return true;
      }
      if (done_) return !failed_;
      Pump();
    }
  }

  std::string FailureText() const override { return failure_; }

 private:
  // Sets up the handles and hands the exchange to the multi handle; the
  // transfer itself runs in Pump. A set-up failure ends the exchange.
  void Start() {
    started_ = true;
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (multi_ == nullptr || easy_ == nullptr) return Fail("cannot create transfer handles");

    url_ = Url(request_);
    if (!request_.contentType.empty()) {
      const std::string contentType = "Content-Type: " + request_.contentType;
      headers_ = curl_slist_append(headers_, contentType.c_str());
    }
    // An empty "Expect:" keeps libcurl from waiting for "100 Continue".
    headers_ = curl_slist_append(headers_, "Expect:");

    CURLcode code = Configure();
    if (code != CURLE_OK) return Fail(curl_easy_strerror(code));
    const CURLMcode added = curl_multi_add_handle(multi_, easy_);
    if (added != CURLM_OK) return Fail(curl_multi_strerror(added));
  }

  CURLcode Configure() {
    CURLcode code = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(easy_, option, value);
    };
    set(CURLOPT_URL, url_.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500  // CURLOPT_PROTOCOLS_STR arrived in 7.85
    set(CURLOPT_PROTOCOLS_STR, "http,https");
#endif
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_POST, 1L);
    set(CURLOPT_POSTFIELDS, request_.body.data());
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body.size()));
    set(CURLOPT_HTTPHEADER, headers_);
    if (!request_.agent.empty()) set(CURLOPT_USERAGENT, request_.agent.c_str());
    set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(request_.timeouts.connectSeconds));
    // The time without data is watched here rather than with libcurl's
    // low-speed limit, which averages over a window of several seconds and
    // so ends a stalled exchange that much later than asked.
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &CurlStream::OnProgress);
    set(CURLOPT_XFERINFODATA, this);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!extraCaFile_.empty()) {
      // Naming a CA file replaces libcurl's default bundle; the folder keeps
      // the system store trusted alongside it.
      set(CURLOPT_CAINFO, extraCaFile_.c_str());
      set(CURLOPT_CAPATH, caFolder_.c_str());
    }
    set(CURLOPT_WRITEFUNCTION, &CurlStream::OnData);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_ERRORBUFFER, errorBuffer_);
    return code;
  }

  // Runs the transfer until something changed: data arrived, the exchange
  // ended, or one wait for socket activity passed.
  void Pump() {
    ResumeIfRoom();
    int running = 0;
    CURLMcode code = curl_multi_perform(multi_, &running);
    if (code != CURLM_OK) return Fail(curl_multi_strerror(code));
    CollectEnd();
    if (done_ || PendingSize() > 0) return;
    code = curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
    if (code != CURLM_OK) return Fail(curl_multi_strerror(code));
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
        if (idleExpired_) {
          failure_ = "time-out: no data for " + std::to_string(request_.timeouts.idleSeconds) + " seconds";
        }
      }
    }
  }

  void Fail(const char* text) {
    done_ = true;
    failed_ = true;
    failure_ = text;
  }

  static size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<CurlStream*>(user);
    if (self->PendingSize() >= kPauseAt) {
      self->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    self->pending_.append(data, size * count);
    return size * count;
  }

  // Called by libcurl on every transfer of data and at least once a second
  // while the exchange waits. Non-zero aborts the exchange.
  static int OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto* self = static_cast<CurlStream*>(user);
    return self->IdleTooLong(downloaded + uploaded) ? 1 : 0;
  }

  // The idle clock runs from the moment the connection (TLS included) is
  // up, is reset by every byte sent or received, and stands still while the
  // transfer waits for the caller to read.
  bool IdleTooLong(curl_off_t bytesMoved) {
    const auto now = std::chrono::steady_clock::now();
    if (!Connected() || paused_ || bytesMoved != bytesMoved_) {
      bytesMoved_ = bytesMoved;
      lastActivity_ = now;
      return false;
    }
    if (now - lastActivity_ < std::chrono::seconds(request_.timeouts.idleSeconds)) return false;
    idleExpired_ = true;
    return true;
  }

  bool Connected() const {
    curl_off_t micros = 0;
    const CURLINFO phase = request_.secure ? CURLINFO_APPCONNECT_TIME_T : CURLINFO_CONNECT_TIME_T;
    return curl_easy_getinfo(easy_, phase, &micros) == CURLE_OK && micros > 0;
  }

  void ResumeIfRoom() {
    if (!paused_ || PendingSize() >= kPauseAt) return;
    paused_ = false;  // before the call: libcurl may deliver the held data from inside it
    curl_easy_pause(easy_, CURLPAUSE_CONT);
  }

  size_t PendingSize() const { return pending_.size() - pendingStart_; }

  size_t TakePending(char* buffer, size_t capacity) {
    const size_t n = std::min(capacity, PendingSize());
    std::memcpy(buffer, pending_.data() + pendingStart_, n);
    pendingStart_ += n;
    if (pendingStart_ == pending_.size()) {
      pending_.clear();
      pendingStart_ = 0;
    } else if (pendingStart_ > pending_.size() / 2) {
      pending_.erase(0, pendingStart_);
      pendingStart_ = 0;
    }
    return n;
  }

  const HttpPostRequest request_;
  const std::string extraCaFile_;
  const std::string caFolder_;
  std::string url_;
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  char errorBuffer_[CURL_ERROR_SIZE];
  std::string pending_;
  size_t pendingStart_ = 0;
  std::chrono::steady_clock::time_point lastActivity_ = std::chrono::steady_clock::now();
  curl_off_t bytesMoved_ = 0;
  bool idleExpired_ = false;
  bool started_ = false;
  bool paused_ = false;
  bool done_ = false;
  bool failed_ = false;
  std::string failure_;
};

}  // namespace

CurlHttpClient::CurlHttpClient() {
  InitialiseCurlOnce();
  systemCaFolder_ = DefaultCaFolder();
}

CurlHttpClient::~CurlHttpClient() = default;

std::unique_ptr<HttpStream> CurlHttpClient::Post(const HttpPostRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::make_unique<CurlStream>(request, extraCaFile_, systemCaFolder_);
}

std::unique_ptr<HttpDownloadSession> CurlHttpClient::OpenSession(const std::string& agent,
                                                                 const HttpTimeouts& timeouts) {
  std::lock_guard<std::mutex> lock(mutex_);
  return NewCurlDownloadSession({agent, timeouts, extraCaFile_, systemCaFolder_});
}

void CurlHttpClient::SetExtraCaFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  extraCaFile_ = path;
}

void CurlHttpClient::SetSystemCaFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  systemCaFolder_ = folder;
}

std::string CurlHttpClient::SystemCaFolder() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return systemCaFolder_;
}

}  // namespace platform
