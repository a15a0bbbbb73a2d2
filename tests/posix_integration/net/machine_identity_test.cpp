#include "net/machine_identity.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fakes/fake_device_identity.h"
#include "platform/posix/device_identity_posix.h"
#include "support/temp_dir.h"

namespace net {
namespace {

using fakes::AnsweringAdapter;
using fakes::FakeDeviceIdentitySources;
using fakes::MakeIdentifyBlock;
using platform::IdentifyBlock;
using platform::SerialForm;
using platform::StorageQueryResult;

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

StorageQueryResult Descriptor(std::string serial, SerialForm form, std::string productId = "MODEL") {
  StorageQueryResult result;
  result.descriptor = platform::StorageDescriptor{std::move(serial), form, std::move(productId)};
  return result;
}

// --- Text conversions -------------------------------------------------------

TEST(WordsToText, Table) {
  struct Row {
    std::vector<uint16_t> words;
    size_t first, last;
    std::string expected;
  };
  const Row rows[] = {
      {{0x4142, 0x4320}, 0, 1, "ABC"},                                // trailing space removed
      {{0x2020, 0x4142}, 0, 1, "  AB"},                               // leading spaces stay
      {{0x2020, 0x2020, 0x2020}, 0, 2, " "},                          // the first character is never removed
      {{0x4100, 0x4242}, 0, 1, "A"},                                  // the text ends at a zero byte
      {{0x0041, 0x4242}, 0, 1, ""},          {{0x4142}, 0, 5, "AB"},  // words past the end give nothing
      {{0x4142, 0x4344}, 1, 1, "CD"},        {{0x4142}, 3, 5, ""},   {{0xE9FF}, 0, 0, "\xE9\xFF"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(WordsToText(row.words, row.first, row.last), row.expected)
        << "words[0]=" << std::hex << row.words[0] << " range " << std::dec << row.first << ".." << row.last;
  }
}

TEST(HexPairsToText, Table) {
  const std::pair<std::string, std::string> rows[] = {
      {"3457", "W4"},
      {"00410042", "AB"},  // second pair first, zero bytes dropped
      {"WD12", "\x12"},
      {"2020", "  "},  // a pair with a non-hex character counts as 0
      {"1G4D", "M"},
      {"", ""},
      {"345", "P4"},  // missing positions count as "0": 3450
      {"abCD", "\xCD\xAB"},
      {std::string("3457\0"
                   "4142",
                   9),
       "W4"},
      {"zzzz", ""},
      {"4457312D3332", "WD-123"},
  };
  for (const auto& [input, expected] : rows) EXPECT_EQ(HexPairsToText(input), expected) << "input \"" << input << "\"";
}

TEST(SerialToDigits, Table) {
  const std::pair<std::string, std::string> rows[] = {
      {"AB", "16706" + Repeat("8224", 8)},
      {"", Repeat("8224", 9)},
      {"ABC", "1670617184" + Repeat("8224", 7)},  // a lone last character keeps a space low byte
      {"ABCDEFGHIJKLMNOPQRST", "167061722017734182481876219276197902030420818"},  // only 18 characters count
      {"\xFF\xFF", "65535" + Repeat("8224", 8)},
  };
  for (const auto& [serial, expected] : rows)
    EXPECT_EQ(SerialToDigits(serial), expected) << "serial \"" << serial << "\"";
}

TEST(IsUsableSerial, FirstOrTwentiethCharacter) {
  const std::pair<std::string, bool> rows[] = {
      {"A", true},
      {"7abc", true},
      {"", false},
      {" ", false},
      {"-ABC", false},
      {std::string(19, ' ') + "9", true},
      {std::string(19, ' ') + "-", false},
      {std::string(18, ' ') + "9", false},  // "9" is the nineteenth character
      {"\xE9" + std::string(19, ' '), false},
  };
  for (const auto& [candidate, usable] : rows)
    EXPECT_EQ(IsUsableSerial(candidate), usable) << "\"" << candidate << "\"";
}

// --- Disk routes ------------------------------------------------------------

TEST(ReadDiskSerial, RightJustifiedIdentifySerialIsAccepted) {
  FakeDeviceIdentitySources sources;
  sources.smartBlocks = {MakeIdentifyBlock("      WD-WCAV1234567", "WDC WD5000")};
  DiskIdentity identity;
  EXPECT_EQ(ReadDiskSerial(sources, identity), 1);
  EXPECT_EQ(identity.serialText, "      WD-WCAV1234567");
  EXPECT_EQ(identity.identityDigits, "822482248224223401160717217220651285113365");
  EXPECT_EQ(identity.modelText, "WDC WD5000");
}

TEST(ReadDiskSerial, AnsweringRouteWithUnusableSerialEndsTheSearch) {
  FakeDeviceIdentitySources sources;
  sources.smartBlocks = {MakeIdentifyBlock("")};  // all spaces
  sources.scsiBlocks = {MakeIdentifyBlock("SCSI1")};
  sources.storageResults = {Descriptor("STORAGE1", SerialForm::Plain)};
  DiskIdentity identity;
  EXPECT_EQ(ReadDiskSerial(sources, identity), 1);
  EXPECT_EQ(identity.identityDigits, "");
  EXPECT_EQ(identity.serialText, "");
  EXPECT_EQ(sources.scsiCalls, 0);
  EXPECT_EQ(sources.storageCalls, 0);
}

TEST(ReadDiskSerial, FirstAcceptedDriveWins) {
  FakeDeviceIdentitySources sources;
  sources.smartBlocks = {MakeIdentifyBlock("-unusable"), MakeIdentifyBlock("AB"), MakeIdentifyBlock("CD")};
  DiskIdentity identity;
  EXPECT_EQ(ReadDiskSerial(sources, identity), 1);
  EXPECT_EQ(identity.serialText, "AB");
  EXPECT_EQ(identity.identityDigits, "16706" + Repeat("8224", 8));
}

TEST(ReadDiskSerial, ScsiBlockWithoutModelDataIsIgnored) {
  FakeDeviceIdentitySources sources;
  IdentifyBlock empty = MakeIdentifyBlock("SCSI1", "");
  empty[27] = 0x4100;  // second model character zero: the controller gave no data
  sources.scsiBlocks = {empty, MakeIdentifyBlock("SCSI2", "XY")};
  DiskIdentity identity;
  EXPECT_EQ(ReadDiskSerial(sources, identity), 1);
  EXPECT_EQ(identity.serialText, "SCSI2");
  EXPECT_EQ(sources.storageCalls, 0);

  sources.scsiBlocks = {empty};
  sources.storageResults = {Descriptor("4457312D3332", SerialForm::HexPairs)};
  DiskIdentity second;
  EXPECT_EQ(ReadDiskSerial(sources, second), 1);
  EXPECT_EQ(second.serialText, "WD-123");
}

TEST(ReadDiskSerial, StorageQuerySerialForms) {
  const std::string wd123Digits = "223401156912851" + Repeat("8224", 6);
  struct Row {
    std::string serial;
    SerialForm form;
    std::string serialText, digits;
  };
  const Row rows[] = {
      {"4457312D3332", SerialForm::HexPairs, "WD-123", wd123Digits},
      {"WD-123", SerialForm::Plain, "WD-123", wd123Digits},
      {"3457", SerialForm::Plain, "3457", SerialToDigits("3457")},
      {"WD12", SerialForm::HexPairs, "", ""},  // decodes to "\x12": not usable
  };
  for (const Row& row : rows) {
    FakeDeviceIdentitySources sources;
    sources.storageResults = {Descriptor(row.serial, row.form, "DISK MODEL")};
    DiskIdentity identity;
    EXPECT_EQ(ReadDiskSerial(sources, identity), row.serialText.empty() ? 0 : 1) << row.serial;
    EXPECT_EQ(identity.serialText, row.serialText) << row.serial;
    EXPECT_EQ(identity.identityDigits, row.digits) << row.serial;
    EXPECT_EQ(identity.modelText, row.serialText.empty() ? "" : "DISK MODEL") << row.serial;
  }
}

TEST(ReadDiskSerial, MediaSerialOnlyGivesEmptyH1AndStopsLaterDrives) {
  FakeDeviceIdentitySources sources;
  StorageQueryResult media;
  media.descriptor = platform::StorageDescriptor{"", SerialForm::HexPairs, "M"};
  media.mediaSerial = "MEDIA42";
  sources.storageResults = {media, Descriptor("LATER1", SerialForm::Plain)};
  DiskIdentity identity;
  EXPECT_EQ(ReadDiskSerial(sources, identity), 1);
  EXPECT_EQ(identity.serialText, "MEDIA42");
  EXPECT_EQ(identity.identityDigits, "");
}

TEST(ReadDiskSerial, StorageRouteSkipsUnusableDrives) {
  FakeDeviceIdentitySources sources;
  sources.storageResults = {StorageQueryResult{}, Descriptor("   ", SerialForm::Plain),
                            Descriptor("AB", SerialForm::Plain)};
  DiskIdentity identity;
  EXPECT_EQ(ReadDiskSerial(sources, identity), 1);
  EXPECT_EQ(identity.serialText, "AB");
}

TEST(ReadDiskSerial, LongTextsAreCutToTheirFields) {
  FakeDeviceIdentitySources sources;
  sources.storageResults = {Descriptor(std::string(5000, 'S'), SerialForm::Plain, std::string(5000, 'M'))};
  DiskIdentity identity;
  EXPECT_EQ(ReadDiskSerial(sources, identity), 1);
  EXPECT_EQ(identity.serialText, std::string(kSerialTextWidth - 1, 'S'));
  EXPECT_EQ(identity.modelText, std::string(kModelTextWidth - 1, 'M'));
  EXPECT_EQ(identity.identityDigits, Repeat("21331", 9));
}

// Legacy buffer with the given drive's identify block (little-endian words).
std::vector<uint8_t> LegacyBuffer(size_t drive, const IdentifyBlock& block, bool controllerPresent = true) {
  std::vector<uint8_t> buffer(platform::kLegacyBufferSize, 0);
  buffer[platform::kLegacyControllerFlagsOffset + drive / 2] = controllerPresent ? 1 : 0;
  buffer[platform::kLegacyDriveFlagsOffset + drive] = 1;
  for (size_t i = 0; i < block.size(); ++i) {
    buffer[platform::kLegacyBlocksOffset + drive * 512 + 2 * i] = static_cast<uint8_t>(block[i] & 0xFF);
    buffer[platform::kLegacyBlocksOffset + drive * 512 + 2 * i + 1] = static_cast<uint8_t>(block[i] >> 8);
  }
  return buffer;
}

TEST(ReadDiskSerial, LegacyRouteAttempts) {
  struct Row {
    const char* name;
    uint32_t platformId;
    std::vector<std::optional<std::vector<uint8_t>>> buffers;
    int result, attempts;
    std::string serial;
  };
  const Row rows[] = {
      {"no driver", 1, {}, 0, 10, ""},
      {"other platform id", 0, {}, 0, 10, ""},
      {"drive on absent controller", 1, {LegacyBuffer(2, MakeIdentifyBlock("AB"), false)}, 0, 10, ""},
      {"third attempt answers",
       1,
       {std::nullopt, std::nullopt, LegacyBuffer(3, MakeIdentifyBlock("LEG3"))},
       1,
       3,
       "LEG3"},
      {"answers with unusable serial", 1, {LegacyBuffer(7, MakeIdentifyBlock("--"))}, 1, 1, ""},
      {"short buffer", 1, {std::vector<uint8_t>{1, 1, 1, 1, 1}}, 1, 1, ""},
  };
  for (const Row& row : rows) {
    FakeDeviceIdentitySources sources;
    sources.platformId = row.platformId;
    sources.legacyBuffers = row.buffers;
    sources.smartBlocks = {MakeIdentifyBlock("NEVERUSED")};
    DiskIdentity identity;
    EXPECT_EQ(ReadDiskSerial(sources, identity), row.result) << row.name;
    EXPECT_EQ(sources.legacyCalls, row.attempts) << row.name;
    EXPECT_EQ(identity.serialText, row.serial) << row.name;
    EXPECT_EQ(sources.smartCalls, 0) << row.name;
  }
}

// --- Adapter address --------------------------------------------------------

TEST(ReadAdapterAddress, WalkRules) {
  const auto first = AnsweringAdapter({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
  const auto second = AnsweringAdapter({0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03});
  auto resetFails = second;
  resetFails.resetOk = false;
  auto statusFails = second;
  statusFails.statusOk = false;
  struct Row {
    const char* name;
    platform::AdapterEnumeration enumeration;
    std::string expected;
  };
  const Row rows[] = {
      {"two answer: the second", {true, {first, second}}, "abcdef010203"},
      {"second reset fails: the first", {true, {first, resetFails}}, "001122334455"},
      {"second status fails: the first", {true, {first, statusFails}}, "001122334455"},
      {"failure ends the walk", {true, {first, resetFails, second}}, "001122334455"},
      {"first fails", {true, {statusFails, first}}, ""},
      {"none", {true, {}}, ""},
      {"enumeration fails", {false, {first, second}}, ""},
  };
  for (const Row& row : rows) {
    FakeDeviceIdentitySources sources;
    sources.adapters = row.enumeration;
    EXPECT_EQ(ReadAdapterAddress(sources), row.expected) << row.name;
  }
}

// --- Whole identity ---------------------------------------------------------

TEST(AppendMachineIdentity, AppendsBothFieldsAndRecomputesEveryTime) {
  FakeDeviceIdentitySources sources;
  sources.storageResults = {Descriptor("AB", SerialForm::Plain)};
  sources.adapters = {true, {AnsweringAdapter({1, 2, 3, 4, 5, 6})}};
  const std::string expected = "&h1=16706" + Repeat("8224", 8) + "&h2=010203040506";
  for (int request = 1; request <= 3; ++request) {
    std::string form = "ac=10";
    AppendMachineIdentity(form, sources);
    EXPECT_EQ(form, "ac=10" + expected) << "request " << request;
    EXPECT_EQ(sources.storageCalls, request);  // nothing is cached
  }

  FakeDeviceIdentitySources nothing;
  std::string form;
  AppendMachineIdentity(form, nothing);
  EXPECT_EQ(form, "&h1=&h2=");
}

TEST(MachineIdentity, GarbageSourcesGiveWellFormedValues) {
  std::mt19937 random(20240607);
  const auto byte = [&random] { return static_cast<uint8_t>(random() & 0xFF); };
  const auto garbageText = [&] {
    std::string text(random() % 60, '\0');
    for (char& c : text) c = static_cast<char>(random() % 3 == 0 ? "0123456789abcdef"[random() % 16] : byte());
    return text;
  };
  for (int round = 0; round < 300; ++round) {
    FakeDeviceIdentitySources sources;
    sources.platformId = random() % 3;
    for (int i = random() % 3; i > 0; --i) {
      IdentifyBlock block;
      for (uint16_t& word : block) word = static_cast<uint16_t>(random());
      (random() % 2 ? sources.smartBlocks : sources.scsiBlocks).push_back(block);
    }
    for (int i = random() % 3; i > 0; --i) {
      StorageQueryResult drive;
      if (random() % 2)
        drive.descriptor = platform::StorageDescriptor{garbageText(), SerialForm(random() % 2), garbageText()};
      if (random() % 4 == 0) drive.mediaSerial = garbageText();
      sources.storageResults.push_back(drive);
    }
    for (int i = random() % 3; i > 0; --i) {
      std::vector<uint8_t> buffer(random() % 5000);
      for (uint8_t& b : buffer) b = byte();
      sources.legacyBuffers.push_back(buffer);
    }
    sources.adapters.ok = random() % 2;
    for (int i = random() % 3; i > 0; --i) {
      sources.adapters.adapters.push_back(
          {random() % 4 != 0, random() % 4 != 0, {byte(), byte(), byte(), byte(), byte(), byte()}});
    }

    DiskIdentity identity;
    ReadDiskSerial(sources, identity);
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_LE(identity.identityDigits.size(), 45u);
    EXPECT_EQ(identity.identityDigits.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_LE(identity.serialText.size(), kSerialTextWidth - 1);
    EXPECT_EQ(identity.serialText.find('\0'), std::string::npos);
    if (!identity.serialText.empty()) {
      EXPECT_TRUE(IsUsableSerial(identity.serialText)) << identity.serialText;
    }
    const std::string address = ReadAdapterAddress(sources);
    EXPECT_TRUE(address.empty() ||
                (address.size() == 12 && address.find_first_not_of("0123456789abcdef") == std::string::npos))
        << address;
  }
}

// An ATA disk gives the same h1 whether its identify words could be read
// (with permission) or only its sysfs serial (without).
TEST(MachineIdentity, LinuxSysfsSerialMatchesIdentifyWords) {
  const std::string serial = "      WD-WCAV1234567";
  testing_support::TempDir sys;
  std::string page = std::string("\x00\x80\x00\x14", 4) + serial;
  testing_support::WriteFile(sys / "block/sda/device/vpd_pg80", page);
  testing_support::WriteFile(sys / "block/sda/removable", "0\n");
  platform::PosixDeviceIdentitySources sysfsSources(sys.path(), sys / "dev");

  FakeDeviceIdentitySources identify;
  identify.smartBlocks = {MakeIdentifyBlock(serial)};

  DiskIdentity fromSysfs, fromWords;
  EXPECT_EQ(ReadDiskSerial(sysfsSources, fromSysfs), 1);
  EXPECT_EQ(ReadDiskSerial(identify, fromWords), 1);
  EXPECT_EQ(fromSysfs.serialText, serial);
  EXPECT_EQ(fromSysfs.identityDigits, fromWords.identityDigits);
}

TEST(MachineIdentity, RealLinuxSourcesGiveWellFormedFields) {
  platform::PosixDeviceIdentitySources sources;
  const auto start = std::chrono::steady_clock::now();
  const std::string fields = MachineIdentityFields(sources);
  const double elapsedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("machine identity: %.3f ms, %s\n", elapsedMs, fields.c_str());

  EXPECT_LT(elapsedMs, 2000.0);
  const size_t h2 = fields.find("&h2=");
  ASSERT_TRUE(fields.starts_with("&h1=") && h2 != std::string::npos) << fields;
  const std::string digits = fields.substr(4, h2 - 4);
  const std::string address = fields.substr(h2 + 4);
  EXPECT_LE(digits.size(), 45u);
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << digits;
  EXPECT_TRUE(address.empty() ||
              (address.size() == 12 && address.find_first_not_of("0123456789abcdef") == std::string::npos &&
               address != "000000000000"))
      << address;
}

}  // namespace
}  // namespace net
