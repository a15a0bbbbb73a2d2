// The web engine of the Linux desktop: one WebKitGTK context for the
// installer's movies and its hidden pages. It keeps nothing on disk (no
// cookies, no cache), draws without the GPU (the movies are plain pages and
// start faster that way), and trusts, besides the system's certificate
// store, the extra CA file that the program's server override names, so
// that movies and pages from the operator's private servers load as the
// installer's own exchanges do.
#pragma once

#include <functional>
#include <string>

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitSettings WebKitSettings;
typedef struct _GTlsCertificate GTlsCertificate;
typedef struct _GTlsDatabase GTlsDatabase;

namespace platform {

struct WebEngineOptions {
  // PEM file of an extra CA; empty for the system store only.
  std::string extraCaFile;
  // Receives what went wrong in a movie or page (a failed load, a script
  // error, a refused navigation). Main thread; may be empty.
  std::function<void(const std::string& line)> log;
};

class WebEngine {
 public:
  // Main thread, GTK initialised.
  explicit WebEngine(WebEngineOptions options);
  ~WebEngine();
  WebEngine(const WebEngine&) = delete;
  WebEngine& operator=(const WebEngine&) = delete;

  WebKitWebContext* Context() const { return context_; }
  // New settings for a view: scripts on, no developer tools, no GPU, no
  // plug-ins. The caller owns the reference.
  WebKitSettings* NewSettings() const;
  // WebKit refused `certificate` for `uri`: when the extra CA vouches for
  // it and the host it names, it is allowed for that host and true is
  // returned (load the address again); false otherwise.
  bool TrustIfVouched(const std::string& uri, GTlsCertificate* certificate);
  void Log(const std::string& line) const {
    if (options_.log) options_.log(line);
  }

 private:
  WebEngineOptions options_;
  WebKitWebContext* context_ = nullptr;
  GTlsDatabase* extraCa_ = nullptr;
};

}  // namespace platform
