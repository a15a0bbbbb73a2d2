#include "stamp_block.h"

#include <algorithm>
#include <cstring>

namespace stamp {

namespace {

app::StampedSlot SlotAt(size_t index) { return static_cast<app::StampedSlot>(index); }

bool KeysInPlace(const std::vector<unsigned char>& bytes, size_t blockStart) {
  if (bytes.size() < app::kStampedBlockSize || blockStart > bytes.size() - app::kStampedBlockSize) return false;
  for (size_t i = 0; i < app::kStampedSlotCount; ++i) {
    const app::StampedSlotLayout& layout = app::SlotLayout(SlotAt(i));
    if (std::memcmp(bytes.data() + blockStart + layout.offset, layout.key, std::strlen(layout.key)) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string SlotName(app::StampedSlot slot) {
  std::string key = app::SlotLayout(slot).key;
  return key.substr(0, key.find(": "));
}

std::optional<app::StampedSlot> SlotByName(std::string_view name) {
  for (size_t i = 0; i < app::kStampedSlotCount; ++i) {
    if (SlotName(SlotAt(i)) == name) return SlotAt(i);
  }
  return std::nullopt;
}

std::vector<size_t> FindBlocks(const std::vector<unsigned char>& bytes) {
  // The first key opens the block; every candidate is confirmed by all ten.
  const app::StampedSlotLayout& first = app::SlotLayout(SlotAt(0));
  const std::string_view key(first.key);
  std::vector<size_t> starts;
  auto at = bytes.begin();
  for (;;) {
    at = std::search(at, bytes.end(), key.begin(), key.end());
    if (at == bytes.end()) break;
    const size_t keyOffset = static_cast<size_t>(at - bytes.begin());
    if (keyOffset >= first.offset && KeysInPlace(bytes, keyOffset - first.offset)) {
      starts.push_back(keyOffset - first.offset);
    }
    ++at;
  }
  return starts;
}

void WriteSlot(std::vector<unsigned char>& bytes, size_t blockStart, app::StampedSlot slot, std::string_view value) {
  const app::StampedSlotLayout& layout = app::SlotLayout(slot);
  unsigned char* area = bytes.data() + blockStart + layout.offset + std::strlen(layout.key);
  std::memcpy(area, value.data(), value.size());
  if (value.size() < layout.capacity) {
    area[value.size()] = 0;
    std::memset(area + value.size() + 1, ' ', layout.capacity - value.size() - 1);
  }
  area[layout.capacity] = 0;
}

}  // namespace stamp
