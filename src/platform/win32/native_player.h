// The movie player of Windows machines that have no movie control: the
// installer movie ("DlgUpdater.qrx") and the reinstall/play movie
// ("DlgMsg.qrx") drawn with the system's own controls inside the dialog
// that hosts them. It raises the commands the movies raise and answers the
// functions they answer, so the dialogs cannot tell it from a real player:
// language, install folder with the folder picker, progress with file
// name, sizes, rate and progress bars, the file list's error with retry,
// the licence with accept and decline, and reinstall or play. Any other
// movie address gives an empty movie that raises nothing.
//
// Its words are those of the reference movies, in English, German, French
// or Spanish: the language the user picks on the first page, and for the
// reinstall movie the one its address asks for ("m_Lang"). Texts are shown
// in Unicode; names, folders and file names come in the system code page.
//
// Its pages are a band in the brand colour (the hosting dialog's
// background, asked with WM_CTLCOLORDLG) with the application's name, a
// light body and a row of buttons. The controls carry fixed ids (below),
// so that tests and assistive tools can find and press them.
#pragma once

#include <memory>

#include "platform/main_loop.h"
#include "platform/movie.h"

namespace platform {

// Control ids of the native player's pages.
enum NativePlayerControl : int {
  kNativeLanguageList = 2001,
  kNativeNext = 2002,
  kNativeFolderEdit = 2010,
  kNativeBrowse = 2011,
  kNativeInstall = 2012,
  kNativeFolderNote = 2013,
  kNativeStatus = 2020,
  kNativeFileName = 2021,
  kNativeFigures = 2022,
  kNativeRunBar = 2023,
  kNativeFileBar = 2024,
  kNativeErrorText = 2030,
  kNativeRetry = 2031,
  kNativeQuit = 2032,
  kNativeLicenceText = 2040,
  kNativeAccept = 2041,
  kNativeDecline = 2042,
  kNativeOffer = 2050,
  kNativePlay = 2051,
  kNativeReinstall = 2052,
};

// What FlashVersion answers: 10.0.
inline constexpr int32_t kNativePlayerVersion = 0xA0000;

class NativeMovieHost : public MovieHost {
 public:
  // `mainLoop` (not owned, must outlive the host) receives every command
  // the movies raise, as a task. Main thread.
  explicit NativeMovieHost(MainLoop& mainLoop);

  // A control inside `parent`, which must be a window of the Windows
  // layer's window factory; null for any other window. Main thread.
  std::unique_ptr<MovieControl> CreateControl(DialogWindow& parent, int controlId, bool visible,
                                              MovieCommandSink sink) override;

 private:
  MainLoop& mainLoop_;
};

}  // namespace platform
