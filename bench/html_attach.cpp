#include "html_attach.h"

#include <gtk/gtk.h>

#include <atomic>
#include <thread>

#include "app/messages.h"
#include "platform/gtk/gtk_main_loop.h"
#include "platform/gtk/gtk_window.h"
#include "platform/gtk/html_player.h"
#include "platform/gtk/web_engine.h"
#include "update/movie_call_channel.h"

namespace bench {

namespace {

// Time given to the movie between its progress page and the download.
constexpr guint kSettleMs = 1000;

}  // namespace

bool RunWithHtmlPlayer(const std::string& movie, bool deliverCalls,
                       const std::function<void(update::DialogLink&)>& run) {
  if (!gtk_init_check(nullptr, nullptr)) return false;
  platform::GtkMainLoop loop;
  platform::WebEngine engine({});
  platform::GtkWindowFactory windows;
  platform::HtmlMovieHost host(engine, loop);
  std::unique_ptr<platform::DialogWindow> window = windows.CreateDialogWindow(102, true);
  window->SetBackground({75, 70, 43});
  bool ready = false;
  std::unique_ptr<platform::MovieControl> control =
      host.CreateControl(*window, 102, true, [&](const std::string& command, const std::string&) {
        if (command == "InitDialog") ready = true;
      });
  control->SetSize(640, 480);
  window->FitClient(640, 480);
  control->SetMovie(movie);
  const auto dispatch = [](const platform::ThreadMessage& message) { platform::RunIfTask(message); };
  if (!loop.RunUntil([&] { return ready; }, dispatch)) return false;
  control->SetVariable("m_aName", "Quorix");
  // The movie where a user's click on Install leaves it: on its progress
  // page (its loading page animates without end).
  control->SetVariable("funcName", "Performing");
  control->SetVariable("funcParm", "Install");
  control->TCallLabel("_root", "Data");
  // A user reaches the download seconds after the movie appeared, its page
  // long painted: the engine's start-up work (the first frames, fonts, its
  // helper processes) is over before the first byte, as here.
  bool settled = false;
  g_timeout_add(
      kSettleMs,
      [](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return gboolean(G_SOURCE_REMOVE);
      },
      &settled);
  loop.RunUntil([&] { return settled; }, dispatch);

  update::MovieCallChannel channel(loop);
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    run(channel);
    finished = true;
    loop.Post({app::WM_APP_DIALOG_CLOSED, 0, 0});
  });
  loop.RunUntil([&] { return finished.load(); }, [&](const platform::ThreadMessage& message) {
    if (platform::RunIfTask(message)) return;
    channel.HandleMessage(message, [&](const std::string* name, const std::string* parm) {
      if (!deliverCalls) return;
      if (name) control->SetVariable("funcName", *name);
      if (parm) control->SetVariable("funcParm", *parm);
      control->TCallLabel("_root", "Data");
    });
  });
  worker.join();
  return true;
}

}  // namespace bench
