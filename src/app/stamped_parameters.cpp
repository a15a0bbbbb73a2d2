#include "app/stamped_parameters.h"

#include <array>
#include <string_view>

#include "build_config.h"

namespace app {

namespace {

constexpr std::array<StampedSlotLayout, kStampedSlotCount> kLayout = {{
    {"PARAM1: ", 0, 100},
    {"AFFSD: ", 112, 40},
    {"AFFILIATE: ", 160, 100},
    {"ENAME: ", 272, 20},
    {"ANAME: ", 300, 20},
    {"SERIAL: ", 328, 40},
    {"WEBDOMAIN: ", 384, 100},
    {"HELPURL: ", 496, 100},
    {"DOMAIN: ", 608, 100},
    {"APPID: ", 720, 5},
}};

struct Block {
  unsigned char bytes[kStampedBlockSize];
};

// Unstamped contents: a text value is followed by a zero byte and spaces up
// to the capacity; a slot meant to stay empty until stamped is filled with
// one marker character.
struct SlotDefault {
  std::string_view text;
  char marker;  // non-zero: fill the whole value area with it
};

constexpr std::array<SlotDefault, kStampedSlotCount> kDefaults = {{
    {"", '@'},
    {"tessmark", 0},
    {"orbelta", 0},
    {"Quorix", 0},
    {"Quorix", 0},
    {"K7TQ2M9XRB4HZ0WLC8NVJ5PDAE3GY61FSUQ0ZK2M", 0},
    {"", '^'},
    {build_config::kHelpUrl, 0},
    {build_config::kSecureHost, 0},
    {"", ':'},
}};

constexpr size_t KeyLength(const char* key) { return std::string_view(key).size(); }

constexpr Block MakeDefaultBlock() {
  Block block{};
  for (size_t i = 0; i < kStampedSlotCount; ++i) {
    const StampedSlotLayout& slot = kLayout[i];
    const size_t keyLength = KeyLength(slot.key);
    for (size_t k = 0; k < keyLength; ++k) block.bytes[slot.offset + k] = static_cast<unsigned char>(slot.key[k]);
    unsigned char* area = block.bytes + slot.offset + keyLength;
    const SlotDefault& value = kDefaults[i];
    if (value.marker != 0) {
      for (size_t k = 0; k < slot.capacity; ++k) area[k] = static_cast<unsigned char>(value.marker);
    } else {
      const size_t n = value.text.size() < slot.capacity ? value.text.size() : slot.capacity;
      for (size_t k = 0; k < n; ++k) area[k] = static_cast<unsigned char>(value.text[k]);
      if (n < slot.capacity) {
        area[n] = 0;
        for (size_t k = n + 1; k < slot.capacity; ++k) area[k] = ' ';
      }
    }
    area[slot.capacity] = 0;  // the final zero byte, always present
  }
  return block;
}

static_assert(kLayout[9].offset + KeyLength(kLayout[9].key) + kLayout[9].capacity + 1 == kStampedBlockSize,
              "the last slot ends the block");

// The block lives in its own section so that the stamping tool finds one
// copy of it, and it is read through a volatile reference: the compiler may
// not fold the defaults into the code, so a stamped value is what the
// program sees.
[[gnu::section(".stamp"), gnu::used]] const volatile Block kStampedBlock = MakeDefaultBlock();

}  // namespace

const StampedSlotLayout& SlotLayout(StampedSlot slot) { return kLayout[static_cast<size_t>(slot)]; }

std::string ReadStampedValueFrom(const unsigned char* block, StampedSlot slot) {
  const StampedSlotLayout& layout = SlotLayout(slot);
  const unsigned char* value = block + layout.offset + KeyLength(layout.key);
  std::string out;
  // The final zero byte after the value area bounds a value that fills it.
  for (size_t i = 0; i < layout.capacity && value[i] != 0; ++i) out.push_back(static_cast<char>(value[i]));
  return out;
}

std::string ReadStampedValue(StampedSlot slot) {
  unsigned char copy[kStampedBlockSize];
  for (size_t i = 0; i < kStampedBlockSize; ++i) copy[i] = kStampedBlock.bytes[i];
  return ReadStampedValueFrom(copy, slot);
}

}  // namespace app
