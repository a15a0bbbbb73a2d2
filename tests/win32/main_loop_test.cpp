// The Windows main loop under Wine: messages posted from other threads and
// messages sent to the main thread's windows are both handled while the
// loop waits; a quit lets the messages posted before it through and refuses
// later ones.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32/main_loop_win32.h"
#include "platform/win32/win32_window.h"
#include "platform/win32/win32_api.h"

namespace {

using platform::ThreadMessage;

constexpr UINT kPing = WM_USER + 7;

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPing) {
    auto* seenOn = reinterpret_cast<std::atomic<DWORD>*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    seenOn->store(GetCurrentThreadId());
    return 42;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST(Win32MainLoopTest, PostedAndSentMessagesAreHandledWhileItWaits) {
  platform::Win32MainLoop loop;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &CountingProcedure;
  windowClass.lpszClassName = "Win32MainLoopTestWindow";
  RegisterClassA(&windowClass);
  const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  std::atomic<DWORD> seenOn{0};
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seenOn));

  std::vector<uint32_t> dispatched;
  LRESULT answer = 0;
  std::thread other([&] {
    // A send blocks until the main thread's window has handled it: the
    // loop must dispatch it while it waits for the application's messages.
    answer = SendMessageA(window, kPing, 0, 0);
    loop.Post({0x8001, 0, 0});
    loop.Post({0x8002, 0, 0});
  });
  const bool ended = loop.RunUntil([&] { return dispatched.size() == 2; },
                                   [&](const ThreadMessage& message) { dispatched.push_back(message.id); });
  other.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(answer, 42);
  EXPECT_EQ(seenOn.load(), GetCurrentThreadId());
  EXPECT_EQ(dispatched, (std::vector<uint32_t>{0x8001, 0x8002}));
  DestroyWindow(window);
}

TEST(Win32MainLoopTest, AQuitLetsEarlierMessagesThroughAndRefusesLaterOnes) {
  platform::Win32MainLoop loop;
  std::vector<uint32_t> dispatched;
  std::thread other([&] {
    loop.Post({0x8003, 0, 0});
    loop.Quit(7);
    EXPECT_FALSE(loop.Post({0x8004, 0, 0}));
  });
  other.join();
  EXPECT_FALSE(loop.RunUntil([] { return false; },
                             [&](const ThreadMessage& message) { dispatched.push_back(message.id); }));
  EXPECT_EQ(dispatched, std::vector<uint32_t>{0x8003});
  EXPECT_EQ(loop.ExitCode(), 7);
  EXPECT_TRUE(loop.QuitRequested());
}

// A message box runs a modal loop of its own that takes thread messages and
// drops them; the application's messages must still arrive afterwards.
TEST(Win32MainLoopTest, AForeignModalLoopLosesNoMessage) {
  platform::Win32MainLoop loop;
  std::vector<uint32_t> dispatched;
  std::thread other([&] { loop.Post({0x8005, 0, 0}); });
  other.join();
  // Stands for the foreign loop: everything in the thread's queue is taken.
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_TRUE(loop.RunUntil([&] { return !dispatched.empty(); },
                            [&](const ThreadMessage& m) { dispatched.push_back(m.id); }));
  EXPECT_EQ(dispatched, std::vector<uint32_t>{0x8005});
}

// The close button (WM_CLOSE) reaches the window's owner through the main
// loop, and the window stays until the owner ends it.
TEST(Win32MainLoopTest, AWindowHandsItsCloseRequestToItsOwner) {
  platform::Win32MainLoop loop;
  platform::Win32WindowFactory factory;
  auto window = factory.CreateDialogWindow(0, true);
  window->SetTitle("websetup close test");
  const HWND handle = FindWindowA(nullptr, "websetup close test");
  ASSERT_NE(handle, nullptr);
  int requests = 0;
  window->SetCloseRequestHandler([&] { ++requests; });
  PostMessageA(handle, WM_CLOSE, 0, 0);
  EXPECT_TRUE(loop.RunUntil([&] { return requests > 0; }, [](const ThreadMessage&) {}));
  EXPECT_EQ(requests, 1);
  EXPECT_TRUE(IsWindow(handle)) << "the window stays until its owner closes it";
  EXPECT_TRUE(window->Visible());
  window.reset();
  EXPECT_FALSE(IsWindow(handle));
}

}  // namespace
