#include "server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "client_set.h"

namespace refserver {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultLongBytes = 200000;
constexpr int kDefaultTrickleBytesPerSecond = 1024;
constexpr int kWorkerThreads = 16;
// Requests one kept-alive connection may carry, enough for a whole client
// file set, as with the file hosts the installer meets.
constexpr size_t kKeepAliveRequests = 1000;
// Largest piece written to a connection at once.
constexpr size_t kPieceBytes = 65536;
// A trickle goes out in this many pieces a second.
constexpr int kTrickleSlicesPerSecond = 10;
constexpr const char* kClientFolder = "client/";
constexpr const char* kUnknownActionCode = "99";
constexpr const char* kErrorPage =
    "<html><head><title>500 Internal Server Error</title></head>"
    "<body><h1>Internal Server Error</h1><p>The server encountered an internal error.</p></body></html>";

std::string AddressText(const sockaddr_storage& address, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  } else {
    port = -1;
  }
  return text;
}

// The socket of the connection that carries `req`. The HTTP library does not
// hand its sockets to handlers, so a plain connection is found among the
// process's descriptors by its two end points.
int ConnectionSocket(const httplib::Request& req) {
  if (req.ssl != nullptr) return SSL_get_fd(req.ssl);
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int found = -1;
  while (const dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    sockaddr_storage local{}, peer{};
    socklen_t localSize = sizeof local, peerSize = sizeof peer;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localSize) != 0) continue;
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) continue;
    int localPort = -1, peerPort = -1;
    AddressText(local, localPort);
    const std::string peerAddress = AddressText(peer, peerPort);
    if (localPort == req.local_port && peerPort == req.remote_port && peerAddress == req.remote_addr) {
      found = static_cast<int>(fd);
      break;
    }
  }
  closedir(dir);
  return found;
}

// Ends the connection at once: the client sees the connection closed and no
// byte of a reply. What the library then tries to write fails and it closes
// the socket.
void CloseConnection(const httplib::Request& req) {
  const int fd = ConnectionSocket(req);
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

// `body` cut or padded to exactly `size` bytes. The padding is an extra key
// so that the reply still reads as a key-value text.
std::string PadTo(const std::string& body, size_t size) {
  if (body.size() >= size) return body.substr(0, size);
  std::string padded = body;
  const size_t missing = size - body.size();
  if (missing > 5) padded += "~pad=";
  padded.append(size - padded.size(), 'x');
  return padded;
}

// The normal reply with its action code replaced by one that no client
// knows; a reply without one gets it in front.
std::string WithUnknownActionCode(const std::string& body) {
  const size_t key = body.find("~ac=");
  if (key == std::string::npos) return std::string("~ac=") + kUnknownActionCode + body;
  const size_t start = key + 4;
  size_t end = body.find_first_of("~|", start);
  if (end == std::string::npos) end = body.size();
  return body.substr(0, start) + kUnknownActionCode + body.substr(end);
}

std::string BaseAddress(const httplib::Request& req, bool tls) {
  std::string host = req.get_header_value("Host");
  if (host.empty()) host = req.local_addr + ":" + std::to_string(req.local_port);
  return std::string(tls ? "https://" : "http://") + host;
}

// The file under `root` that `relative` names; empty when it does not name
// a regular file inside `root` (absolute names, ".." parts and links that
// lead outside are refused).
fs::path ResolveFile(const std::string& root, const std::string& relative) {
  if (root.empty() || relative.empty()) return {};
  const fs::path rel(relative);
  if (rel.is_absolute()) return {};
  for (const auto& part : rel) {
    if (part == "..") return {};
  }
  std::error_code ec;
  const fs::path base = fs::canonical(root, ec);
  if (ec) return {};
  const fs::path full = fs::canonical(base / rel, ec);
  if (ec || !fs::is_regular_file(full, ec)) return {};
  const auto [baseEnd, fullPos] = std::mismatch(base.begin(), base.end(), full.begin(), full.end());
  if (baseEnd != base.end()) return {};
  return full;
}

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The HTTP library files the connection's end points among the request
// headers; they were never sent by the client.
bool IsAddedByLibrary(const std::string& headerName) {
  return headerName == "LOCAL_ADDR" || headerName == "LOCAL_PORT" || headerName == "REMOTE_ADDR" ||
         headerName == "REMOTE_PORT";
}

// The first byte of a "Range: bytes=N-..." request header; 0 without one.
size_t AskedStart(const std::string& range) {
  const std::string prefix = "bytes=";
  if (range.rfind(prefix, 0) != 0) return 0;
  return static_cast<size_t>(std::strtoull(range.c_str() + prefix.size(), nullptr, 10));
}

int ToInt(const std::string& text, int fallback) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0' ? static_cast<int>(value) : fallback;
}

// Movies (HTML documents under the names the initial reply gives) and web
// pages are shown by a browser; everything else is a download.
std::string ContentTypeOf(const fs::path& file) {
  const std::string extension = file.extension().string();
  if (extension == ".qrx" || extension == ".html") return "text/html; charset=utf-8";
  return "application/octet-stream";
}

}  // namespace

// The bytes of a reply, read piece by piece so that a large file is never
// held whole. Reads past the end give padding ("x"), for replies that are to
// be longer than the real one.
class ReplySource {
 public:
  explicit ReplySource(std::string text) : text_(std::move(text)), size_(text_.size()) {}
  explicit ReplySource(const fs::path& file) : file_(file, std::ios::binary) {
    std::error_code ec;
    size_ = static_cast<size_t>(fs::file_size(file, ec));
    if (ec) size_ = 0;
  }
  size_t size() const { return size_; }

  std::string Read(size_t offset, size_t length) const {
    std::string piece;
    if (offset < size_) {
      const size_t real = std::min(length, size_ - offset);
      if (file_.is_open()) {
        piece.resize(real);
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(piece.data(), static_cast<std::streamsize>(real));
        piece.resize(static_cast<size_t>(std::max<std::streamsize>(0, file_.gcount())));
      } else {
        piece = text_.substr(offset, real);
      }
    }
    piece.resize(length, 'x');
    return piece;
  }

 private:
  std::string text_;
  mutable std::ifstream file_;  // read by one connection thread at a time
  size_t size_ = 0;
};

ReferenceServer::ReferenceServer() = default;
ReferenceServer::~ReferenceServer() = default;

bool ReferenceServer::Bind(const ServerOptions& options, std::string& error) {
  options_ = options;
  if (!options_.clientSetDir.empty()) {
    std::string fileList;
    if (!BuildClientSetReply(options_.clientSetDir, fileList, error)) return false;
    replies_.SetUpdateReply("11", fileList);
  }
  if (!options_.replySetFile.empty() && !replies_.Load(options_.replySetFile, error)) return false;
  if (!log_.Open(options_.logFile)) {
    error = "Failed to open log " + options_.logFile;
    return false;
  }
  http_ = std::make_unique<httplib::Server>();
  https_ = std::make_unique<httplib::SSLServer>(options_.certFile.c_str(), options_.keyFile.c_str());
  if (!https_->is_valid()) {
    error = "Failed to load certificate " + options_.certFile + " with key " + options_.keyFile;
    return false;
  }
  AddRoutes(*http_, false);
  AddRoutes(*https_, true);
  // The library's default shares the port (SO_REUSEPORT), so a second
  // server on a port in use would take half of its connections. Only
  // SO_REUSEADDR here: a port in use fails the bind.
  const auto exclusive = [](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  };
  http_->set_socket_options(exclusive);
  https_->set_socket_options(exclusive);

  const auto bindPort = [&](httplib::Server& server, int wanted, int& bound) {
    bound = wanted == 0 ? server.bind_to_any_port(options_.host)
                        : (server.bind_to_port(options_.host, wanted) ? wanted : -1);
    if (bound > 0) return true;
    const bool inUse = errno == EADDRINUSE;
    error = "Failed to bind " + options_.host + ":" + std::to_string(wanted) +
            (inUse ? ": the port is in use (is another server running there?)" : "");
    return false;
  };
  return bindPort(*http_, options_.httpPort, httpPort_) && bindPort(*https_, options_.httpsPort, httpsPort_);
}

void ReferenceServer::AddRoutes(httplib::Server& server, bool tls) {
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(kKeepAliveRequests);
  if (!tls) {
    const auto control = [this](const httplib::Request& req, httplib::Response& res) { HandleControl(req, res); };
    server.Post("/control/misbehave", control);
    server.Post("/control/reset", control);
  }
  const auto route = [this, tls](Route kind) {
    return
        [this, tls, kind](const httplib::Request& req, httplib::Response& res) { HandleClient(req, res, tls, kind); };
  };
  server.Post("/servlet/UpdateServlet", route(Route::Update));
  server.Post("/servlet/PixelServlet", route(Route::Pixel));
  // A client whose server directory names a ".php" script posts there.
  server.Post(R"(.*\.php.*)", route(Route::Update));
  server.Get(R"(/files/.*)", route(Route::File));
  server.Get(".*", route(Route::Unknown));
  server.Post(".*", route(Route::Unknown));
}

void ReferenceServer::HandleControl(const httplib::Request& req, httplib::Response& res) {
  const Form form = DecodeForm(req.body);
  if (!options_.controlToken.empty() && FormValue(form, "token") != options_.controlToken &&
      req.get_header_value("X-Control-Token") != options_.controlToken) {
    res.status = 403;
    res.set_content("bad control token\n", "text/plain");
    return;
  }
  if (req.path == "/control/reset") {
    misbehaviour_.Clear();
    res.set_content("ok\n", "text/plain");
    return;
  }
  const auto mode = ParseMode(FormValue(form, "mode"));
  const std::string path = FormValue(form, "path");
  if (!mode || path.empty()) {
    res.status = 400;
    res.set_content("needs a known mode and a path\n", "text/plain");
    return;
  }
  Rule rule;
  rule.mode = *mode;
  rule.path = path;
  rule.ac = FormValue(form, "ac");
  rule.times = ToInt(FormValue(form, "times"), 1);
  rule.seconds = ToInt(FormValue(form, "seconds"), 0);
  rule.bytes = ToInt(FormValue(form, "bytes"), 0);
  misbehaviour_.Add(rule);
  res.set_content("ok\n", "text/plain");
}

void ReferenceServer::HandleClient(const httplib::Request& req, httplib::Response& res, bool tls, Route route) {
  Form form = DecodeForm(req.body);
  const std::optional<Rule> rule = misbehaviour_.Take(req.path, FormValue(form, "ac"));

  LogEntry entry;
  entry.method = req.method;
  entry.path = req.path;
  entry.target = req.target;
  for (const auto& [name, value] : req.headers) {
    if (!IsAddedByLibrary(name)) entry.headers.emplace_back(name, value);
  }
  entry.tls = tls;
  entry.localPort = req.local_port;
  entry.remoteAddr = req.remote_addr;
  entry.remotePort = req.remote_port;
  entry.body = req.body;
  entry.form = form;
  if (rule) entry.misbehave = ModeName(rule->mode);
  log_.Write(entry);

  if (rule) {
    Misbehave(*rule, req, res, tls, route, form);
  } else {
    AnswerNormally(req, res, tls, route, form);
  }
}

std::string ReferenceServer::NormalBody(const httplib::Request& req, bool tls, Route route, const Form& form,
                                        int& status) {
  status = 200;
  const ReplyContext context{BaseAddress(req, tls), &form};
  switch (route) {
    case Route::Update:
      return replies_.UpdateReply(FormValue(form, "ac"), context);
    case Route::Pixel:
      return replies_.PixelReply(context);
    case Route::File: {
      const fs::path file = FileFor(req);
      if (!file.empty()) return ReadWholeFile(file);
      break;
    }
    case Route::Unknown:
      break;
  }
  status = 404;
  return "not found\n";
}

void ReferenceServer::AnswerNormally(const httplib::Request& req, httplib::Response& res, bool tls, Route route,
                                     const Form& form) {
  if (route == Route::File) {
    // Files are streamed, so that large files of a client file set need no
    // copy in memory.
    const fs::path file = FileFor(req);
    if (!file.empty()) {
      const auto source = std::make_shared<const ReplySource>(file);
      StreamReply(res, source, source->size(), source->size(), 0, ContentTypeOf(file));
      return;
    }
  }
  int status = 200;
  const std::string body = NormalBody(req, tls, route, form, status);
  res.status = status;
  res.set_content(body, "text/plain");
}

void ReferenceServer::Misbehave(const Rule& rule, const httplib::Request& req, httplib::Response& res, bool tls,
                                Route route, const Form& form) {
  // The reply as it would have gone out, read piece by piece.
  std::shared_ptr<const ReplySource> source;
  const fs::path file = route == Route::File ? FileFor(req) : fs::path();
  if (!file.empty()) {
    source = std::make_shared<const ReplySource>(file);
  } else {
    int status = 200;
    source = std::make_shared<const ReplySource>(NormalBody(req, tls, route, form, status));
  }
  const size_t size = source->size();
  const auto bytes = [&rule](size_t fallback) { return rule.bytes > 0 ? static_cast<size_t>(rule.bytes) : fallback; };

  switch (rule.mode) {
    case Mode::Close:
      CloseConnection(req);
      return;
    case Mode::Stall:
      if (!file.empty()) {
        // The headers go out at once; the body never comes.
        const int seconds = rule.seconds;
        res.set_content_provider(size, "application/octet-stream", [this, seconds](size_t, size_t, httplib::DataSink&) {
          WaitUnlessStopping(seconds);
          return false;
        });
        return;
      }
      WaitUnlessStopping(rule.seconds);
      CloseConnection(req);
      return;
    case Mode::Html:
      res.status = 500;
      res.set_content(kErrorPage, "text/html");
      return;
    case Mode::Long: {
      int status = 200;
      res.set_content(PadTo(NormalBody(req, tls, route, form, status), bytes(kDefaultLongBytes)), "text/plain");
      return;
    }
    case Mode::Drop: {
      // Announce the whole reply, send its first part, then give up.
      const size_t sent = bytes(std::max<size_t>(1, size / 2));
      StreamReply(res, source, std::max(size, sent + 1), sent, 0);
      return;
    }
    case Mode::DropAfter: {
      const size_t sent = rule.bytes > 0 ? static_cast<size_t>(rule.bytes) : 0;
      StreamReply(res, source, std::max(size, sent + 1), sent, 0);
      return;
    }
    case Mode::WrongLength: {
      const long long announced = std::max(0LL, static_cast<long long>(size) + rule.bytes);
      StreamReply(res, source, static_cast<size_t>(announced), static_cast<size_t>(announced), 0);
      return;
    }
    case Mode::Trickle:
      StreamReply(res, source, size, size, bytes(kDefaultTrickleBytesPerSecond));
      return;
    case Mode::Endless:
      // The reply repeated (padding when it is empty), in chunks, until the
      // client hangs up or the server stops.
      res.set_chunked_content_provider(
          "application/octet-stream", [this, source](size_t offset, httplib::DataSink& sink) {
            const size_t size = source->size();
            std::string piece = size == 0 ? std::string(kPieceBytes, 'x') : source->Read(offset % size, kPieceBytes);
            if (size > 0 && offset % size + kPieceBytes > size) {
              piece.resize(size - offset % size);
            }
            return !StopRequested() && sink.write(piece.data(), piece.size());
          });
      return;
    case Mode::NotFound:
      res.status = 404;
      res.set_content("not found\n", "text/plain");
      return;
    case Mode::Redirect:
      res.set_redirect(req.target);
      return;
    case Mode::BadAc: {
      int status = 200;
      res.set_content(WithUnknownActionCode(NormalBody(req, tls, route, form, status)), "text/plain");
      return;
    }
    case Mode::Empty:
      res.status = 200;
      res.set_content("", "text/plain");
      return;
    case Mode::NoRange:
      // The library answers a range by itself unless the request has none.
      const_cast<httplib::Request&>(req).ranges.clear();
      res.status = 200;
      StreamReply(res, source, size, size, 0);
      return;
    case Mode::BadRange: {
      const_cast<httplib::Request&>(req).ranges.clear();
      const size_t asked = AskedStart(req.get_header_value("Range"));
      const size_t first = std::min(size > 0 ? size - 1 : 0, asked > 1 ? asked / 2 : size / 2);
      res.status = 206;
      res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(size > 0 ? size - 1 : 0) +
                                          "/" + std::to_string(size));
      res.set_content_provider(size - first, "application/octet-stream",
                               [source, first](size_t offset, size_t length, httplib::DataSink& sink) {
                                 const std::string piece = source->Read(first + offset, std::min(length, kPieceBytes));
                                 return sink.write(piece.data(), piece.size());
                               });
      return;
    }
    case Mode::TooMany:
    case Mode::Unavailable:
      res.status = rule.mode == Mode::TooMany ? 429 : 503;
      res.set_content("busy\n", "text/plain");
      return;
    case Mode::Limit: {
      if (fileRepliesUnderWay_.load() >= std::max(1, rule.bytes)) {
        res.status = 503;
        res.set_content("busy\n", "text/plain");
        return;
      }
      ++fileRepliesUnderWay_;
      res.set_content_provider(
          size, "application/octet-stream",
          [source](size_t offset, size_t length, httplib::DataSink& sink) {
            const std::string piece = source->Read(offset, std::min(length, kPieceBytes));
            return sink.write(piece.data(), piece.size());
          },
          [this](bool) { --fileRepliesUnderWay_; });
      return;
    }
  }
}


void ReferenceServer::StreamReply(httplib::Response& res, std::shared_ptr<const ReplySource> source, size_t announced,
                                  size_t sent, size_t perSecond, const std::string& contentType) {
  const size_t slice = perSecond > 0 ? std::max<size_t>(1, perSecond / kTrickleSlicesPerSecond) : kPieceBytes;
  const auto pause = std::chrono::milliseconds(perSecond > 0 ? 1000 / kTrickleSlicesPerSecond : 0);
  res.set_content_provider(announced, contentType,
                           [this, source, sent, slice, pause](size_t offset, size_t length, httplib::DataSink& sink) {
                             if (offset >= sent) return false;  // short of the announcement: drop
                             const std::string piece = source->Read(offset, std::min({length, sent - offset, slice}));
                             if (!sink.write(piece.data(), piece.size())) return false;
                             return pause.count() == 0 || PauseUnlessStopping(pause);
                           });
}

fs::path ReferenceServer::FileFor(const httplib::Request& req) const {
  const std::string relative = req.path.substr(std::string("/files/").size());
  if (!options_.clientSetDir.empty() && relative.rfind(kClientFolder, 0) == 0) {
    return ResolveFile(options_.clientSetDir, relative.substr(std::string(kClientFolder).size()));
  }
  return ResolveFile(options_.filesDir, relative);
}

bool ReferenceServer::PauseUnlessStopping(std::chrono::milliseconds time) {
  std::unique_lock lock(stopMutex_);
  return !stopSignal_.wait_for(lock, time, [this] { return stopping_; });
}

bool ReferenceServer::StopRequested() {
  std::lock_guard lock(stopMutex_);
  return stopping_;
}

void ReferenceServer::WaitUnlessStopping(int seconds) {
  std::unique_lock lock(stopMutex_);
  stopSignal_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopping_; });
}

void ReferenceServer::Run() {
  std::atomic<int> running{2};
  std::thread httpThread([&] {
    http_->listen_after_bind();
    --running;
  });
  std::thread httpsThread([&] {
    https_->listen_after_bind();
    --running;
  });
  {
    std::unique_lock lock(stopMutex_);
    stopSignal_.wait(lock, [this] { return stopping_; });
  }
  // A stop that comes before a listener has started is lost, so keep asking.
  while (running > 0) {
    http_->stop();
    https_->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  httpThread.join();
  httpsThread.join();
}

void ReferenceServer::Stop() {
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
}

}  // namespace refserver
