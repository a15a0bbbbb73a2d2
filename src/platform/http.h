// HTTP transport. The logic above it builds the request (object name, body,
// header) and classifies what comes back; this layer only moves bytes. A
// reply body is read in chunks the way the caller asks for it, so that the
// caller sees the same sequence of "data, data, end" or "data, failure" that
// it has to classify.
#pragma once

#include <cstddef>
#include <cstdint>
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
  // Where the body starts in the file asked for: 0 for the whole file, the
  // first byte of the range for a partial reply, kUnknownFirstByte when a
  // partial reply names no usable byte range.
  virtual uint64_t FirstByte() const { return 0; }
};

inline constexpr uint64_t kUnknownFirstByte = UINT64_MAX;

// The first byte of a "Content-Range" value "bytes FIRST-LAST/TOTAL";
// kUnknownFirstByte for any other form.
uint64_t ContentRangeFirstByte(const std::string& value);

// Why an address could not be opened.
struct OpenFailure {
  std::string text;   // short, for logs
  bool busy = false;  // the server turned the request away for load: status
                      // 429 or 503, or a refused connection
};

// True for the statuses with which a server says it is too busy now.
inline bool IsBusyStatus(long status) { return status == 429 || status == 503; }

// One file transfer of a DownloadBatch.
struct DownloadRequest {
  std::string url;
  // 0: the whole file. Otherwise the rest of the file from this byte on (a
  // byte range to the end); the server may still send the whole file.
  uint64_t fromByte = 0;
  // The file's size as far as the caller knows it: once the body runs past
  // it (counted from the byte the reply starts at) the transfer ends
  // failed, so a server sending endless data is not read on.
  uint64_t fileSize = UINT64_MAX;
};

// How a transfer of a DownloadBatch ended.
struct DownloadOutcome {
  bool ok = false;       // the body arrived whole, as far as the transport can tell
  bool started = false;  // the address was opened (Started was called)
  bool busy = false;     // see OpenFailure::busy; only when not started
  std::string failure;   // short, for logs; empty when ok
};

// The events of a batch's transfers. Called only from inside
// DownloadBatch::Pump, on the thread that calls it, one event at a time.
class DownloadReceiver {
 public:
  virtual ~DownloadReceiver() = default;
  // The final reply's headers have arrived with a success status.
  // `firstByte` as HttpStream::FirstByte. Returning false ends the transfer
  // as failed (only Ended follows).
  virtual bool Started(uint64_t id, uint64_t firstByte) = 0;
  // The next piece of the body. Returning false ends the transfer as failed.
  virtual bool Received(uint64_t id, const char* data, size_t size) = 0;
  // The transfer is over; once per transfer that was not aborted.
  virtual void Ended(uint64_t id, const DownloadOutcome& outcome) = 0;
};

// Transfers running in parallel on the connections of one download session:
// HTTP/2 streams where the server offers them, else a few connections per
// host. Owned by the caller and used by one thread; the session must
// outlive it. Destroying it ends every transfer still running.
class DownloadBatch {
 public:
  virtual ~DownloadBatch() = default;
  // Queues a transfer and returns its id (never 0) at once; it starts as
  // soon as the session has room for it. Safe inside receiver calls.
  virtual uint64_t Begin(const DownloadRequest& request) = 0;
  // Moves the transfers on and hands their events to `receiver`. Returns
  // once at least one event was delivered or `waitMs` has passed.
  virtual void Pump(DownloadReceiver& receiver, int waitMs) = 0;
  // Ends transfer `id` at once; no event of it follows. Unknown or ended
  // ids are ignored. Safe inside receiver calls.
  virtual void Abort(uint64_t id) = 0;
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
  // A batch of parallel transfers on this session, at most `parallel` of
  // them on the wire at once (and per host). Never null. The default runs
  // OpenUrl (always for the whole file) and the stream's reads on
  // `parallel` threads of its own, for transports that only block
  // (platform/threaded_downloads.h).
  virtual std::unique_ptr<DownloadBatch> NewBatch(int parallel);
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
