// The machine identity carried by the initial post, the file-list request and
// the end-of-process request: h1, decimal digits derived from the serial
// number of the first fixed disk that reports a usable one, and h2, the
// hardware address of a network adapter as twelve lower-case hexadecimal
// digits. Both are computed afresh for every request from the device sources
// (platform/device_identity.h); nothing is cached.
//
// This unit owns the rules: which disk routes run and in which order, when a
// disk's serial is accepted, how identify words and serial texts are decoded,
// and which adapter's address is reported. None of it fails: missing or
// unusable data gives empty values, and the request is built anyway.
//
// Threads: any thread (the main thread for the initial post, the update
// worker for the others). No state is shared between computations. The
// functions that take the sources block for as long as the device queries do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/device_identity.h"

namespace net {

// Widths of the record's text fields, terminator included; a longer value is
// cut to width - 1 characters.
inline constexpr size_t kIdentityDigitsWidth = 201;
inline constexpr size_t kSerialTextWidth = 1024;
inline constexpr size_t kModelTextWidth = 1024;

// The outcome of one disk search.
struct DiskIdentity {
  std::string identityDigits;  // the h1 value; empty when no usable serial was found
  std::string serialText;      // the accepted serial; once set, never replaced
  std::string modelText;       // model of the same disk (kept, never sent)
};

// Words words[first..last] as text: each word's high byte, then its low byte.
// The text ends at its first zero byte; trailing spaces are removed except a
// first character. Indices past the end of `words` contribute nothing.
std::string WordsToText(std::span<const uint16_t> words, size_t first, size_t last);

// Decodes a storage descriptor's serial: groups of four hex digits (missing
// positions count as "0"), each group giving the byte of its second pair and
// then the byte of its first; a pair holding a character other than 0-9, A-F,
// a-f counts as 0, and zero bytes are dropped. "3457" gives "W4", "WD12"
// gives "\x12". The input ends at its first zero byte.
std::string HexPairsToText(std::string_view hex);

// h1 of a serial text: nine 16-bit words from its first 18 characters (two
// characters per word, first in the high byte, missing ones as spaces),
// written as unsigned decimals one after another. "AB" gives "16706" and
// eight times "8224".
std::string SerialToDigits(std::string_view serial);

// True when the first character of `candidate` or its twentieth (index 19) is
// an ASCII letter or digit; a position past the end does not count.
bool IsUsableSerial(std::string_view candidate);

// Offers one identify block: when no serial is accepted yet and the block's
// serial (words 10-19) is usable, sets all three fields of `identity` from
// it, h1 being the decimal words 10-18. Returns true when it accepted.
bool AcceptIdentifyBlock(const platform::IdentifyBlock& block, DiskIdentity& identity);

// Searches the disks through the routes the platform serves and fills
// `identity`. Clears serialText first; identityDigits and modelText keep
// their values when nothing is accepted, so start from an empty record.
// Returns 1 when some route answered (even with an unusable serial, which
// ends the search with h1 empty), else 0.
int ReadDiskSerial(platform::DeviceIdentitySources& sources, DiskIdentity& identity);

// The address of the last adapter that answered before the first failing
// one, as twelve lower-case hex digits; empty when none answered or the
// enumeration failed.
std::string ReadAdapterAddress(platform::DeviceIdentitySources& sources);

// "&h1=<digits>&h2=<address>" of a fresh identity computation; both field
// names are always present, either value may be empty. Values are
// form-encoded (they are digits and hex digits, so this never changes them).
std::string MachineIdentityFields(platform::DeviceIdentitySources& sources);

// Appends MachineIdentityFields(sources) to `request`.
void AppendMachineIdentity(std::string& request, platform::DeviceIdentitySources& sources);

}  // namespace net
