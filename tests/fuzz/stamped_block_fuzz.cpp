// The stamped block reader on any block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/stamped_parameters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unsigned char block[app::kStampedBlockSize] = {};
  std::memcpy(block, data, size < sizeof block ? size : sizeof block);
  for (size_t slot = 0; slot < app::kStampedSlotCount; ++slot) {
    const auto which = static_cast<app::StampedSlot>(slot);
    const std::string value = app::ReadStampedValueFrom(block, which);
    if (value.size() > app::SlotLayout(which).capacity) abort();
  }
  return 0;
}
