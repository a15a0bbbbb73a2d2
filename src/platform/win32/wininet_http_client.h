// HTTP on Windows through WinINet. Posts and downloads go the same way: an
// internet handle with the agent and the system's configured proxy
// (INTERNET_OPEN_TYPE_PRECONFIG), a connection handle per exchange, and a
// request handle sent in steps (HttpSendRequestExA for the connection and
// the headers, InternetWriteFile for the body, HttpEndRequestA for the
// reply's headers). A download session keeps its
// internet handle for the whole run, so that WinINet keeps the connections
// to a file host alive from one file to the next.
//
// Parallel downloads run on the default batch of the seam: a few threads,
// each opening its file (with a Range request for a resumed file) and
// reading it on the session's one internet handle.
//
// Time-outs: INTERNET_OPTION_CONNECT_TIMEOUT bounds connecting, and
// INTERNET_OPTION_RECEIVE_TIMEOUT the wait for each piece of the reply, so
// a stalled server fails the read that waits on it.
//
// Trust: the certificate and host name are verified against the system
// store. When an extra CA file is set and the system store does not know the
// server's CA (ERROR_INTERNET_INVALID_CA), the server's certificate is taken
// from the failed request and its chain built again with the extra CA in an
// additional store (CertGetCertificateChain) and checked with the SSL policy
// and the host name (CertVerifyCertificateChainPolicy); only a chain that
// ends in that CA lets the request be sent again with the unknown CA
// accepted. Anything else fails exactly as an untrusted server does.
// WinINet keeps that chain once per server for the whole process, unlocked,
// so the process makes its secure connections one at a time (handshake and
// check under one lock; the body and the reply outside it).
//
// Hosts are names: WinINet refuses an IP address where the certificate names
// it (ERROR_INTERNET_SEC_CERT_CN_INVALID).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/http.h"

namespace platform {

class WinInetHttpClient : public HttpClient {
 public:
  // Never null; the exchange starts on the stream's first Read. Thread-safe:
  // the posts of all threads take turns, one exchange at a time.
  std::unique_ptr<HttpStream> Post(const HttpPostRequest& request) override;
  // Thread-safe; applies to exchanges posted and sessions opened afterwards.
  void SetExtraCaFile(const std::string& path) override;
  // Never null. Thread-safe.
  std::unique_ptr<HttpDownloadSession> OpenSession(const std::string& agent, const HttpTimeouts& timeouts) override;

 private:
  std::string ExtraCaFile() const;

  mutable std::mutex mutex_;
  std::string extraCaFile_;
  std::mutex postExchange_;  // held by the one post under way
};

}  // namespace platform
