// The final codes of a session, all in one place: the code that the closing
// pixel and the "FINISH" report carry, set once per session by whichever
// step ended it. 100 is success; every other code names the step that
// failed.
#pragma once

#include <cstdint>

namespace net {

inline constexpr int32_t kFinalSuccess = 100;

// The installer dialog.
inline constexpr int32_t kFinalSessionStart = 1;        // the session start exchange failed
inline constexpr int32_t kFinalNoDataFromServer = 27;   // the movie found no data from the server
inline constexpr int32_t kFinalInstallFolder = 36;      // the chosen folder cannot take the installation
inline constexpr int32_t kFinalUserExit = 50;           // the user left
inline constexpr int32_t kFinalDeclined = 51;           // the licence was declined
inline constexpr int32_t kFinalMovieError = 90;         // the movie reported an error

// The update engine.
enum FinalCode : int32_t {
  kFinalListActionCode = 10,
  kFinalEndProcessRejected = 11,
  kFinalListTransport = 20,
  kFinalDownloadData = 21,
  kFinalEndProcessUnknown = 22,
  kFinalAddressOpen = 23,
  kFinalLocalCreate = 24,
  kFinalLocalClose = 25,
  kFinalAddressClose = 26,
  kFinalEndProcessTransport = 28,
  kFinalCopyTree = 30,
  kFinalSubDir = 31,
  kFinalWorkDirCreate = 32,
  kFinalWorkDirEmpty = 33,
  kFinalDelete = 34,
  kFinalRunProgram = 35,
  kFinalCopyExtracted = 38,
  kFinalExtract = 39,
};

// The finishing steps.
enum class FinishCode : int32_t {
  RenameFailed = 37,           // "Updater.exe" could not be renamed
  MenuFolderFailed = 41,       // the Start-menu folder could not be created
  MenuShortcutFailed = 42,     // a Start-menu shortcut could not be created
  RegistryFailed = 43,         // the registration could not be written
  DesktopShortcutFailed = 44,  // the desktop shortcut could not be created
};

}  // namespace net
