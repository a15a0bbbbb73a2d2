#include "platform/posix/console_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Ctrl-C on the terminal is the close request of the newest window that
// listens for one; a window without a handler, or a closed one, is passed
// over.
TEST(ConsoleWindowFactoryTest, CloseRequestReachesTheNewestListeningWindow) {
  platform::ConsoleWindowFactory factory(-1);
  std::vector<std::string> heard;
  EXPECT_FALSE(factory.RequestClose());

  auto dialog = factory.CreateDialogWindow(1, true);
  dialog->SetCloseRequestHandler([&] { heard.push_back("dialog"); });
  auto notice = factory.CreateDialogWindow(2, false);  // no handler
  EXPECT_TRUE(factory.RequestClose());
  {
    auto inner = factory.CreateDialogWindow(3, true);
    inner->SetCloseRequestHandler([&] { heard.push_back("inner"); });
    EXPECT_TRUE(factory.RequestClose());
  }
  EXPECT_TRUE(factory.RequestClose());
  dialog.reset();
  EXPECT_FALSE(factory.RequestClose());
  EXPECT_EQ(heard, (std::vector<std::string>{"dialog", "inner", "dialog"}));
}

// A handler that closes its own window (the dialog ends) leaves the factory
// consistent.
TEST(ConsoleWindowFactoryTest, HandlerMayCloseItsWindow) {
  platform::ConsoleWindowFactory factory(-1);
  auto window = factory.CreateDialogWindow(1, true);
  window->SetCloseRequestHandler([&] { window.reset(); });
  EXPECT_TRUE(factory.RequestClose());
  EXPECT_EQ(window, nullptr);
  EXPECT_FALSE(factory.RequestClose());
}

}  // namespace
