#include "platform/win32/wininet_http_client.h"

#include <chrono>
#include <mutex>
#include <vector>

#include "platform/threaded_downloads.h"
#include "platform/win32/win32_api.h"

#include <wincrypt.h>
#include <wininet.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes that have waited this long are handed out even when they do not
// fill the caller's buffer.
constexpr auto kGatherWait = std::chrono::milliseconds(200);
constexpr const char* kDownloadHeaders = "Accept: */*\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n";
constexpr DWORD kDownloadFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                                 INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  void Reset(HINTERNET handle = nullptr) {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
    handle_ = handle;
  }
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_ = nullptr;
};

std::string ErrorText(DWORD code, const char* step) {
  return std::string(step) + " failed with error " + std::to_string(code);
}

// `text` with every byte that cannot stand in a request line (spaces,
// controls, bytes above 0x7e) percent-encoded.
std::string EscapeUnsafeBytes(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

void SetTimeouts(HINTERNET internet, const HttpTimeouts& timeouts) {
  DWORD connect = static_cast<DWORD>(timeouts.connectSeconds) * 1000;
  DWORD idle = static_cast<DWORD>(timeouts.idleSeconds) * 1000;
  InternetSetOptionA(internet, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionA(internet, INTERNET_OPTION_SEND_TIMEOUT, &idle, sizeof idle);
  InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &idle, sizeof idle);
  InternetSetOptionA(internet, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &idle, sizeof idle);
}

// The first certificate of a PEM file, as a context of its own store. Null
// when the file cannot be read or holds no certificate.
class ExtraCa {
 public:
  explicit ExtraCa(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string pem;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) pem.append(buffer, got);
    CloseHandle(file);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
      return;
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr)) {
      return;
    }
    store_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    if (store_ == nullptr) return;
    CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS, &ca_);
  }
  ~ExtraCa() {
    if (ca_ != nullptr) CertFreeCertificateContext(ca_);
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  ExtraCa(const ExtraCa&) = delete;
  ExtraCa& operator=(const ExtraCa&) = delete;

  // True when `leaf`, with the intermediates the server sent, chains up to
  // this CA and passes the SSL server policy for `host`.
  bool Verifies(PCCERT_CONTEXT leaf, HCERTSTORE sent, const std::string& host) const {
    if (ca_ == nullptr) return false;
    HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (extra == nullptr) return false;
    CertAddStoreToCollection(extra, store_, 0, 0);
    if (sent != nullptr) CertAddStoreToCollection(extra, sent, 0, 0);
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool verified = false;
    if (CertGetCertificateChain(nullptr, leaf, nullptr, extra, &chainPara, 0, nullptr, &chain) && chain != nullptr) {
      verified = EndsInCa(chain) && PassesSslPolicy(chain, host);
      CertFreeCertificateChain(chain);
    }
    CertCloseStore(extra, 0);
    return verified;
  }

 private:
  bool EndsInCa(PCCERT_CHAIN_CONTEXT chain) const {
    if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    return CertCompareCertificate(X509_ASN_ENCODING, root->pCertInfo, ca_->pCertInfo) != 0;
  }

  // The SSL policy with the host name; the root not being in the system
  // store is the one failure let through, since EndsInCa vouches for it.
  static bool PassesSslPolicy(PCCERT_CHAIN_CONTEXT chain, const std::string& host) {
    std::vector<wchar_t> wideHost(host.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, host.c_str(), -1, wideHost.data(), static_cast<int>(wideHost.size()));
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ssl.pwszServerName = wideHost.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) && status.dwError == 0;
  }

  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT ca_ = nullptr;
};

// True when the server of the failed request `request` is vouched for by
// the CA in `caFile`.
bool ServerTrustedByExtraCa(HINTERNET request, const std::string& host, const std::string& caFile) {
  PCCERT_CHAIN_CONTEXT served = nullptr;
  DWORD size = sizeof served;
  if (!InternetQueryOptionA(request, INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &served, &size) || served == nullptr) {
    return false;
  }
  bool trusted = false;
  if (served->cChain > 0 && served->rgpChain[0]->cElement > 0) {
    const PCCERT_CONTEXT leaf = served->rgpChain[0]->rgpElement[0]->pCertContext;
    trusted = ExtraCa(caFile).Verifies(leaf, leaf->hCertStore, host);
  }
  CertFreeCertificateChain(served);
  return trusted;
}

// WinINet keeps one record per server for the whole process, shared by
// every thread and session, and it holds the certificate chain of the last
// handshake with that server: a handshake whose check fails frees it and a
// later one sets it again, without a lock. Two threads that meet a server
// for the first time at once (the update exchange, a download and a report
// thread do) could each free or read the other's chain: the chain asked
// for was gone (a trusted server refused) or freed under the reader (a
// crash). So this process makes its secure connections one at a time: the
// connection, the handshake and the look at the chain happen under this
// lock; what follows (the body, the reply) does not.
std::mutex& SecureHandshakeLock() {
  static std::mutex lock;
  return lock;
}

// One request of an exchange: the connection and request handles under an
// internet handle that the caller keeps open.
struct Request {
  InternetHandle connection;
  InternetHandle request;
  std::string failure;
  DWORD failureCode = 0;  // the system's code of `failure`

  // Opens and sends the request and its body and reads the reply's
  // headers. False with `failure` set when it could not be sent, the server
  // could not be trusted, or no reply came.
  bool Send(HINTERNET internet, const std::string& host, INTERNET_PORT port, bool secure, const char* verb,
            const std::string& objectName, const std::string& headers, const std::string& body, DWORD flags,
            const HttpTimeouts& timeouts, const std::string& caFile) {
    connection.Reset(InternetConnectA(internet, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return Fail("InternetConnectA");
    if (secure) flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_CACHE_WRITE;
    {
      std::unique_lock<std::mutex> handshake(SecureHandshakeLock(), std::defer_lock);
      if (secure) handshake.lock();
      if (!OpenRequest(verb, objectName, flags, timeouts)) return false;
      if (!StartSend(headers, body.size())) {
        const DWORD code = GetLastError();
        if (!secure || caFile.empty() || !MayBeExtraCa(code)) return Fail("HttpSendRequestA", code);
        if (!StartTrustingExtraCa(verb, objectName, flags, timeouts, headers, body.size(), host, caFile, code)) {
          return false;
        }
      }
    }
    return SendBody(body) && (HttpEndRequestA(request.get(), nullptr, 0, 0) || Fail("HttpSendRequestA"));
  }

  bool OpenRequest(const char* verb, const std::string& objectName, DWORD flags, const HttpTimeouts& timeouts) {
    request.Reset(HttpOpenRequestA(connection.get(), verb, objectName.c_str(), nullptr, nullptr, nullptr, flags, 0));
    if (!request) return Fail("HttpOpenRequestA");
    // Set on the request itself: Wine does not hand the internet handle's
    // time-outs down to its requests.
    SetTimeouts(request.get(), timeouts);
    return true;
  }

  // Connects (with the handshake of a secure request) and sends the
  // headers; the body and the reply come after.
  bool StartSend(const std::string& headers, size_t bodySize) {
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.lpcszHeader = headers.empty() ? nullptr : headers.c_str();
    buffers.dwHeadersLength = static_cast<DWORD>(headers.size());
    buffers.dwBufferTotal = static_cast<DWORD>(bodySize);
    return HttpSendRequestExA(request.get(), &buffers, nullptr, 0, 0) != 0;
  }

  // The request again with the unknown CA accepted: the headers go out,
  // which brings the server's certificate, and the body follows only once
  // the chain has been verified against the extra CA. A server that does
  // not verify fails with `refusal`, as it did the first time.
  bool StartTrustingExtraCa(const char* verb, const std::string& objectName, DWORD flags,
                            const HttpTimeouts& timeouts, const std::string& headers, size_t bodySize,
                            const std::string& host, const std::string& caFile, DWORD refusal) {
    if (!OpenRequest(verb, objectName, flags, timeouts)) return false;
    // A private CA publishes no revocation list, so its revocation cannot
    // be checked either.
    DWORD security = 0;
    DWORD size = sizeof security;
    InternetQueryOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
    security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_REVOCATION;
    InternetSetOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
    if (!StartSend(headers, bodySize)) return Fail("HttpSendRequestExA");
    if (!ServerTrustedByExtraCa(request.get(), host, caFile)) return Fail("HttpSendRequestA", refusal);
    return true;
  }

  bool SendBody(const std::string& body) {
    for (size_t sent = 0; sent < body.size();) {
      DWORD written = 0;
      if (!InternetWriteFile(request.get(), body.data() + sent, static_cast<DWORD>(body.size() - sent), &written) ||
          written == 0) {
        return Fail("InternetWriteFile");
      }
      sent += written;
    }
    return true;
  }

  // The failures with which WinINet refuses a server whose CA the system
  // store does not hold: Wine reports the revocation check that could not
  // be made before the unknown CA.
  static bool MayBeExtraCa(DWORD code) {
    return code == ERROR_INTERNET_INVALID_CA || code == ERROR_INTERNET_SEC_CERT_REV_FAILED;
  }

  bool Fail(const char* step, DWORD code = GetLastError()) {
    failure = ErrorText(code, step);
    failureCode = code;
    SetLastError(code);
    return false;
  }
};

class PostStream : public HttpStream {
 public:
  PostStream(const HttpPostRequest& request, std::string caFile, std::mutex& exchange)
      : post_(request), caFile_(std::move(caFile)), turn_(exchange, std::defer_lock) {}

  bool Read(char* buffer, size_t capacity, size_t* received) override {
    *received = 0;
    if (!started_) Start();
    if (failed_) return false;
    if (capacity == 0) return true;
    DWORD got = 0;
    const DWORD ask = capacity > 0x100000 ? 0x100000 : static_cast<DWORD>(capacity);
    if (!InternetReadFile(request_.request.get(), buffer, ask, &got)) {
      failed_ = true;
      request_.Fail("InternetReadFile");
      return false;
    }
    *received = got;
    return true;
  }

  std::string FailureText() const override { return request_.failure; }

 private:
  void Start() {
    started_ = true;
    turn_.lock();
    internet_.Reset(InternetOpenA(post_.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet_) {
      failed_ = true;
      request_.Fail("InternetOpenA");
      return;
    }
    SetTimeouts(internet_.get(), post_.timeouts);
    const std::string objectName = EscapeUnsafeBytes(post_.objectName);
    // Each post has a connection of its own, closed after the reply, and
    // posts take turns. The reports go out on threads of their own while
    // the update exchange goes on, and WinINet's process-wide pool of
    // kept-alive connections can hand one connection to two posts at once
    // (seen under Wine): each then reads the other's reply.
    std::string headers = "Connection: close";
    if (!post_.contentType.empty()) headers += "\r\nContent-Type: " + post_.contentType;
    failed_ = !request_.Send(internet_.get(), post_.host, static_cast<INTERNET_PORT>(post_.port), post_.secure,
                             "POST", objectName, headers, post_.body, INTERNET_FLAG_NO_UI, post_.timeouts, caFile_);
  }

  const HttpPostRequest post_;
  const std::string caFile_;
  std::unique_lock<std::mutex> turn_;  // given back once the handles below are closed
  InternetHandle internet_;
  Request request_;
  bool started_ = false;
  bool failed_ = false;
};

// The reply body of one download. Reads gather what has arrived: each asks
// WinINet how much is there (InternetQueryDataAvailable, which waits for
// the next data) and reads exactly that, so a read never waits for more
// than the server has sent.
class DownloadStream : public HttpStream {
 public:
  DownloadStream(std::unique_ptr<Request> request, uint64_t firstByte)
      : request_(std::move(request)), firstByte_(firstByte) {}

  uint64_t FirstByte() const override { return firstByte_; }

  bool Read(char* buffer, size_t capacity, size_t* received) override {
    *received = 0;
    if (failed_) return false;
    size_t have = 0;
    Clock::time_point firstByteAt{};
    while (have < capacity && !ended_) {
      if (have > 0 && Clock::now() - firstByteAt >= kGatherWait) break;
      DWORD available = 0;
      if (!InternetQueryDataAvailable(request_->request.get(), &available, 0, 0)) return Fail("InternetQueryDataAvailable");
      if (available == 0) {
        ended_ = true;
        break;
      }
      const size_t room = capacity - have;
      const DWORD ask = available < room ? available : static_cast<DWORD>(room > 0x100000 ? 0x100000 : room);
      DWORD got = 0;
      if (!InternetReadFile(request_->request.get(), buffer + have, ask, &got)) return Fail("InternetReadFile");
      if (got == 0) {
        ended_ = true;
        break;
      }
      if (have == 0) firstByteAt = Clock::now();
      have += got;
    }
    *received = have;
    return true;
  }

  std::string FailureText() const override { return request_->failure; }

 private:
  bool Fail(const char* step) {
    failed_ = true;
    request_->Fail(step);
    return false;
  }

  std::unique_ptr<Request> request_;
  const uint64_t firstByte_;
  bool failed_ = false;
  bool ended_ = false;
};

// The first byte of the reply's "Content-Range: bytes FIRST-LAST/TOTAL";
// kUnknownFirstByte when it has none of that form.
uint64_t ContentRangeStart(HINTERNET request) {
  char value[128] = "Content-Range";
  DWORD size = sizeof value;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, value, &size, nullptr)) return kUnknownFirstByte;
  return ContentRangeFirstByte(value);
}

// What a download session's requests use: shared by the session and its
// batch's threads, so that a thread left blocked on a stalled server after
// the batch (and the session) ended still has it.
struct SessionState {
  SessionState(const std::string& agent, const HttpTimeouts& timeoutsOfSession, std::string extraCaFile)
      : timeouts(timeoutsOfSession), caFile(std::move(extraCaFile)) {
    internet.Reset(InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (internet) SetTimeouts(internet.get(), timeouts);
  }

  // Thread-safe: each request has handles of its own under the internet
  // handle, which WinINet lets several threads use at once.
  std::unique_ptr<HttpStream> OpenRange(const std::string& url, uint64_t fromByte, OpenFailure* failure) const {
    auto fail = [failure](const std::string& text, bool busy = false) -> std::unique_ptr<HttpStream> {
      if (failure) *failure = OpenFailure{text, busy};
      return nullptr;
    };
    if (!internet) return fail("InternetOpenA failed");
    char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    std::vector<char> path(url.size() + 1, '\0');
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    const std::string escaped = EscapeUnsafeBytes(url);
    if (!InternetCrackUrlA(escaped.c_str(), static_cast<DWORD>(escaped.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
      return fail("not an http or https address: " + url);
    }
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    auto request = std::make_unique<Request>();
    const std::string object = path[0] != '\0' ? path.data() : "/";
    std::string headers = kDownloadHeaders;
    if (fromByte > 0) headers += "Range: bytes=" + std::to_string(fromByte) + "-\r\n";
    if (!request->Send(internet.get(), host, parts.nPort, secure, "GET", object, headers, std::string(),
                       kDownloadFlags, timeouts, caFile)) {
      // The handshake lock is let go after the failure: its code is the one kept.
      return fail(request->failure, request->failureCode == ERROR_INTERNET_CANNOT_CONNECT);
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request->request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
      return fail(ErrorText(GetLastError(), "HttpQueryInfoA"));
    }
    // WinINet opens a handle for any status; an error page is not a file.
    if (status < 200 || status > 299) return fail("HTTP status " + std::to_string(status), IsBusyStatus(status));
    const uint64_t firstByte = status == 206 ? ContentRangeStart(request->request.get()) : 0;
    return std::make_unique<DownloadStream>(std::move(request), firstByte);
  }

  const HttpTimeouts timeouts;
  const std::string caFile;
  InternetHandle internet;
};

class DownloadSession : public HttpDownloadSession {
 public:
  DownloadSession(const std::string& agent, const HttpTimeouts& timeouts, std::string caFile)
      : state_(std::make_shared<const SessionState>(agent, timeouts, std::move(caFile))) {}

  std::unique_ptr<HttpStream> OpenUrl(const std::string& url, std::string* error) override {
    OpenFailure failure;
    std::unique_ptr<HttpStream> stream = state_->OpenRange(url, 0, &failure);
    if (!stream && error != nullptr) *error = failure.text;
    return stream;
  }

  // With the extra CA, secure requests of several threads at once are mixed
  // up by the system's process-wide pool of secure connections (seen under
  // Wine: trusted servers refused, one request reading another's bytes, a
  // later post reading a file's body), so such a session's transfers go one
  // after the other, in the order they were begun; without it they run in
  // parallel. A blocked WinINet call cannot be interrupted (closing its
  // handle from another thread leaves it waiting under Wine), so the
  // batch's end (the user's exit, the run's first failure) leaves a thread
  // blocked on a stalled server to end by the time-out on its own instead
  // of waiting for it.
  std::unique_ptr<DownloadBatch> NewBatch(int parallel) override {
    return std::make_unique<ThreadedDownloads>(
        [state = state_](const std::string& url, uint64_t fromByte, OpenFailure* failure) {
          return state->OpenRange(url, fromByte, failure);
        },
        state_->caFile.empty() ? parallel : 1, ThreadedDownloads::kChunkBytes,
        ThreadedDownloads::AtEnd::LeaveBlockedThreads);
  }

 private:
  const std::shared_ptr<const SessionState> state_;
};

}  // namespace

std::unique_ptr<HttpStream> WinInetHttpClient::Post(const HttpPostRequest& request) {
  return std::make_unique<PostStream>(request, ExtraCaFile(), postExchange_);
}

void WinInetHttpClient::SetExtraCaFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  extraCaFile_ = path;
}

std::unique_ptr<HttpDownloadSession> WinInetHttpClient::OpenSession(const std::string& agent,
                                                                    const HttpTimeouts& timeouts) {
  return std::make_unique<DownloadSession>(agent, timeouts, ExtraCaFile());
}

std::string WinInetHttpClient::ExtraCaFile() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return extraCaFile_;
}

}  // namespace platform
