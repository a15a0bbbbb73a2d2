// The machine-identity sources of Linux. Linux serves the per-drive routes:
// the ATA identify data of a disk (HDIO_GET_IDENTITY, which needs read access
// to the device node and an ATA disk) comes through the SMART route, and the
// serial text that sysfs publishes for every disk comes through the
// storage-query route, already readable (SerialForm::Plain). There is no SCSI
// miniport, media-serial query or legacy driver: those routes deliver nothing.
// Adapter addresses come from /sys/class/net.
//
// Disks are the whole-disk entries of <sys>/block (or <sys>/class/block when
// that cannot be listed), at most 16, ordered shorter names first and then by
// name (sda ... sdz, sdaa; nvme2n1 before nvme10n1). Loop, RAM, zram,
// optical, floppy, device-mapper, md and nbd devices and every drive that
// sysfs marks removable are skipped.
//
// The serial text keeps its leading spaces and loses trailing spaces and line
// ends; for an ATA disk that makes h1 the same whether it came from the
// identify words (with permission) or from sysfs (without).
//
// No call fails or waits for want of permission: an unreadable file or
// device gives nothing. Device nodes are opened O_RDONLY | O_NONBLOCK and
// only when they are block devices. Any thread; no state between calls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_identity.h"

namespace platform {

class PosixDeviceIdentitySources : public DeviceIdentitySources {
 public:
  // `sysRoot` and `devRoot` stand for /sys and /dev; tests point them at a
  // tree of their own.
  explicit PosixDeviceIdentitySources(std::string sysRoot = "/sys", std::string devRoot = "/dev");

  // kPlatformIdDrives: Linux serves per-drive queries.
  uint32_t PlatformId() override;
  // The identify blocks of the sd, hd and nvme disks that answer
  // HDIO_GET_IDENTITY; empty without permission.
  std::vector<IdentifyBlock> SmartIdentifyBlocks() override;
  // Always empty on Linux.
  std::vector<IdentifyBlock> ScsiMiniportIdentifyBlocks() override;
  // One entry per disk; the descriptor is present when sysfs gives the disk a
  // serial or a model.
  std::vector<StorageQueryResult> StorageQueryResults() override;
  // Always nullopt on Linux.
  std::optional<std::vector<uint8_t>> LegacyIdentifyBuffer() override;
  // The adapters of /sys/class/net in name order: those backed by a device
  // when there is any such, otherwise all. Skips the loopback (name "lo" or
  // type 772), and any address that is not six bytes or is all zero. Every
  // listed adapter answers; `ok` is false when the folder cannot be listed.
  AdapterEnumeration AdapterStatuses() override;

  // The whole disks in the order the routes visit them.
  std::vector<std::string> DiskNames() const;

 private:
  struct Disk {
    std::string name;       // as under /dev
    std::string sysfsPath;  // its folder in sysfs
  };
  std::vector<Disk> Disks() const;

  std::string sysRoot_;
  std::string devRoot_;
};

// The identify block of a 512-byte HDIO_GET_IDENTITY answer. The kernel hands
// the words in host order but its string fields (serial, firmware, model) as
// plain byte strings; those are turned back into words with the first
// character in the high byte. Nullopt when `raw` is not 512 bytes.
std::optional<IdentifyBlock> IdentifyBlockFromHdio(std::string_view raw);

// The serial of a SCSI unit-serial-number page (VPD page 0x80): the text
// after the 4-byte header, as long as the header says and the data allows,
// ending at a zero byte. Empty when the page is malformed.
std::string SerialFromVpdPage80(std::string_view page);

// Six address bytes of "aa:bb:cc:dd:ee:ff" (a trailing line end allowed);
// nullopt for anything else.
std::optional<std::array<uint8_t, 6>> ParseAdapterAddress(std::string_view text);

}  // namespace platform
