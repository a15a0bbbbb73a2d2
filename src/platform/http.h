// HTTP transport. The logic above it builds the request (object name, body,
// header) and classifies what comes back; this layer only moves bytes. A
// reply body is read in chunks the way the caller asks for it, so that the
// caller sees the same sequence of "data, data, end" or "data, failure" that
// it has to classify.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// Limits of one exchange. A stalled server ends the exchange with a failed
// read instead of hanging the caller.
struct HttpTimeouts {
  int connectSeconds = 60;  // to establish the connection (TLS included)
  int idleSeconds = 30;     // longest time without any byte received
};

struct HttpPostRequest {
  std::string agent;        // User-Agent header
  std::string host;         // host name, no scheme, no port
  int port = 0;
  bool secure = false;      // TLS, certificate and host name verified
  std::string objectName;   // request target; a leading "/" is added when missing
  std::string contentType;  // the one Content-Type header line's value
  std::string body;
  HttpTimeouts timeouts;
};

// One reply being received. Owned by the caller; destroying it closes the
// exchange. Used by one thread at a time.
class HttpStream {
 public:
  virtual ~HttpStream() = default;
  // Blocks until at least one byte, the end of the reply or a failure.
  // Returns false when the exchange failed (no connection, TLS refused,
  // time-out, connection dropped); *received is then 0. Returns true with
  // *received = 0 at the normal end of the reply.
  virtual bool Read(char* buffer, size_t capacity, size_t* received) = 0;
  // Short text of the last failure, for logs; empty when none.
  virtual std::string FailureText() const = 0;
};

// A download session: one per run of the update, so that the connections to
// a file host are kept alive from one file to the next. Used by one thread
// at a time; owned by the caller; destroying it closes its connections.
class HttpDownloadSession {
 public:
  virtual ~HttpDownloadSession() = default;
  // Opens `url` (http or https) for reading: sends the request and blocks
  // until the reply's headers have arrived. Returns null when the address
  // cannot be opened: a malformed address, no connection, TLS refused, a
  // time-out, or an HTTP status that is not a success (a missing file is
  // not a file to install); *error (when given) then tells why. Reads of
  // the returned stream gather the body into chunks: each returns when
  // `capacity` bytes are there, the body has ended, or some bytes have
  // waited a fifth of a second, so that slow transfers still show progress.
  // Only one stream of a session is open at a time.
  virtual std::unique_ptr<HttpStream> OpenUrl(const std::string& url, std::string* error) = 0;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Sends a POST and returns the stream of its reply body. Never null:
  // a connection or send failure shows as a failing first Read. Thread-safe:
  // each call is its own exchange.
  virtual std::unique_ptr<HttpStream> Post(const HttpPostRequest& request) = 0;
  // An extra CA certificate file (PEM) trusted for every TLS exchange in
  // addition to the system store; empty for none. Set before the first
  // exchange.
  virtual void SetExtraCaFile(const std::string& path) = 0;
  // A new download session with the given user agent and time-outs. Never
  // null. Thread-safe.
  virtual std::unique_ptr<HttpDownloadSession> OpenSession(const std::string& agent,
                                                           const HttpTimeouts& timeouts) = 0;
};

}  // namespace platform
