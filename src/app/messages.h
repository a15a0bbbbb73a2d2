// Numbers of the application's messages. The main thread, the installer
// dialog and the update worker exchange these; the numbers are the system's
// own and never change.
#pragma once

#include <cstdint>

namespace app {

inline constexpr uint32_t kAppMessageBase = 0x8000;

inline constexpr uint32_t WM_UPDATE_RUN = kAppMessageBase + 9;           // worker: run the whole update again
inline constexpr uint32_t WM_APP_BROWSE_FOLDER = kAppMessageBase + 10;   // main: show the folder picker
inline constexpr uint32_t WM_APP_FILESET_DONE = kAppMessageBase + 11;    // main: run ended (wParam = result)
inline constexpr uint32_t WM_APP_FINISH_INSTALL = kAppMessageBase + 12;  // main: finish the installation
inline constexpr uint32_t WM_APP_MOVIE_CALL = kAppMessageBase + 21;      // dialog: call a movie function
inline constexpr uint32_t WM_UPDATE_QUIT = kAppMessageBase + 22;         // worker: leave the message loop
inline constexpr uint32_t WM_APP_CLOSE_DIALOG = kAppMessageBase + 23;    // dialog: close (wParam 1 = ask first)
inline constexpr uint32_t WM_APP_REPORT_DONE = kAppMessageBase + 60;     // main: closing pixel sent
inline constexpr uint32_t WM_APP_DIALOG_CLOSED = kAppMessageBase + 61;   // main: dialog closed

// The wParam of WM_APP_CLOSE_DIALOG.
inline constexpr uintptr_t kCloseNow = 0;       // the session has ended: close
inline constexpr uintptr_t kCloseAskFirst = 1;  // the user's close request: ask, then leave
inline constexpr uintptr_t kCloseLeave = 2;     // the system's close request (shutdown, hang-up): leave at once

}  // namespace app
