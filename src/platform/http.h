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
};

}  // namespace platform
