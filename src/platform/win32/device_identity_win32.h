// The machine identity's device routes on Windows: DeviceIoControl on the
// physical drives ("\\.\PhysicalDrive0" to 15) and SCSI controllers
// ("\\.\Scsi0:" to 15), the IDE21201.VXD driver of the Windows 9x family,
// and NetBIOS for the network adapters. Drives that cannot be opened (no
// administrator rights, no such drive) deliver nothing.
#pragma once

#include "platform/device_identity.h"

namespace platform {

class Win32DeviceIdentitySources : public DeviceIdentitySources {
 public:
  // The platform id of GetVersionExA.
  uint32_t PlatformId() override;
  // SMART_GET_VERSION, then SMART_RCV_DRIVE_DATA with IDENTIFY DEVICE (or
  // IDENTIFY PACKET DEVICE for an ATAPI drive).
  std::vector<IdentifyBlock> SmartIdentifyBlocks() override;
  // IOCTL_SCSI_MINIPORT carrying IOCTL_SCSI_MINIPORT_IDENTIFY, drives 0 and 1
  // of each controller.
  std::vector<IdentifyBlock> ScsiMiniportIdentifyBlocks() override;
  // IOCTL_STORAGE_QUERY_PROPERTY (the device descriptor) and
  // IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER on each drive.
  std::vector<StorageQueryResult> StorageQueryResults() override;
  // Control code 1 of "\\.\IDE21201.VXD", the process raised to real-time
  // priority meanwhile. When the driver cannot be opened the user is told
  // in an error box and nothing is returned.
  std::optional<std::vector<uint8_t>> LegacyIdentifyBuffer() override;
  // Netbios: NCBENUM, then NCBRESET and NCBASTAT on each LANA.
  AdapterEnumeration AdapterStatuses() override;
};

}  // namespace platform
