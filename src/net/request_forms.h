// Request forms posted to the update server and the pixel servlet: name=value
// pairs joined by "&", every value percent-encoded as a url-encoded form, so
// that "&", "=", "+", "%", "~" or a line break inside a value arrives as it
// was held and can never create or corrupt a field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

}  // namespace net
