// The registry of the Windows layer in both hives, run under Wine.
#include <gtest/gtest.h>

#include "platform/win32/system_error_win32.h"
#include "platform/win32/registry_win32.h"

namespace {

using platform::Hive;

constexpr const char* kKey = "Software\\WebsetupTest\\Uninstall\\Quorix";

class Win32RegistryTest : public ::testing::TestWithParam<Hive> {
 protected:
  void TearDown() override {
    (void)registry.DeleteKey(GetParam(), kKey);
    (void)registry.DeleteKey(GetParam(), "Software\\WebsetupTest\\Uninstall");
    (void)registry.DeleteKey(GetParam(), "Software\\WebsetupTest");
  }
  platform::Win32Registry registry;
};

TEST_P(Win32RegistryTest, WrittenValuesReadBackAndGoWithTheirKey) {
  const Hive hive = GetParam();
  std::string value = "unchanged";
  EXPECT_EQ(registry.ReadString(hive, kKey, "DisplayName", &value), platform::kRegistryNotFound);
  EXPECT_EQ(platform::LastErrorCode(), platform::kRegistryNotFound);

  ASSERT_EQ(registry.WriteString(hive, kKey, "DisplayName", "Quorix"), platform::kRegistryOk);
  ASSERT_EQ(registry.WriteString(hive, kKey, "UninstallString", std::string(300, 'u')), platform::kRegistryOk);
  EXPECT_EQ(registry.ReadString(hive, "SOFTWARE\\WEBSETUPTEST\\uninstall\\quorix", "displayname", &value),
            platform::kRegistryOk)
      << "keys and names compare without letter case";
  EXPECT_EQ(value, "Quorix");
  EXPECT_EQ(registry.ReadString(hive, kKey, "UninstallString", &value), platform::kRegistryOk);
  EXPECT_EQ(value, std::string(300, 'u')) << "a value longer than the first read's buffer";
  EXPECT_EQ(registry.ReadString(hive, kKey, "Absent", &value), platform::kRegistryNotFound);
  EXPECT_EQ(value, std::string(300, 'u')) << "a failed read leaves the value alone";

  ASSERT_EQ(registry.DeleteKey(hive, kKey), platform::kRegistryOk);
  EXPECT_EQ(registry.ReadString(hive, kKey, "DisplayName", &value), platform::kRegistryNotFound);
  EXPECT_EQ(registry.DeleteKey(hive, kKey), platform::kRegistryNotFound);
}

TEST_P(Win32RegistryTest, AKeyWithKeysBelowLosesItsValuesAndKeepsThem) {
  const Hive hive = GetParam();
  const std::string parent = "Software\\WebsetupTest\\Uninstall";
  ASSERT_EQ(registry.WriteString(hive, parent, "Own", "value"), platform::kRegistryOk);
  ASSERT_EQ(registry.WriteString(hive, kKey, "DisplayName", "Quorix"), platform::kRegistryOk);
  EXPECT_EQ(registry.DeleteKey(hive, parent), platform::kRegistryOk);
  std::string value;
  EXPECT_EQ(registry.ReadString(hive, parent, "Own", &value), platform::kRegistryNotFound);
  EXPECT_EQ(registry.ReadString(hive, kKey, "DisplayName", &value), platform::kRegistryOk);
}

INSTANTIATE_TEST_SUITE_P(BothHives, Win32RegistryTest, ::testing::Values(Hive::LocalMachine, Hive::CurrentUser),
                         [](const auto& info) {
                           return info.param == Hive::LocalMachine ? std::string("Machine") : std::string("User");
                         });

}  // namespace
