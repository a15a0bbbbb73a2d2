// System facts, error texts and the identity sources of the Windows layer
// under Wine.
#include <gtest/gtest.h>

#include "platform/win32/system_error_win32.h"
#include "platform/win32/device_identity_win32.h"
#include "platform/win32/win32_system.h"

#include "platform/win32/win32_api.h"

#include <wininet.h>

namespace {

TEST(Win32SystemTest, FactsOfTheMachine) {
  platform::Win32System system;
  const auto version = system.GetOsVersion();
  EXPECT_TRUE(version.ok);
  EXPECT_EQ(version.platformId, 2u);
  EXPECT_FALSE(system.ComputerName().empty());
  EXPECT_EQ(system.ExecutablePath().substr(system.ExecutablePath().size() - 15), "win32_tests.exe");
  const std::string temp = system.TempFolder();
  EXPECT_NE(temp.back(), '\\');
  EXPECT_NE(GetFileAttributesA(temp.c_str()), INVALID_FILE_ATTRIBUTES);
  // The file time and the Unix clock agree to the second.
  const uint64_t unixNow = platform::UnixSecondsFromFileTime(system.SystemTimeAsFileTime());
  EXPECT_LE(static_cast<uint64_t>(time(nullptr)) - unixNow, 1u);
}

TEST(Win32SystemTest, ErrorTextsOfTheSystemAndOfWinInet) {
  const std::string notFound = platform::SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_GE(notFound.size(), 3u);
  EXPECT_EQ(notFound.substr(notFound.size() - 2), "\r\n");
  EXPECT_NE(notFound.find_first_not_of("\r\n"), std::string::npos);
  LoadLibraryA("wininet.dll");
  const std::string cannotConnect = platform::SystemErrorText(ERROR_INTERNET_CANNOT_CONNECT);
  if (cannotConnect.empty()) GTEST_SKIP() << "this wininet.dll carries no message table for its 12xxx codes";
  EXPECT_EQ(cannotConnect.substr(cannotConnect.size() - 2), "\r\n");
  EXPECT_EQ(platform::SystemErrorText(0x7ffffff0), "") << "no text for a code the system does not know";
}

// Under Wine the disk routes find no drive to open; NetBIOS answers.
TEST(Win32IdentityTest, RoutesRunToTheirEnd) {
  platform::Win32DeviceIdentitySources sources;
  EXPECT_EQ(sources.PlatformId(), platform::kPlatformIdDrives);
  const auto smart = sources.SmartIdentifyBlocks();
  const auto miniport = sources.ScsiMiniportIdentifyBlocks();
  const auto storage = sources.StorageQueryResults();
  RecordProperty("disk_blocks", static_cast<int>(smart.size() + miniport.size() + storage.size()));
  const auto adapters = sources.AdapterStatuses();
  if (!adapters.ok) GTEST_SKIP() << "NetBIOS enumeration is not answered here";
  // Wine gives each of the host's interfaces an adapter; one without a
  // hardware address (a tunnel, an interface still being made) answers
  // zeros, but the machine's own network card has one.
  int answered = 0, withAddress = 0;
  for (const auto& adapter : adapters.adapters) {
    if (!adapter.statusOk) continue;
    ++answered;
    withAddress += adapter.address != std::array<uint8_t, 6>{};
  }
  if (answered > 0) {
    EXPECT_GE(withAddress, 1) << "no answering adapter has an address";
  }
}

}  // namespace
