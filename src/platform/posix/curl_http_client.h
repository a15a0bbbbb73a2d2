// HTTP on Linux through libcurl. Each Post is its own exchange with its own
// handles, so posts from several threads run in parallel without sharing
// anything but the client's trust settings. The reply is pulled: the caller's
// Read drives the transfer until data, the end or a failure is at hand.
//
// Every exchange verifies the server's certificate and host name against
// the system store (plus the extra CA file, when set), takes its proxy from
// the environment the way libcurl does (http_proxy, https_proxy, no_proxy),
// sends no "Expect: 100-continue", and is bounded by the request's
// time-outs: connecting (TLS included) and the longest time without a byte.
// Download sessions (curl_download_session.h) follow the same rules and take
// the client's trust settings as they stand when the session is opened.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/http.h"

namespace platform {

class CurlHttpClient : public HttpClient {
 public:
  CurlHttpClient();
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  // Never null; the exchange starts on the stream's first Read. Thread-safe.
  std::unique_ptr<HttpStream> Post(const HttpPostRequest& request) override;
  // Thread-safe; applies to exchanges posted afterwards.
  void SetExtraCaFile(const std::string& path) override;
  // Never null. Thread-safe.
  std::unique_ptr<HttpDownloadSession> OpenSession(const std::string& agent, const HttpTimeouts& timeouts) override;

  // The folder of hashed CA certificates that stands for the system store
  // when an extra CA file is set (libcurl's own default, else
  // /etc/ssl/certs). Tests point it at a folder of their own to prove that
  // both sources are trusted together. Thread-safe.
  void SetSystemCaFolder(const std::string& folder);
  std::string SystemCaFolder() const;

 private:
  mutable std::mutex mutex_;
  std::string extraCaFile_;
  std::string systemCaFolder_;
};

}  // namespace platform
