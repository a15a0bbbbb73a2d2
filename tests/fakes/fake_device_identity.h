// A fake of the machine-identity sources: each route hands back what the test
// set, and every route call is counted, so tests can see which routes ran and
// how often. Helpers build identify blocks from serial and model texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/device_identity.h"

namespace fakes {

class FakeDeviceIdentitySources : public platform::DeviceIdentitySources {
 public:
  uint32_t platformId = platform::kPlatformIdDrives;
  std::vector<platform::IdentifyBlock> smartBlocks;
  std::vector<platform::IdentifyBlock> scsiBlocks;
  std::vector<platform::StorageQueryResult> storageResults;
  // One buffer per legacy attempt; attempts past the end get nullopt (no
  // driver).
  std::vector<std::optional<std::vector<uint8_t>>> legacyBuffers;
  platform::AdapterEnumeration adapters;

  int smartCalls = 0;
  int scsiCalls = 0;
  int storageCalls = 0;
  int legacyCalls = 0;
  int adapterCalls = 0;

  uint32_t PlatformId() override { return platformId; }
  std::vector<platform::IdentifyBlock> SmartIdentifyBlocks() override {
    ++smartCalls;
    return smartBlocks;
  }
  std::vector<platform::IdentifyBlock> ScsiMiniportIdentifyBlocks() override {
    ++scsiCalls;
    return scsiBlocks;
  }
  std::vector<platform::StorageQueryResult> StorageQueryResults() override {
    ++storageCalls;
    return storageResults;
  }
  std::optional<std::vector<uint8_t>> LegacyIdentifyBuffer() override {
    const size_t attempt = static_cast<size_t>(legacyCalls++);
    return attempt < legacyBuffers.size() ? legacyBuffers[attempt] : std::nullopt;
  }
  platform::AdapterEnumeration AdapterStatuses() override {
    ++adapterCalls;
    return adapters;
  }
};

// Writes `text` into words [first, first + wordCount) two characters a word,
// first character in the high byte, padded with spaces.
inline void PutIdentifyText(platform::IdentifyBlock& block, size_t first, size_t wordCount, std::string_view text) {
  for (size_t i = 0; i < wordCount; ++i) {
    const unsigned char high = 2 * i < text.size() ? static_cast<unsigned char>(text[2 * i]) : ' ';
    const unsigned char low = 2 * i + 1 < text.size() ? static_cast<unsigned char>(text[2 * i + 1]) : ' ';
    block[first + i] = static_cast<uint16_t>(high << 8 | low);
  }
}

// An identify block whose serial (words 10-19, 20 characters) and model
// (words 27-46, 40 characters) hold the given texts, space-padded.
inline platform::IdentifyBlock MakeIdentifyBlock(std::string_view serial, std::string_view model = "TEST MODEL") {
  platform::IdentifyBlock block{};
  PutIdentifyText(block, 10, 10, serial);
  PutIdentifyText(block, 27, 20, model);
  return block;
}

inline platform::AdapterStatus AnsweringAdapter(std::array<uint8_t, 6> address) {
  platform::AdapterStatus status;
  status.resetOk = true;
  status.statusOk = true;
  status.address = address;
  return status;
}

}  // namespace fakes
