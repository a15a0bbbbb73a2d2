// The movie control hosted as what it is on most Windows machines: an
// ActiveX control, made by its class id inside the dialog that shows the
// movie and driven through its dispatch interface with the control's own
// dispatch ids; its FSCommand event carries the movie's commands. A machine
// where the control is not registered, or where it cannot be made or
// activated, gets the host's fallback player instead (the native player),
// and the failure goes to the session log.
#pragma once

#include <memory>

#include "platform/main_loop.h"
#include "platform/movie.h"
#include "platform/session_log.h"
#include "platform/win32/win32_api.h"

namespace platform {

// The movie control's class and the dispatch ids of what the program calls
// on it.
extern const CLSID kMovieControlClass;
enum MovieDispatchId : long {
  kDispMovie = 102,         // property put, text
  kDispQuality = 105,       // property put, 32-bit integer
  kDispPlay = 112,          // method
  kDispScaleMode = 120,     // property put, 32-bit integer
  kDispFlashVersion = 132,  // method, answers a 32-bit integer
  kDispFSCommand = 150,     // event: command text, argument text
  kDispSetVariable = 151,   // method: name, value
  kDispTCallLabel = 156,    // method: target, label
};

class ActiveXMovieHost : public MovieHost {
 public:
  // Initialises OLE on the calling thread, the main thread, for the host's
  // lifetime. `mainLoop` receives the control's commands as tasks;
  // `fallback` makes the controls when the ActiveX control cannot be made
  // (may be null: then there is no control); `log` may be null. Not owned
  // except `fallback`; the others must outlive the host.
  ActiveXMovieHost(MainLoop& mainLoop, std::unique_ptr<MovieHost> fallback, SessionLog* log);
  ~ActiveXMovieHost() override;
  ActiveXMovieHost(const ActiveXMovieHost&) = delete;
  ActiveXMovieHost& operator=(const ActiveXMovieHost&) = delete;

  // The ActiveX control inside `parent` (a window of the Windows layer's
  // window factory), activated in place when `visible`, else only made
  // (it then answers FlashVersion); the fallback's control when that
  // fails. Main thread.
  std::unique_ptr<MovieControl> CreateControl(DialogWindow& parent, int controlId, bool visible,
                                              MovieCommandSink sink) override;

 private:
  MainLoop& mainLoop_;
  std::unique_ptr<MovieHost> fallback_;
  SessionLog* log_;
  bool oleReady_ = false;
  HHOOK hook_ = nullptr;
};

}  // namespace platform
