#include "platform/posix/device_identity_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace platform {
namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

bool AllZero(const std::array<uint8_t, 6>& address) {
  return std::all_of(address.begin(), address.end(), [](uint8_t b) { return b == 0; });
}

TEST(PosixDeviceIdentity, RealSourcesFinishQuickly) {
  PosixDeviceIdentitySources sources;
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::string> disks = sources.DiskNames();
  const std::vector<IdentifyBlock> identify = sources.SmartIdentifyBlocks();
  const std::vector<StorageQueryResult> storage = sources.StorageQueryResults();
  const AdapterEnumeration adapters = sources.AdapterStatuses();
  const double elapsedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("identity sources: %.3f ms, %zu disks, %zu identify blocks, %zu adapters\n", elapsedMs, disks.size(),
              identify.size(), adapters.adapters.size());

  EXPECT_LT(elapsedMs, 2000.0);
  EXPECT_EQ(sources.PlatformId(), kPlatformIdDrives);
  EXPECT_TRUE(sources.ScsiMiniportIdentifyBlocks().empty());
  EXPECT_FALSE(sources.LegacyIdentifyBuffer().has_value());
  EXPECT_EQ(storage.size(), disks.size());
  for (const std::string& disk : disks) {
    for (const char* virtualPrefix : {"loop", "ram", "zram", "sr"})
      EXPECT_FALSE(disk.starts_with(virtualPrefix)) << disk;
  }
  for (const AdapterStatus& adapter : adapters.adapters) {
    EXPECT_TRUE(adapter.resetOk && adapter.statusOk);
    EXPECT_FALSE(AllZero(adapter.address)) << "loopback or empty address handed on";
  }
}

TEST(PosixDeviceIdentity, DiskOrderAndSkippedDevices) {
  TempDir sys;
  for (const char* name : {"sdb", "sda", "sdaa", "sdz", "nvme10n1", "nvme2n1", "loop0", "zram0", "sr0", "ram0", "dm-0",
                           "md0", "nbd0", "fd0"}) {
    WriteFile(sys / (std::string("block/") + name + "/removable"), "0\n");
  }
  WriteFile(sys / "block/sdc/removable", "1\n");  // a USB stick
  PosixDeviceIdentitySources sources(sys.path(), sys / "dev");
  EXPECT_EQ(sources.DiskNames(), (std::vector<std::string>{"sda", "sdb", "sdz", "sdaa", "nvme2n1", "nvme10n1"}));
}

TEST(PosixDeviceIdentity, AtMostSixteenDisks) {
  TempDir sys;
  for (char c = 'a'; c <= 't'; ++c) WriteFile(sys / (std::string("block/sd") + c + "/removable"), "0");
  PosixDeviceIdentitySources sources(sys.path(), sys / "dev");
  const std::vector<std::string> disks = sources.DiskNames();
  ASSERT_EQ(disks.size(), 16u);
  EXPECT_EQ(disks.back(), "sdp");
}

TEST(PosixDeviceIdentity, ClassBlockFallbackSkipsPartitions) {
  TempDir sys;
  WriteFile(sys / "class/block/sda/device/serial", "S1\n");
  WriteFile(sys / "class/block/sda1/partition", "1\n");
  PosixDeviceIdentitySources sources(sys.path(), sys / "dev");
  EXPECT_EQ(sources.DiskNames(), std::vector<std::string>{"sda"});
  const std::vector<StorageQueryResult> storage = sources.StorageQueryResults();
  ASSERT_EQ(storage.size(), 1u);
  ASSERT_TRUE(storage[0].descriptor.has_value());
  EXPECT_EQ(storage[0].descriptor->serial, "S1");
}

TEST(PosixDeviceIdentity, SysfsSerialsAndModels) {
  TempDir sys;
  WriteFile(sys / "block/sda/device/vpd_pg80", std::string("\x00\x80\x00\x14", 4) + "    WD-WCAV12345  ");
  WriteFile(sys / "block/sda/device/model", "WDC WD5000   \n");
  WriteFile(sys / "block/sdb/device/model", "NO SERIAL\n");
  WriteFile(sys / "block/sdc/removable", "0\n");
  WriteFile(sys / "block/vda/serial", "overlayblk");
  WriteFile(sys / "block/sdd/device/serial", "PREFERRED \n");
  WriteFile(sys / "block/sdd/device/vpd_pg80", std::string("\x00\x80\x00\x03", 4) + "VPD");
  WriteFile(sys / "block/nvme0n1/device/serial", "S3EVNX0K123456      \n");
  WriteFile(sys / "block/sde/removable", "0\n");
  ASSERT_EQ(::mkfifo((sys / "block/sde/serial").c_str(), 0600), 0) << std::strerror(errno);  // must not hang

  struct Row {
    const char* disk;
    bool hasDescriptor;
    std::string serial, productId;
  };
  const Row rows[] = {
      {"sda", true, "    WD-WCAV12345", "WDC WD5000"},
      {"sdb", true, "", "NO SERIAL"},
      {"sdc", false, "", ""},
      {"sdd", true, "PREFERRED", ""},
      {"sde", false, "", ""},
      {"vda", true, "overlayblk", ""},
      {"nvme0n1", true, "S3EVNX0K123456", ""},
  };
  PosixDeviceIdentitySources sources(sys.path(), sys / "dev");
  const std::vector<StorageQueryResult> storage = sources.StorageQueryResults();
  ASSERT_EQ(storage.size(), std::size(rows));
  for (size_t i = 0; i < storage.size(); ++i) {
    const Row& row = rows[i];
    EXPECT_FALSE(storage[i].mediaSerial.has_value()) << row.disk;
    ASSERT_EQ(storage[i].descriptor.has_value(), row.hasDescriptor) << row.disk;
    if (!row.hasDescriptor) continue;
    EXPECT_EQ(storage[i].descriptor->serialForm, SerialForm::Plain) << row.disk;
    EXPECT_EQ(storage[i].descriptor->serial, row.serial) << row.disk;
    EXPECT_EQ(storage[i].descriptor->productId, row.productId) << row.disk;
  }
}

TEST(PosixDeviceIdentity, IdentifyIsAskedOnlyOfBlockDevices) {
  TempDir sys;
  WriteFile(sys / "block/sda/removable", "0");
  WriteFile(sys / "dev/sda", std::string(512, 'x'));  // a regular file, not a disk
  PosixDeviceIdentitySources sources(sys.path(), sys / "dev");
  EXPECT_TRUE(sources.SmartIdentifyBlocks().empty());
}

TEST(PosixDeviceIdentity, AdapterSelection) {
  TempDir sys;
  WriteFile(sys / "class/net/lo/address", "00:00:00:00:00:00\n");
  WriteFile(sys / "class/net/lo/type", "772\n");
  WriteFile(sys / "class/net/wlan0/address", "A0:B1:C2:D3:E4:F5\n");
  WriteFile(sys / "class/net/wlan0/device/uevent", "");
  WriteFile(sys / "class/net/eth0/address", "02:fc:00:00:00:01\n");
  WriteFile(sys / "class/net/eth0/device/uevent", "");
  WriteFile(sys / "class/net/lback/address", "02:00:00:00:00:09\n");  // loopback by type
  WriteFile(sys / "class/net/lback/type", "772\n");
  WriteFile(sys / "class/net/lback/device/uevent", "");
  WriteFile(sys / "class/net/zero/address", "00:00:00:00:00:00\n");
  WriteFile(sys / "class/net/zero/device/uevent", "");
  WriteFile(sys / "class/net/ib0/address", "80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0f:b2:7e\n");
  WriteFile(sys / "class/net/ib0/device/uevent", "");
  WriteFile(sys / "class/net/docker0/address", "02:42:ac:11:00:01\n");  // virtual: no device

  PosixDeviceIdentitySources sources(sys.path(), sys / "dev");
  AdapterEnumeration enumeration = sources.AdapterStatuses();
  EXPECT_TRUE(enumeration.ok);
  ASSERT_EQ(enumeration.adapters.size(), 2u);
  EXPECT_EQ(enumeration.adapters[0].address, (std::array<uint8_t, 6>{0x02, 0xfc, 0, 0, 0, 1}));
  EXPECT_EQ(enumeration.adapters[1].address, (std::array<uint8_t, 6>{0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5}));

  TempDir virtualOnly;
  WriteFile(virtualOnly / "class/net/veth1/address", "aa:00:00:00:00:02\n");
  WriteFile(virtualOnly / "class/net/br0/address", "aa:00:00:00:00:01\n");
  WriteFile(virtualOnly / "class/net/lo/address", "00:00:00:00:00:00\n");
  enumeration = PosixDeviceIdentitySources(virtualOnly.path(), "").AdapterStatuses();
  ASSERT_EQ(enumeration.adapters.size(), 2u);
  EXPECT_EQ(enumeration.adapters[0].address[5], 1);  // br0 before veth1
  EXPECT_EQ(enumeration.adapters[1].address[5], 2);
}

TEST(PosixDeviceIdentity, MissingSysfsGivesNothing) {
  PosixDeviceIdentitySources sources("/nonexistent/sys", "/nonexistent/dev");
  EXPECT_TRUE(sources.DiskNames().empty());
  EXPECT_TRUE(sources.SmartIdentifyBlocks().empty());
  EXPECT_TRUE(sources.StorageQueryResults().empty());
  const AdapterEnumeration enumeration = sources.AdapterStatuses();
  EXPECT_FALSE(enumeration.ok);
  EXPECT_TRUE(enumeration.adapters.empty());
}

TEST(ParseAdapterAddress, Table) {
  using Address = std::array<uint8_t, 6>;
  const std::pair<std::string, std::optional<Address>> rows[] = {
      {"00:1a:2B:3c:4D:5e\n", Address{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
      {"ff:ff:ff:ff:ff:ff", Address{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
      {"", std::nullopt},
      {"00:1a:2b:3c:4d", std::nullopt},
      {"00:1a:2b:3c:4d:5e:6f", std::nullopt},
      {"00-1a-2b-3c-4d-5e", std::nullopt},
      {"0g:1a:2b:3c:4d:5e", std::nullopt},
      {"001a2b3c4d5e", std::nullopt},
  };
  for (const auto& [text, expected] : rows) EXPECT_EQ(ParseAdapterAddress(text), expected) << "\"" << text << "\"";
}

TEST(SerialFromVpdPage80, Table) {
  const std::pair<std::string, std::string> rows[] = {
      {std::string("\x00\x80\x00\x04", 4) + "ABCD", "ABCD"},
      {std::string("\x00\x80\x00\x02", 4) + "ABCD", "AB"},    // declared length wins
      {std::string("\x00\x80\x00\x40", 4) + "ABCD", "ABCD"},  // data shorter than declared
      {std::string("\x00\x80\x00\x04", 4) + std::string("A\0CD", 4), "A"},
      {std::string("\x00\x83\x00\x04", 4) + "ABCD", ""},  // another page
      {std::string("\x00\x80", 2), ""},
  };
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(SerialFromVpdPage80(rows[i].first), rows[i].second) << "row " << i;
}

TEST(IdentifyBlockFromHdio, StringFieldsBecomeHighByteFirstWords) {
  std::string raw(512, '\0');
  const uint16_t general = 0x0040, capabilities = 0x0F00;
  std::memcpy(&raw[0], &general, 2);  // word 0, host order
  std::memcpy(&raw[2 * 49], &capabilities, 2);
  raw.replace(2 * 10, 4, "AB12");  // serial: byte string
  raw.replace(2 * 23, 2, "FW");    // firmware revision
  raw.replace(2 * 27, 2, "XY");    // model
  raw.replace(2 * 46, 2, "Z!");    // last model word
  const std::optional<IdentifyBlock> block = IdentifyBlockFromHdio(raw);
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ((*block)[0], 0x0040);
  EXPECT_EQ((*block)[49], 0x0F00);
  EXPECT_EQ((*block)[10], 0x4142);
  EXPECT_EQ((*block)[11], 0x3132);
  EXPECT_EQ((*block)[23], 0x4657);
  EXPECT_EQ((*block)[27], 0x5859);
  EXPECT_EQ((*block)[46], 0x5A21);
  EXPECT_FALSE(IdentifyBlockFromHdio(raw.substr(0, 511)).has_value());
}

}  // namespace
}  // namespace platform
