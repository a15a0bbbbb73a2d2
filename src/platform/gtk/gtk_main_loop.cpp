#include "platform/gtk/gtk_main_loop.h"

#include <glib.h>

#include <condition_variable>
#include <mutex>

namespace platform {

GtkMainLoop::GtkMainLoop() : context_(g_main_context_ref(g_main_context_default())) {}

GtkMainLoop::~GtkMainLoop() {
  while (std::optional<ThreadMessage> message = queue_.TryTake()) DiscardIfTask(*message);
  g_main_context_unref(context_);
}

// The context's wake-up stays signalled until the context has polled, so a
// post between the check of the queue and the wait is never lost.
bool GtkMainLoop::Post(const ThreadMessage& message) {
  if (!queue_.Post(message)) return false;
  g_main_context_wakeup(context_);
  return true;
}

void GtkMainLoop::Quit(int exitCode) {
  queue_.Quit(exitCode);
  g_main_context_wakeup(context_);
}

bool GtkMainLoop::RunUntil(const std::function<bool()>& done, const MessageDispatcher& dispatch) {
  for (;;) {
    if (done()) return true;
    if (std::optional<ThreadMessage> message = queue_.TryTake()) {
      dispatch(*message);
      // A pass over the ready sources every few milliseconds between
      // messages: a burst of progress calls never starves painting and
      // input, and what the burst gives the page goes in a few batches.
      const gint64 now = g_get_monotonic_time();
      if (now - lastPass_ >= kPassMicros) {
        lastPass_ = now;
        g_main_context_iteration(context_, FALSE);
      }
      continue;
    }
    if (QuitRequested()) return false;
    g_main_context_iteration(context_, TRUE);
  }
}

void GtkMainLoop::WaitUntil(const std::function<bool()>& done) {
  while (!done()) g_main_context_iteration(context_, TRUE);
}

void GtkMainLoop::Wake() { g_main_context_wakeup(context_); }

void RunOnMainContext(GSourceFunc function, gpointer data) {
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, function, data, nullptr);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

void RunOnMainThreadAndWait(std::thread::id mainThread, const std::function<void()>& work) {
  if (std::this_thread::get_id() == mainThread) {
    work();
    return;
  }
  struct Call {
    const std::function<void()>* work;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
  } call{&work, {}, {}, false};
  RunOnMainContext(
      [](gpointer data) -> gboolean {
        auto* c = static_cast<Call*>(data);
        (*c->work)();
        std::lock_guard<std::mutex> lock(c->lock);
        c->done = true;
        c->finished.notify_all();
        return G_SOURCE_REMOVE;
      },
      &call);
  std::unique_lock<std::mutex> lock(call.lock);
  call.finished.wait(lock, [&] { return call.done; });
}

}  // namespace platform
