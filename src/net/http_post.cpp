#include "net/http_post.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <type_traits>

#include "platform/path.h"

namespace net {

namespace {

std::string Cut(std::string_view text, size_t width) { return std::string(text.substr(0, width)); }

// The cause of this thread's last failed exchange, kept in a plain array:
// the Windows build frees a thread's thread-local storage before it runs the
// destructors of what lives there, so a thread-local string corrupts the heap
// at the end of its thread.
struct FailureCause {
  char text[256];
  bool empty() const { return text[0] == '\0'; }
  void clear() { text[0] = '\0'; }
  std::string str() const { return text; }
  FailureCause& operator=(std::string_view cause) {
    const size_t length = std::min(cause.size(), sizeof text - 1);
    cause.copy(text, length);
    text[length] = '\0';
    return *this;
  }
};
static_assert(std::is_trivially_destructible_v<FailureCause>);
thread_local FailureCause lastTransportFailure{};

// One line per exchange in the session log: where, what came of it, how
// long it took. The form itself stays out of the log.
void LogExchange(const platform::Platform& platform, const PostTarget& target, const std::string& objectName,
                 PostResult result, size_t bytes, std::chrono::steady_clock::time_point start) {
  if (platform.log == nullptr) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::string line = "exchange " + target.host + ":" + std::to_string(target.port) + "/" + objectName + ": " +
                     PostResultName(result) + ", " + std::to_string(bytes) + " bytes, " +
                     std::to_string(ms.count()) + " ms";
  if (!lastTransportFailure.empty()) line += ", " + lastTransportFailure.str();
  platform.log->Write(line);
}

// A failing read is the only moment the connection alert box can appear, and
// only while the switch file is present in the current directory.
void ShowAlertIfSwitchedOn(const platform::Platform& platform, const PostTarget& target,
                           const std::string& host, const std::string& objectName) {
  if (platform.files == nullptr || platform.dialogs == nullptr) return;
  if (!platform.files->Exists(platform::NativePath(kAlertModeFile))) return;
  platform.dialogs->ShowMessageBox(ConnectionAlertText(host, objectName, target.port), target.agent,
                               platform::BoxStyle::Plain);
}

platform::HttpPostRequest BuildRequest(const PostTarget& target, const std::string& host,
                                       const std::string& objectName, std::string_view body) {
  platform::HttpPostRequest request;
  request.agent = target.agent;
  request.host = host;
  request.port = target.port;
  request.secure = target.secure;
  request.objectName = objectName;
  request.contentType = std::string(kFormContentType);
  request.body = std::string(body);
  request.timeouts = target.timeouts;
  return request;
}

}  // namespace

const char* PostResultName(PostResult result) {
  switch (result) {
    case PostResult::Ok:
      return "Ok";
    case PostResult::ReceiveData:
      return "ReceiveData";
    case PostResult::InternalServerError:
      return "InternalServerError";
    case PostResult::NoData:
      return "NoData";
  }
  return "NoData";
}

std::string ObjectName(std::string_view directory) {
  if (directory.find(".php") != std::string_view::npos) return std::string(directory);
  std::string object = "servlet/";
  object += directory;
  return object;
}

bool IsSecurePort(int port) { return port != 80 && port != 8080; }

std::string ConnectionAlertText(std::string_view host, std::string_view objectName, int port) {
  std::string text = "Connection with the server failed.\n\nURL: ";
  text += host;
  text += "\nDirectory: ";
  text += objectName;
  text += "\nPort: ";
  text += std::to_string(port);
  return Cut(text, kAlertTextWidth);
}

std::string LastTransportFailure() { return lastTransportFailure.str(); }

void SetLastTransportFailure(std::string text) { lastTransportFailure = text; }

PostResult PostForm(const platform::Platform& platform, const PostTarget& target, std::string_view body,
                    std::string& reply, size_t capacity) {
  reply.clear();
  lastTransportFailure.clear();
  const auto start = std::chrono::steady_clock::now();
  // One byte of the caller's buffer is the terminator: with none left there
  // is no room for a reply, so nothing is worth sending.
  if (capacity <= 1 || platform.http == nullptr) return PostResult::NoData;

  // 1. The host and object name as the exchange keeps them.
  const std::string host = Cut(target.host, kHostWidth);
  const std::string objectName = Cut(ObjectName(target.directory), kObjectNameWidth);

  // 2. Send. A connection or send failure shows as a failing first read.
  std::unique_ptr<platform::HttpStream> stream =
      platform.http->Post(BuildRequest(target, host, objectName, body));

  // 3. Read until the end, the buffer is full, a failure, or an HTML page.
  reply.resize(capacity - 1);
  size_t written = 0;
  PostResult result = PostResult::Ok;
  while (result == PostResult::Ok && written < reply.size()) {
    size_t received = 0;
    if (!stream->Read(reply.data() + written, reply.size() - written, &received)) {
      lastTransportFailure = stream->FailureText();
      ShowAlertIfSwitchedOn(platform, target, host, objectName);
      result = PostResult::ReceiveData;
      break;
    }
    if (received == 0) break;
    received = std::min(received, reply.size() - written);  // never trust the transport past the room it was given
    if (written == 0 && reply[0] == '<') result = PostResult::InternalServerError;
    written += received;
  }

  // 4. Keep what arrived; 5. closing the stream ends the exchange.
  reply.resize(written);
  stream.reset();

  // 6. Nothing received outranks every other outcome.
  if (written == 0) {
    if (lastTransportFailure.empty()) lastTransportFailure = "the server's reply was empty";
    result = PostResult::NoData;
  } else if (result == PostResult::InternalServerError) {
    lastTransportFailure = "the server answered with a web page instead of a reply";
  }
  LogExchange(platform, target, objectName, result, written, start);
  return result;
}

PostResult HttpPostForm(const platform::Platform& platform, std::string_view agent, std::string_view host,
                        std::string_view directory, int port, std::string_view body, std::string& reply,
                        size_t capacity) {
  PostTarget target;
  target.agent = std::string(agent);
  target.host = std::string(host);
  target.directory = std::string(directory);
  target.port = port;
  target.secure = IsSecurePort(port);
  return PostForm(platform, target, body, reply, capacity);
}

PostResult CommunicatePost(const platform::Platform& platform, std::string_view agent, const ServerAddress& address,
                           std::string_view body, std::string& reply, size_t capacity) {
  PostTarget target;
  target.agent = std::string(agent);
  target.host = address.host;
  target.directory = address.directory;
  target.port = address.port;
  target.secure = IsSecurePort(address.port);
  if (ServerSilent(address)) target.timeouts = kSilentServerTimeouts;
  const PostResult result = PostForm(platform, target, body, reply, capacity);
  if (address.silent) address.silent->store(result == PostResult::NoData);
  return result;
}

bool ServerSilent(const ServerAddress& address) { return address.silent && address.silent->load(); }

}  // namespace net
