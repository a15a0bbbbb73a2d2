// Request forms posted to the update server and the pixel servlet: name=value
// pairs joined by "&", every value percent-encoded as a url-encoded form, so
// that "&", "=", "+", "%", "~" or a line break inside a value arrives as it
// was held and can never create or corrupt a field.
//
// The builders are plain text functions: they take the values of one request
// in an input struct, never throw, and never fail. Field names are the fixed
// names of the server's forms; every value goes through FormEncode.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace net {

// Percent-encodes one form value (or name): letters, digits and "*-._" stay,
// a space becomes "+", every other byte becomes "%XX".
std::string FormEncode(std::string_view value);
// The inverse, for tests and the reference server; "+" becomes a space and
// a malformed "%" sequence is kept as it stands.
std::string FormDecode(std::string_view encoded);

// The version fields of the settings record that close the end-of-process
// request.
struct VersionFields {
  std::string serial;         // "sn"
  std::string clientVersion;  // "cv"
  uint32_t clientBuild = 0;   // "cb"
};

// Appends "&sn=…&cv=…&cb=…" to `form`.
void AddUpdaterData(std::string& form, const VersionFields& fields);

// Longest name and value AppendPair takes from a key-value text; longer ones
// are cut to these lengths before they are encoded.
inline constexpr size_t kPairNameWidth = 99;
inline constexpr size_t kPairValueWidth = 999;

// Looks up `nameKey` in the key-value text `text`; when its value is
// non-empty and `valueKey` is given and its value is non-empty too, appends
// "<name>=<value>&" (both encoded) to `form`. Otherwise `form` is unchanged.
void AppendPair(std::string& form, std::string_view text, std::string_view nameKey,
                std::optional<std::string_view> valueKey);

// Operating-system code of the server's statistics: 1 to 9 for the known
// Windows versions, 0 for any other system or a failed query.
unsigned OsCode(const platform::OsVersion& version);
unsigned OsCode(platform::System& system);
// Screen code: 1 to 7 for the known primary-screen sizes, 0 for any other.
unsigned ScreenCode(const platform::ScreenSize& screen);
unsigned ScreenCode(platform::System& system);

// Identity fields below are the ready-made "&h1=…&h2=…" text of the machine
// identity (with encoded values); it is inserted unchanged.

// Initial post (action 10).
struct InitialPostInput {
  std::string serial;
  std::string param1;
  unsigned os = 0;      // OsCode
  unsigned screen = 0;  // ScreenCode
  std::string identity;
};
std::string BuildInitialPost(const InitialPostInput& input);

// File-list request (action 11). The extra field is appended only when
// `extraName` is non-empty; its value may be empty.
struct FileListInput {
  std::string serial;
  std::string language;
  std::string param1;
  std::string identity;
  unsigned os = 0;
  unsigned screen = 0;
  unsigned flashInstalled = 0;
  unsigned flashVersion = 0;
  std::string extraName;
  std::string extraValue;
};
std::string BuildFileListRequest(const FileListInput& input);

// Web-pixel address request (action 12) with the server-assigned serial.
std::string BuildWebPixelAddressRequest(std::string_view serverSerial);

// End-of-process request (action 15), closed by AddUpdaterData.
struct EndProcessInput {
  std::string param1;
  std::string identity;
  VersionFields version;
};
std::string BuildEndProcessRequest(const EndProcessInput& input);

// Statistics report (action 101). `lem` and the parameters are appended
// only when present (an empty present value still gives its field).
struct StatisticsInput {
  std::string serverSerial;
  unsigned os = 0;
  unsigned screen = 0;
  unsigned finalCode = 0;    // "ier"
  unsigned stepAtFinal = 0;  // "ies"
  std::string txt;
  unsigned tDlg = 0;  // elapsed whole seconds
  unsigned tLang = 0;
  unsigned tDL = 0;
  unsigned eps = 0;
  double kbs = 0.0;  // written with exactly two decimals; 0.00 when not finite
  unsigned dlFileCount = 0;
  unsigned dlRetryCount = 0;
  unsigned dlRetryFiles = 0;
  std::string moduleVersion;  // "iv"
  std::string sessionId;      // "isid"
  std::optional<std::string> lem;
  std::array<std::optional<std::string>, 4> parms;  // "parm1" … "parm4"
};
std::string BuildStatisticsReport(const StatisticsInput& input);

// Tracking-pixel form for the pixel servlet; "lc" is always empty.
struct TrackingPixelInput {
  std::string affiliateSub;  // "affsd"
  unsigned eventCode = 0;    // "ac"
  std::string affiliate;     // "aname"
  std::string sessionId;     // "isid"
  std::string language;      // "langID"
  std::string serverSerial;  // "sn"
  std::string serial;        // "msn"
};
std::string BuildTrackingPixelForm(const TrackingPixelInput& input);

// The pixel thread's argument text: "~pix1=<form>~prm1=<eventCode>". The
// form's values are encoded, so no "~" or "|" of a value can cut it.
std::string BuildPixelThreadArgument(std::string_view pixelForm, unsigned eventCode);

}  // namespace net
