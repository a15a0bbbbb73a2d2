// The stamped parameter block: ten fixed-width text slots inside the
// executable that the operator's download site rewrites per download. The
// program only reads it.
#pragma once

#include <cstddef>
#include <string>

namespace app {

enum class StampedSlot {
  Param1 = 0,    // "PARAM1: "
  AffiliateSub,  // "AFFSD: "
  Affiliate,     // "AFFILIATE: "
  EName,         // "ENAME: "
  AName,         // "ANAME: "
  Serial,        // "SERIAL: "
  WebDomain,     // "WEBDOMAIN: "
  HelpUrl,       // "HELPURL: "
  Domain,        // "DOMAIN: "
  AppId,         // "APPID: "
};

inline constexpr size_t kStampedBlockSize = 733;
inline constexpr size_t kStampedSlotCount = 10;

struct StampedSlotLayout {
  const char* key;   // key text with its colon and space
  size_t offset;     // of the key, from the block's start
  size_t capacity;   // characters available for the value
};

// Layout of slot `slot`; the table is the block's file format.
const StampedSlotLayout& SlotLayout(StampedSlot slot);

// The value of one slot of this executable's block: the bytes after the key
// up to the first zero byte, never longer than the slot's capacity. Nothing
// is trimmed or decoded. Safe from any thread.
std::string ReadStampedValue(StampedSlot slot);

// The same rule on a block held in memory (`block` of kStampedBlockSize bytes).
std::string ReadStampedValueFrom(const unsigned char* block, StampedSlot slot);

}  // namespace app
