// Request-form builders: fixed field names in the server's order, every
// value url-encoded.
#include "net/request_forms.h"

#include <charconv>
#include <cmath>

#include "net/key_value_text.h"

namespace net {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool StaysAsIs(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' || c == '-' ||
         c == '.' || c == '_';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Appends "&<name>=<encoded value>" (no "&" when `first`).
void AddField(std::string& form, std::string_view name, std::string_view value, bool first = false) {
  if (!first) form += '&';
  form += name;
  form += '=';
  form += FormEncode(value);
}

void AddNumber(std::string& form, std::string_view name, unsigned value) {
  form += '&';
  form += name;
  form += '=';
  form += std::to_string(value);
}

// The transfer rate with exactly two decimals, independent of the locale.
std::string TwoDecimals(double value) {
  if (!std::isfinite(value)) value = 0.0;
  char buffer[400];  // a double's integral part has at most 309 digits
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  if (result.ec != std::errc()) return "0.00";
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string FormEncode(std::string_view value) {
  std::string encoded;
  encoded.reserve(value.size());
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (StaysAsIs(c)) {
      encoded += ch;
    } else if (c == ' ') {
      encoded += '+';
    } else {
      encoded += '%';
      encoded += kHexDigits[c >> 4];
      encoded += kHexDigits[c & 0x0F];
    }
  }
  return encoded;
}

std::string FormDecode(std::string_view encoded) {
  std::string decoded;
  decoded.reserve(encoded.size());
  for (size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c == '%' && i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 && HexValue(encoded[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2]));
      i += 2;
    } else {
      decoded += c;
    }
  }
  return decoded;
}

void AddUpdaterData(std::string& form, const VersionFields& fields) {
  AddField(form, "sn", fields.serial);
  AddField(form, "cv", fields.clientVersion);
  AddNumber(form, "cb", fields.clientBuild);
}

void AppendPair(std::string& form, std::string_view text, std::string_view nameKey,
                std::optional<std::string_view> valueKey) {
  const std::string name = GetValue(text, nameKey).substr(0, kPairNameWidth);
  if (name.empty() || !valueKey) return;
  const std::string value = GetValue(text, *valueKey).substr(0, kPairValueWidth);
  if (value.empty()) return;
  form += FormEncode(name);
  form += '=';
  form += FormEncode(value);
  form += '&';
}

unsigned OsCode(const platform::OsVersion& version) {
  if (!version.ok) return 0;
  if (version.platformId == 1) {
    switch (version.minor) {
      case 0:
        return 1;
      case 10:
        return 2;
      case 90:
        return 3;
      default:
        return 0;
    }
  }
  if (version.platformId == 2) {
    if (version.major == 3) return 4;
    if (version.major == 4) return 5;
    if (version.major == 5 && version.minor == 0) return 6;
    if (version.major == 5 && version.minor == 1) return 7;
    if (version.major == 5 && version.minor == 2) return 8;
    if (version.major == 6 && version.minor == 0) return 9;
  }
  return 0;
}

unsigned OsCode(platform::System& system) { return OsCode(system.GetOsVersion()); }

unsigned ScreenCode(const platform::ScreenSize& screen) {
  struct Size {
    int width, height;
    unsigned code;
  };
  // 1152 x 684 (not 864) is the size the server's statistics expect.
  static constexpr Size kSizes[] = {{640, 480, 1},  {800, 600, 2},   {1024, 768, 3}, {1152, 684, 4},
                                    {1280, 768, 5}, {1280, 1024, 6}, {1600, 1200, 7}};
  for (const Size& size : kSizes) {
    if (size.width == screen.width && size.height == screen.height) return size.code;
  }
  return 0;
}

unsigned ScreenCode(platform::System& system) { return ScreenCode(system.GetScreenSize()); }

std::string BuildInitialPost(const InitialPostInput& input) {
  std::string form = "ac=10";
  AddField(form, "sn", input.serial);
  AddField(form, "param1", input.param1);
  AddNumber(form, "OS", input.os);
  AddNumber(form, "scrRes", input.screen);
  form += "&pid=1";
  form += input.identity;
  return form;
}

std::string BuildFileListRequest(const FileListInput& input) {
  std::string form = "ac=11";
  AddField(form, "sn", input.serial);
  AddField(form, "langID", input.language);
  AddField(form, "param1", input.param1);
  form += input.identity;
  AddNumber(form, "OS", input.os);
  AddNumber(form, "scrRes", input.screen);
  AddNumber(form, "fli", input.flashInstalled);
  AddNumber(form, "flv", input.flashVersion);
  form += "&status=10&pid=1";
  // The extra field's name comes from configuration, so it is encoded too.
  if (!input.extraName.empty()) AddField(form, FormEncode(input.extraName), input.extraValue);
  return form;
}

std::string BuildWebPixelAddressRequest(std::string_view serverSerial) {
  std::string form = "ac=12";
  AddField(form, "sn", serverSerial);
  form += "&pid=1";
  return form;
}

std::string BuildEndProcessRequest(const EndProcessInput& input) {
  std::string form = "ac=15";
  AddField(form, "param1", input.param1);
  form += "&pid=1";
  form += input.identity;
  AddUpdaterData(form, input.version);
  return form;
}

std::string BuildStatisticsReport(const StatisticsInput& input) {
  std::string form = "ac=101";
  AddField(form, "sn", input.serverSerial);
  AddNumber(form, "OS", input.os);
  AddNumber(form, "scrRes", input.screen);
  AddNumber(form, "ier", input.finalCode);
  AddNumber(form, "ies", input.stepAtFinal);
  AddField(form, "txt", input.txt);
  AddNumber(form, "tDlg", input.tDlg);
  AddNumber(form, "tLang", input.tLang);
  AddNumber(form, "tDL", input.tDL);
  AddNumber(form, "eps", input.eps);
  form += "&kbs=";
  form += TwoDecimals(input.kbs);
  AddNumber(form, "dlFileCount", input.dlFileCount);
  AddNumber(form, "dlRetryCount", input.dlRetryCount);
  AddNumber(form, "dlRetryFiles", input.dlRetryFiles);
  AddField(form, "iv", input.moduleVersion);
  AddField(form, "isid", input.sessionId);
  if (input.lem) AddField(form, "lem", *input.lem);
  static constexpr std::string_view kParmNames[] = {"parm1", "parm2", "parm3", "parm4"};
  for (size_t i = 0; i < input.parms.size(); ++i) {
    if (input.parms[i]) AddField(form, kParmNames[i], *input.parms[i]);
  }
  return form;
}

std::string BuildTrackingPixelForm(const TrackingPixelInput& input) {
  std::string form;
  AddField(form, "affsd", input.affiliateSub, /*first=*/true);
  AddNumber(form, "ac", input.eventCode);
  AddField(form, "aname", input.affiliate);
  AddField(form, "isid", input.sessionId);
  form += "&lc=";
  AddField(form, "langID", input.language);
  AddField(form, "sn", input.serverSerial);
  AddField(form, "msn", input.serial);
  form += "&pid=1";
  return form;
}

std::string BuildPixelThreadArgument(std::string_view pixelForm, unsigned eventCode) {
  std::string argument = "~pix1=";
  argument += pixelForm;
  argument += "~prm1=";
  argument += std::to_string(eventCode);
  return argument;
}

}  // namespace net
