// Downloads on Linux through libcurl. A session keeps one easy handle and
// one multi handle (whose connection cache holds the kept-alive connections)
// for the whole run, so consecutive files from one host travel over the same
// connection. Each file is one GET with "Accept: */*" and the no-cache
// headers, so every copy comes fresh from the network; no cookies are kept.
//
// Transport rules, the same as for posts: the certificate and host name are
// verified against the system store (plus the extra CA file, when set); the
// proxy comes from the environment the way libcurl takes it (http_proxy,
// https_proxy, no_proxy); connecting (TLS included) is bounded by the
// connect time-out and the reply by the longest time without a byte. HTTP/1.1
// is asked for, as from the file hosts the installer has always used.
//
// Redirects are followed, at most kMaxDownloadRedirects of them; a file
// opened over https is only ever redirected to https, never down to plain
// http, since the installer runs some of the files it downloads.
//
// The body is pulled: a Read drives the transfer until it can return. Data
// the caller has not read yet is held up to a bound; beyond it the transfer
// pauses until the caller catches up, so a large file never sits in memory
// and a server sending endless data cannot fill it.
#pragma once

#include <memory>
#include <string>

#include "platform/http.h"

struct curl_slist;

namespace platform {

// `text` with every byte that cannot stand in a URL or request line
// (spaces, controls, bytes above 0x7e) percent-encoded; everything else as it
// stands. Shared by posts and downloads.
std::string EscapeUnsafeUrlBytes(const std::string& text);

// What a failed transfer means for the user, from libcurl's result code and
// the system's error of the connection (0 when none): "connection refused",
// "host name not found", "certificate not trusted for this host",
// "time-out", "CA file unreadable"..., followed by libcurl's own message
// `detail` in parentheses.
std::string TransportCause(int curlCode, long systemError, const std::string& detail);

inline constexpr long kMaxDownloadRedirects = 5;

struct CurlDownloadSettings {
  std::string agent;  // User-Agent header; empty sends libcurl's own
  HttpTimeouts timeouts;
  std::string extraCaFile;  // PEM file trusted besides the system store; empty for none
  std::string caFolder;     // folder standing for the system store when extraCaFile is set
};

// Sets the options every download handle `easy` shares: http and https
// only, no signals, GET with the no-cache `headers`, the agent, redirects,
// the connect time-out, and certificate and host name checks with the
// extra CA file. Returns 0 (CURLE_OK) or the first failing option's code.
int SetSharedDownloadOptions(void* easy, const CurlDownloadSettings& settings, curl_slist* headers);

// A new session. Never null: when libcurl cannot give it handles, every
// OpenUrl of the session fails and says so.
std::unique_ptr<HttpDownloadSession> NewCurlDownloadSession(const CurlDownloadSettings& settings);

// The parallel transfers of a session (curl_download_batch.cpp): libcurl's
// multi interface on the calling thread, HTTP/2 streams over TLS where the
// server offers them, else at most `parallel` connections per host. A
// transfer that sends no byte for the no-data time-out ends failed. Never
// null.
std::unique_ptr<DownloadBatch> NewCurlDownloadBatch(const CurlDownloadSettings& settings, int parallel);

}  // namespace platform
