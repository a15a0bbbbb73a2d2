// The web tracking pixels: when the server names pixel pages on a foreign
// web domain, every tracking-pixel event opens those pages, one after the
// other, in a hidden web window instead of posting to the pixel servlet.
// The addresses are asked of the update server once per run (action 12)
// and kept in webPixel1 and webPixel2; a failed exchange clears them and
// is tried again at the next event.
//
// The window is the platform's hidden browser page. A page is given at most
// a fixed time (30 s): a page that never completes is closed at that bound,
// so neither the report lock nor the end of the program waits on it for
// longer. The page is closed before the report thread goes on, so the wait
// for the report threads at the end of the program covers it.
//
// Page addresses carry their values percent-encoded as query values, so no
// "&", "=", "#" or space of a value can add or change a field.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/browser.h"

namespace app {
class CInstallerApp;
}

namespace ui {

// The longest time one pixel page may take, from the request to its end.
inline constexpr std::chrono::milliseconds kPageBound{30000};

// Switch file (current folder): when present, each page address opened is
// also written to kShowDispatchFile (current folder), without a line end.
inline constexpr std::string_view kShowDispatchSwitch = "cfg\\ShowDispatch.cfg";
inline constexpr std::string_view kShowDispatchFile = "ShowDispatch.txt";

// What a pixel page of one event carries.
struct PixelPage {
  std::string address;  // the pixel address named by the server
  std::string serverSerial;
  std::string serial;
  std::string affiliateSub;  // "affsd"
  unsigned eventCode = 0;    // "ac"
  std::string affiliate;     // "aname"
  std::string sessionId;     // "isid"
  int32_t finalCode = 0;     // "ier", event 21 only
  int32_t stepAtFinal = 0;   // "ies", event 21 only
};

// The page's parameter text in the key-value format: "~sn=", "~msn=", the
// name/value pairs "~pn1=".."~pv4=" (affsd, ac, aname, isid), "~url=", and
// for event 21 "~pn5="/"~pv5=" (ier) and "~pn6="/"~pv6=" (ies). Every value
// is stored form-encoded, so that no "~" or "|" in it can end it early.
std::string PixelParamText(const PixelPage& page);

// The page address of a parameter text made by PixelParamText: the "~url="
// value, "&" when it already holds a "?" (else "?"), then "name=value&" for
// each of the pairs 1 to 6 whose name and value are both non-empty, then
// "lc=<lc>&langID=<langID>&sn=<sn>&anchor=<anchor>&pid=1" from the keys of
// those names (at most 23, 3, 43 and 31 characters; empty when missing).
// Names and values are encoded as query values; the address is kept whole.
std::string PageAddress(std::string_view paramText);

// Loads `address` in a hidden page of `browser` with user agent `agent`.
// True when the document completed within `bound`, false when it failed,
// could not be started or had not completed then. The page is closed
// before the call returns. Blocks the calling thread.
bool LoadPage(platform::Browser& browser, const std::string& agent, const std::string& address,
              std::chrono::milliseconds bound = kPageBound);

// One hidden web window on a parameter text: builds the page address,
// writes the ShowDispatch copy when switched on, and loads the page.
// Returns LoadPage's answer. Report threads.
bool RunWebWindow(app::CInstallerApp& app, const std::string& paramText,
                  std::chrono::milliseconds bound = kPageBound);

// Opens the pixel page of `eventCode` at `address`, with the application's
// session values. Report threads.
bool OpenPixelPage(app::CInstallerApp& app, unsigned eventCode, const std::string& address,
                   std::chrono::milliseconds bound = kPageBound);

// The whole event, holding the application's reportLock: the addresses are
// fetched when webPixel1 is empty, then webPixel1 and (only after it)
// webPixel2 are opened. For events 20 and 21 the main thread is told
// (WM_APP_REPORT_DONE) after the lock is released, whatever happened.
// Runs on a report thread; blocks for the exchange and the pages.
void ShowWebPixels(app::CInstallerApp& app, unsigned eventCode, std::chrono::milliseconds pageBound = kPageBound);

// Makes the application's tracking pixels go through ShowWebPixels when
// its useWebPixels is set. `app` must outlive its reports. Main thread,
// before the first report.
void InstallWebPixels(app::CInstallerApp& app, std::chrono::milliseconds pageBound = kPageBound);

}  // namespace ui
