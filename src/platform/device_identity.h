// The raw data behind the machine identity: ATA identify blocks of the fixed
// disks, their serial texts, and the hardware addresses of the network
// adapters. Each method runs one device route completely and hands back what
// every drive, controller or adapter it visited delivered, in the route's own
// order. The sources decide nothing: which route runs, which disk is
// accepted, how texts are decoded and where a walk stops is the identity
// logic's business (net/machine_identity.h), so it is the same on every
// platform and can be driven by a fake.
//
// Threads: any thread; an implementation keeps no state between calls, so
// two identity computations may overlap. Every method blocks for as long as
// its device queries take (a few milliseconds on a normal machine) and never
// waits on anything else. No method fails: a route that cannot be used
// (missing device, no permission, no such interface on this platform) simply
// delivers nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Which family of disk routes the platform serves, numbered as the Windows
// platform id numbers its families.
inline constexpr uint32_t kPlatformIdLegacy = 1;  // one driver buffer with up to eight drives
inline constexpr uint32_t kPlatformIdDrives = 2;  // per-drive queries: SMART, SCSI miniport, storage query

// One ATA IDENTIFY DEVICE block as 256 word values. String fields (serial in
// words 10-19, model in words 27-46) carry their first character in the high
// byte of each word, as the ATA standard lays them out.
inline constexpr size_t kIdentifyWordCount = 256;
using IdentifyBlock = std::array<uint16_t, kIdentifyWordCount>;

// How a storage descriptor hands its serial text.
enum class SerialForm : uint8_t {
  // The text as the Windows storage descriptor holds it: hexadecimal pairs,
  // decoded by the logic before use.
  HexPairs = 0,
  // The serial itself, already readable (Linux sysfs); used unchanged.
  Plain = 1,
};

// The storage descriptor of one drive.
struct StorageDescriptor {
  std::string serial;  // as `serialForm` says; may be empty
  SerialForm serialForm = SerialForm::HexPairs;
  std::string productId;  // may be empty
};

// What the storage-query route learnt of one drive. Each part is present only
// when its query succeeded.
struct StorageQueryResult {
  std::optional<StorageDescriptor> descriptor;
  std::optional<std::string> mediaSerial;  // the media serial number text
};

// Layout of the legacy driver's buffer: one controller-present byte per
// controller (drives 2k and 2k+1 belong to controller k), one drive-present
// byte per drive, then one 512-byte identify block per drive, each word
// little-endian.
inline constexpr size_t kLegacyControllerCount = 4;
inline constexpr size_t kLegacyDriveCount = 8;
inline constexpr size_t kLegacyControllerFlagsOffset = 0;
inline constexpr size_t kLegacyDriveFlagsOffset = 4;
inline constexpr size_t kLegacyBlocksOffset = 12;
inline constexpr size_t kLegacyBlockSize = 512;
inline constexpr size_t kLegacyBufferSize = kLegacyBlocksOffset + kLegacyDriveCount * kLegacyBlockSize;  // 4108

// The result of one adapter in the enumeration.
struct AdapterStatus {
  bool resetOk = false;   // the adapter accepted its reset
  bool statusOk = false;  // the adapter answered the status query
  std::array<uint8_t, 6> address{};
};

struct AdapterEnumeration {
  bool ok = false;                      // false when the enumeration itself failed
  std::vector<AdapterStatus> adapters;  // in enumeration order
};

class DeviceIdentitySources {
 public:
  virtual ~DeviceIdentitySources() = default;

  // kPlatformIdDrives when the per-drive routes below are served; any other
  // value makes the logic use LegacyIdentifyBuffer instead.
  virtual uint32_t PlatformId() = 0;

  // SMART route: one block for every drive that delivered identify data, in
  // drive order. Empty when no drive did.
  virtual std::vector<IdentifyBlock> SmartIdentifyBlocks() = 0;

  // SCSI-miniport route: one block for every controller drive whose identify
  // request succeeded, in controller order, drive 0 before drive 1. The
  // source hands each block as delivered; the check that a block holds real
  // data (the low byte of word 27 is non-zero) is made by the logic.
  virtual std::vector<IdentifyBlock> ScsiMiniportIdentifyBlocks() = 0;

  // Storage-query route: one entry for every drive that could be opened, in
  // drive order.
  virtual std::vector<StorageQueryResult> StorageQueryResults() = 0;

  // Legacy route, one attempt: the driver's buffer (kLegacyBufferSize bytes
  // in the layout above; a shorter buffer counts as zero-filled), or nullopt
  // when the driver could not be reached. Telling the user that the driver
  // is missing is the source's own business.
  virtual std::optional<std::vector<uint8_t>> LegacyIdentifyBuffer() = 0;

  // Every network adapter's reset and status results, in enumeration order.
  virtual AdapterEnumeration AdapterStatuses() = 0;
};

}  // namespace platform
