// The movie dialogs' windows under Wine: modeless dialogs of the program's
// templates, sized to the movie and centred, topmost, in the brand colour;
// the close button and Alt+F4 reach the owner through the main loop, Enter
// and Escape close nothing.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/win32/main_loop_win32.h"
#include "platform/win32/win32_window.h"
#include "platform/win32/win32_api.h"

namespace {

using platform::ThreadMessage;

struct TemplateRow {
  int id;
  DWORD style;     // what the template's window has
  DWORD without;   // what it must not have
};

class DialogWindowTest : public ::testing::TestWithParam<TemplateRow> {};

TEST_P(DialogWindowTest, IsADialogOfItsTemplateSizedCentredTopmostAndInTheBrandColour) {
  const TemplateRow row = GetParam();
  platform::Win32WindowFactory factory;
  auto window = factory.CreateDialogWindow(row.id, true);
  const HWND handle = platform::NativeWindowOf(*window);
  ASSERT_NE(handle, nullptr);
  char className[32] = {};
  GetClassNameA(handle, className, sizeof className);
  EXPECT_STREQ(className, "#32770") << "template " << row.id;
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(handle, GWL_STYLE));
  EXPECT_EQ(style & row.style, row.style) << "template " << row.id;
  EXPECT_EQ(style & row.without, 0u) << "template " << row.id;

  window->SetTopmost();
  EXPECT_TRUE(GetWindowLongPtrA(handle, GWL_EXSTYLE) & WS_EX_TOPMOST);

  window->FitClient(640, 480);
  RECT client{}, frame{}, work{};
  GetClientRect(handle, &client);
  GetWindowRect(handle, &frame);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);
  EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 1);
  EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 1);

  window->SetBackground({75, 70, 43});
  const HDC dc = GetDC(handle);
  const auto brush = reinterpret_cast<HBRUSH>(
      SendMessageA(handle, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(handle)));
  ReleaseDC(handle, dc);
  LOGBRUSH described{};
  ASSERT_EQ(GetObjectA(brush, sizeof described, &described), static_cast<int>(sizeof described));
  EXPECT_EQ(described.lbColor, RGB(75, 70, 43));
}

INSTANTIATE_TEST_SUITE_P(Templates, DialogWindowTest,
                         ::testing::Values(TemplateRow{102, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0},
                                           TemplateRow{132, WS_CAPTION, WS_SYSMENU}),
                         [](const auto& info) { return "Template" + std::to_string(info.param.id); });

TEST(DialogWindowCloseTest, CloseButtonAndAltF4AskTheOwnerEnterAndEscapeCloseNothing) {
  platform::Win32MainLoop loop;
  platform::Win32WindowFactory factory;
  auto window = factory.CreateDialogWindow(102, true);
  const HWND handle = platform::NativeWindowOf(*window);
  int requests = 0;
  window->SetCloseRequestHandler([&] { ++requests; });
  // Enter and Escape are the dialog's OK and Cancel.
  PostMessageA(handle, WM_COMMAND, IDOK, 0);
  PostMessageA(handle, WM_COMMAND, IDCANCEL, 0);
  PostMessageA(handle, WM_CLOSE, 0, 0);
  PostMessageA(handle, WM_SYSCOMMAND, SC_CLOSE, 0);  // Alt+F4
  // The loop handles the window's messages before the application's.
  bool drained = false;
  loop.Post({0x8009, 0, 0});
  EXPECT_TRUE(loop.RunUntil([&] { return drained; }, [&](const ThreadMessage&) { drained = true; }));
  EXPECT_EQ(requests, 2);
  EXPECT_TRUE(IsWindow(handle)) << "the window stays until its owner closes it";
  EXPECT_TRUE(window->Visible());
  window.reset();
  EXPECT_FALSE(IsWindow(handle));
}

TEST(DialogWindowTextTest, TheNoticeFillsItsTemplateTexts) {
  platform::Win32WindowFactory factory;
  auto notice = factory.CreateDialogWindow(129, false);
  const HWND handle = platform::NativeWindowOf(*notice);
  notice->SetText("first");
  notice->SetText("second");
  char text[32] = {};
  GetDlgItemTextA(handle, 1000, text, sizeof text);
  EXPECT_STREQ(text, "first");
  GetDlgItemTextA(handle, 1001, text, sizeof text);
  EXPECT_STREQ(text, "second");
  EXPECT_FALSE(notice->Visible());
}

}  // namespace
