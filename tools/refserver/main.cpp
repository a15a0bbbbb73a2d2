// refserver: the reference update server on loopback.
//
//   refserver --http-port N --https-port N --cert FILE --key FILE
//             [--replies FILE] [--files DIR] [--client-set DIR] [--log FILE]
//             [--control-token T]
//
// Port 0 picks a free port. Once both ports listen, one line
// "listening http=<port> https=<port>" goes to stdout. SIGTERM or SIGINT
// stops the server; the exit code is 0 then, 2 for a bad command line and 1
// when the server cannot start.
//
// Served on both ports: POST /servlet/UpdateServlet (and any path holding
// ".php") answered by the form's "ac" from the reply set (--replies, format
// in reply_set.h); POST /servlet/PixelServlet; GET /files/<path> from
// --files. With --client-set, the file-list reply (action code 11) lists
// every file of DIR (order and fields in client_set.h) and GET
// /files/client/<path> serves them; a reply-set line for action code 11
// still wins. The sample client set made at build time is
// build/sample-client/client, with the installer's movies in
// build/sample-client/movies:
//   refserver ... --files build/sample-client --client-set build/sample-client/client
// Every client request is logged as one JSON line to --log.
//
// Control, on the plain HTTP port only and never logged (form fields; with
// --control-token each request carries token=T or X-Control-Token: T):
//   POST /control/misbehave  mode=close|stall|html|long|drop|badac|empty|
//                                 wronglength|dropafter|404|trickle|endless|redirect
//                            path=<request path, or a folder ending in "/">
//                            [ac=<code>] [times=N] [seconds=N] [bytes=N]
//                            (what each mode does: misbehaviour.h)
//   POST /control/reset      disarms every armed misbehaviour
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "server.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: refserver --http-port N --https-port N --cert FILE --key FILE\n"
               "                 [--replies FILE] [--files DIR] [--client-set DIR] [--log FILE]\n"
               "                 [--control-token T]\n");
}

bool ParsePort(const std::string& text, int& port) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

// Fills `options` from the command line. Returns false, with the reason on
// stderr, when an option is unknown, lacks its value or a required one is
// missing.
bool ParseCommandLine(int argc, char** argv, refserver::ServerOptions& options) {
  std::map<std::string, std::string> values;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    static const char* const kKnown[] = {"--http-port", "--https-port", "--cert", "--key",          "--replies",
                                         "--files",     "--client-set", "--log",  "--control-token"};
    bool known = false;
    for (const char* candidate : kKnown) known = known || name == candidate;
    if (!known || i + 1 >= argc) {
      std::fprintf(stderr, "refserver: %s %s\n", known ? "missing value for" : "unknown option", name.c_str());
      return false;
    }
    values[name] = argv[++i];
  }
  for (const char* required : {"--http-port", "--https-port", "--cert", "--key"}) {
    if (!values.count(required)) {
      std::fprintf(stderr, "refserver: %s is required\n", required);
      return false;
    }
  }
  if (!ParsePort(values["--http-port"], options.httpPort) || !ParsePort(values["--https-port"], options.httpsPort)) {
    std::fprintf(stderr, "refserver: ports are numbers from 0 to 65535\n");
    return false;
  }
  options.certFile = values["--cert"];
  options.keyFile = values["--key"];
  options.replySetFile = values["--replies"];
  options.filesDir = values["--files"];
  options.clientSetDir = values["--client-set"];
  options.logFile = values["--log"];
  options.controlToken = values["--control-token"];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  refserver::ServerOptions options;
  if (!ParseCommandLine(argc, argv, options)) {
    PrintUsage();
    return 2;
  }

  // A client that goes away mid-reply must not kill the server; the stop
  // signals are taken by one thread with sigwait, so every thread started
  // from here on has them blocked.
  signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  refserver::ReferenceServer server;
  std::string error;
  if (!server.Bind(options, error)) {
    std::fprintf(stderr, "refserver: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening http=%d https=%d\n", server.httpPort(), server.httpsPort());
  std::fflush(stdout);

  std::thread signalWaiter([&server, stopSignals] {
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
  });
  server.Run();
  // Run ends only through Stop, which the waiter called: let it finish with
  // the server before the server goes away.
  signalWaiter.join();
  return 0;
}
