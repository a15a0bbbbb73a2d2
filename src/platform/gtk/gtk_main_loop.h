// The main loop of the Linux desktop: GLib's main context of the main
// thread. The application's messages wait in a locked queue of the loop's
// own; a post wakes the context, and between the application's messages
// the context dispatches its sources (GTK's window events, WebKit's replies,
// timers), so windows keep painting and answering while the application
// waits. A modal GTK dialog (a message box) runs its own nested loop on the
// same context: window events go on, the application's messages wait in the
// queue until the box has closed.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "platform/main_loop.h"
#include "platform/message_queue.h"

typedef struct _GMainContext GMainContext;
typedef void* gpointer;
typedef int gboolean;
typedef gboolean (*GSourceFunc)(gpointer data);

namespace platform {

class GtkMainLoop : public MainLoop {
 public:
  // Main thread: the loop runs GLib's default context, the one GTK uses.
  GtkMainLoop();
  ~GtkMainLoop() override;
  GtkMainLoop(const GtkMainLoop&) = delete;
  GtkMainLoop& operator=(const GtkMainLoop&) = delete;

  bool Post(const ThreadMessage& message) override;
  bool RunUntil(const std::function<bool()>& done, const MessageDispatcher& dispatch) override;
  void Quit(int exitCode) override;
  bool QuitRequested() const override { return queue_.QuitRequested(); }
  int ExitCode() const override { return queue_.ExitCode(); }
  // Dispatches GLib sources (no application message) until `done`.
  void WaitUntil(const std::function<bool()>& done) override;
  void Wake() override;

 private:
  static constexpr int64_t kPassMicros = 8000;

  GMainContext* context_;
  MessageQueue queue_;
  int64_t lastPass_ = 0;  // GLib's monotonic time of the last pass between messages
};

// Has the main thread run `function(data)` once, from its loop (any
// thread; never on the caller's own, unlike g_main_context_invoke, which
// runs it at once wherever the context happens to be free).
void RunOnMainContext(GSourceFunc function, gpointer data);
// Runs `work` on the main thread `mainThread` and waits until it has run;
// at once when called there. The main thread must be running its loop.
void RunOnMainThreadAndWait(std::thread::id mainThread, const std::function<void()>& work);

}  // namespace platform
