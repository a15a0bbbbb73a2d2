// The reference update server: the update servlet (also reachable at any
// ".php" path), the pixel servlet and the static files, on a plain HTTP and
// an HTTPS port of the loopback interface, plus the control endpoint through
// which tests arm misbehaviour. Every client request is logged before it is
// answered.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "misbehaviour.h"
#include "reply_set.h"
#include "request_log.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace refserver {

struct ServerOptions {
  int httpPort = 0;   // 0: any free port
  int httpsPort = 0;  // 0: any free port
  std::string certFile;
  std::string keyFile;
  std::string replySetFile;  // empty: built-in replies
  std::string filesDir;      // empty: no static files
  // Client file set: listed as the file-list reply (client_set.h) and
  // served under "/files/client/"; a reply-set line for action code 11
  // still wins. Empty: none.
  std::string clientSetDir;
  std::string logFile;       // empty: no request log
  std::string controlToken;  // empty: control requests need no token
  std::string host = "127.0.0.1";
};

class ReplySource;

class ReferenceServer {
 public:
  ReferenceServer();
  ~ReferenceServer();

  // Loads the replies, opens the log and binds both ports. Returns false with
  // `error` set when any of that fails; nothing is listening then.
  [[nodiscard]] bool Bind(const ServerOptions& options, std::string& error);
  int httpPort() const { return httpPort_; }
  int httpsPort() const { return httpsPort_; }

  // Serves both ports until Stop(). Blocks; call after Bind.
  void Run();
  // Ends Run(), cutting stalls short. Any thread, also while requests run.
  void Stop();

 private:
  enum class Route { Update, Pixel, File, Unknown };

  void AddRoutes(httplib::Server& server, bool tls);
  void HandleControl(const httplib::Request& req, httplib::Response& res);
  void HandleClient(const httplib::Request& req, httplib::Response& res, bool tls, Route route);
  void AnswerNormally(const httplib::Request& req, httplib::Response& res, bool tls, Route route, const Form& form);
  void Misbehave(const Rule& rule, const httplib::Request& req, httplib::Response& res, bool tls, Route route,
                 const Form& form);
  std::string NormalBody(const httplib::Request& req, bool tls, Route route, const Form& form, int& status);
  // The file a GET under "/files/" names; empty when there is none.
  std::filesystem::path FileFor(const httplib::Request& req) const;
  // Answers with `source` announced as `announced` bytes, of which the
  // first `sent` go out (bytes past the source's end are padding); then the
  // reply ends, or the connection drops when that is short of the
  // announcement. `perSecond` > 0 spreads the bytes over time.
  void StreamReply(httplib::Response& res, std::shared_ptr<const ReplySource> source, size_t announced, size_t sent,
                   size_t perSecond, const std::string& contentType = "application/octet-stream");
  // Waits up to `seconds`; returns early when the server stops.
  void WaitUnlessStopping(int seconds);
  // The same in milliseconds; returns false when the server is stopping.
  bool PauseUnlessStopping(std::chrono::milliseconds time);
  bool StopRequested();

  ServerOptions options_;
  ReplySet replies_;
  MisbehaviourTable misbehaviour_;
  RequestLog log_;
  std::unique_ptr<httplib::Server> http_;
  std::unique_ptr<httplib::Server> https_;
  int httpPort_ = 0;
  int httpsPort_ = 0;

  std::atomic<int> fileRepliesUnderWay_{0};  // counted for Limit

  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;
};

}  // namespace refserver
