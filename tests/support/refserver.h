// Starts the reference update server (build/bin/refserver) for one test on
// loopback, with its own temporary log and working folder, and stops it when
// the object goes out of scope. Start-up is bounded in time; a server that
// does not come up fails the test.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct RefServerOptions {
  // Reply set for the update servlet (a file in the server's reply-set
  // format); empty for the built-in defaults.
  std::string replySet;
  // Folder served as static files under "/files/"; empty for none.
  std::string filesDir;
  // Client file set: the file-list reply (action code 11) lists it and
  // "/files/client/" serves it; empty for none. SampleClientDir() + "/client"
  // is the sample set made at build time.
  std::string clientSet;
  // TLS certificate the HTTPS port presents: "server" (valid for 127.0.0.1
  // and localhost, signed by the test CA) or "otherhost" (signed by the same
  // CA for another host name).
  std::string certificate = "server";
};

// One request as the server logged it.
struct LoggedRequest {
  std::string method;
  std::string path;
  std::string userAgent;
  std::string contentType;          // the Content-Type header as received
  std::string range;                // the Range header; empty without one
  int contentTypeHeaders = 0;       // how many Content-Type headers arrived
  bool tls = false;                 // arrived on the HTTPS port
  std::string remoteAddr;           // the client's end of the connection:
  int remotePort = 0;               // one pair per connection
  std::string misbehave;            // mode it was answered in; empty for a normal answer
  std::vector<std::pair<std::string, std::string>> form;  // decoded form fields, in order
  std::string rawBody;

  // Value of form field `name`; empty when absent.
  std::string Field(const std::string& name) const;
  bool HasField(const std::string& name) const;
};

// The sample client file set made at build time: "client/" (the set),
// "movies/" (the installer movies) and "pixel/" (the web-pixel pages).
std::string SampleClientDir();

class RefServer {
 public:
  explicit RefServer(const RefServerOptions& options = {});
  ~RefServer();
  RefServer(const RefServer&) = delete;
  RefServer& operator=(const RefServer&) = delete;

  // True once the server has come up; the constructor has already failed
  // the test when it did not.
  bool started() const { return httpPort_ > 0 && httpsPort_ > 0; }
  int httpPort() const { return httpPort_; }
  int httpsPort() const { return httpsPort_; }
  // PEM file of the test CA that signed the server's certificates.
  std::string caFile() const;

  // Makes the next `times` requests to `path` (for example
  // "/servlet/UpdateServlet"), and when `ac` is given only those whose form
  // carries that action code, misbehave in `mode`: "close" (connection
  // closed without a reply), "stall" (no byte for `seconds`; a file's
  // headers go out first), "html" (an HTML error page), "long" (a reply of
  // `bytes` bytes), "drop" (part of a reply, then the connection is
  // dropped), "badac" (a reply with an unknown action code), "empty" (an
  // empty reply), "wronglength" (`bytes` more, or negative fewer, bytes
  // than the real reply, announced so), "dropafter" (exactly `bytes` bytes
  // of the body, then the connection drops), "404", "trickle" (`bytes` per
  // second), "endless" (chunked data until the client hangs up),
  // "redirect" (302 back to the same address), "norange" (a file whole with
  // status 200 whatever range was asked), "badrange" (status 206 with another
  // range than asked), "429", "503", "limit" (status 503 while `bytes` file
  // replies of the rule are under way).
  void Misbehave(const std::string& mode, const std::string& path, int times = 1, const std::string& ac = "",
                 int seconds = 0, int bytes = 0);

  // Disarms every misbehaviour still armed.
  void ResetMisbehaviour();

  // Every request received so far, in order of arrival.
  std::vector<LoggedRequest> Requests() const;
  // The raw log lines (one JSON object per request).
  std::vector<std::string> LogLines() const;

 private:
  int pid_ = -1;
  int httpPort_ = 0;
  int httpsPort_ = 0;
  std::string workDir_;
  std::string logPath_;
  std::string controlToken_;

  void Start(const RefServerOptions& options);
  void Stop();
  void Control(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields);
};

}  // namespace testing_support
