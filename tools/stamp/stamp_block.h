// Finding and rewriting the stamped parameter block inside an executable's
// bytes. The block is found by its key texts: a place where all ten keys sit
// at their fixed offsets from the block's start. Pure functions on a byte
// buffer; the file handling is the caller's.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/stamped_parameters.h"

namespace stamp {

// The slot whose key text without its ": " is `name` ("ANAME", "SERIAL"),
// letter case significant; nothing for an unknown name.
std::optional<app::StampedSlot> SlotByName(std::string_view name);

// The slot's key text without its ": ".
std::string SlotName(app::StampedSlot slot);

// Start offsets of every complete block in `bytes`, in file order.
std::vector<size_t> FindBlocks(const std::vector<unsigned char>& bytes);

// Writes `value` into the slot of the block at `blockStart`: the value, a
// zero byte when it is shorter than the capacity, spaces up to the capacity,
// and the slot's final zero byte. The caller has checked that the value fits
// (value.size() <= capacity) and that a block starts at `blockStart`.
void WriteSlot(std::vector<unsigned char>& bytes, size_t blockStart, app::StampedSlot slot, std::string_view value);

}  // namespace stamp
