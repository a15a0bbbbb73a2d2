#include "net/machine_identity.h"

#include <algorithm>
#include <vector>

#include "net/request_forms.h"

namespace net {
namespace {

// Word positions of the ATA identify block.
constexpr size_t kSerialFirstWord = 10;
constexpr size_t kSerialLastWord = 19;
constexpr size_t kSerialDigitsLastWord = 18;  // the last serial word is not part of h1
constexpr size_t kModelFirstWord = 27;
constexpr size_t kModelLastWord = 46;

constexpr size_t kSerialDigitWords = 9;
constexpr uint16_t kTwoSpaces = 0x2020;
constexpr int kLegacyAttempts = 10;

// Stores `value` into a text field of `width` bytes (terminator included),
// cutting what does not fit.
void StoreCut(std::string& field, std::string_view value, size_t width) { field.assign(value.substr(0, width - 1)); }

// The text before the first zero byte, as a zero-terminated field holds it.
std::string_view UpToZero(std::string_view text) {
  const size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

bool IsAsciiAlnum(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// The value of a hex digit, or -1 for any other character.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The byte of one hex pair. A pair with a character that is not a hex digit
// counts as 0, so the letters of a serial that a descriptor hands as plain
// text ("WD" of "WD12") are dropped rather than read as stray digits.
unsigned HexPairValue(char high, char low) {
  const int h = HexDigitValue(high);
  const int l = HexDigitValue(low);
  return h < 0 || l < 0 ? 0 : static_cast<unsigned>(h << 4 | l);
}

void AppendDecimal(std::string& out, unsigned value) { out += std::to_string(value); }

// The data check of the SCSI-miniport route: the low byte of word 27 (the
// model's second character) is zero when the controller returned an empty
// block.
bool ScsiBlockHoldsData(const platform::IdentifyBlock& block) { return (block[kModelFirstWord] & 0xFF) != 0; }

// Each identify route answers when at least one block was handed to the
// acceptance step, whether or not that block's serial was usable.
int RunSmartRoute(platform::DeviceIdentitySources& sources, DiskIdentity& identity) {
  int result = 0;
  for (const platform::IdentifyBlock& block : sources.SmartIdentifyBlocks()) {
    AcceptIdentifyBlock(block, identity);
    result = 1;
  }
  return result;
}

int RunScsiMiniportRoute(platform::DeviceIdentitySources& sources, DiskIdentity& identity) {
  int result = 0;
  for (const platform::IdentifyBlock& block : sources.ScsiMiniportIdentifyBlocks()) {
    if (!ScsiBlockHoldsData(block)) continue;
    AcceptIdentifyBlock(block, identity);
    result = 1;
  }
  return result;
}

// The storage-query route answers only when it accepted a serial. A serial
// found by the media query alone leaves h1 empty, and, being accepted, keeps
// later drives from supplying one.
int RunStorageQueryRoute(platform::DeviceIdentitySources& sources, DiskIdentity& identity) {
  int result = 0;
  for (const platform::StorageQueryResult& drive : sources.StorageQueryResults()) {
    if (drive.descriptor) {
      const platform::StorageDescriptor& descriptor = *drive.descriptor;
      const std::string candidate = descriptor.serialForm == platform::SerialForm::HexPairs
                                        ? HexPairsToText(descriptor.serial)
                                        : std::string(UpToZero(descriptor.serial));
      if (identity.serialText.empty() && IsUsableSerial(candidate)) {
        StoreCut(identity.serialText, candidate, kSerialTextWidth);
        StoreCut(identity.modelText, UpToZero(descriptor.productId), kModelTextWidth);
        StoreCut(identity.identityDigits, SerialToDigits(identity.serialText), kIdentityDigitsWidth);
        result = 1;
      }
    }
    if (drive.mediaSerial) {
      const std::string_view candidate = UpToZero(*drive.mediaSerial);
      if (identity.serialText.empty() && IsUsableSerial(candidate)) {
        StoreCut(identity.serialText, candidate, kSerialTextWidth);
        result = 1;
      }
    }
  }
  return result;
}

platform::IdentifyBlock LittleEndianBlock(const std::vector<uint8_t>& buffer, size_t offset) {
  platform::IdentifyBlock block{};
  for (size_t i = 0; i < block.size(); ++i) {
    const size_t at = offset + 2 * i;
    const unsigned low = at < buffer.size() ? buffer[at] : 0;
    const unsigned high = at + 1 < buffer.size() ? buffer[at + 1] : 0;
    block[i] = static_cast<uint16_t>(high << 8 | low);
  }
  return block;
}

// One attempt of the legacy route: every drive that the driver marks present
// on a present controller offers its block. A driver that cannot be reached
// leaves the buffer zeroed, so nothing is present.
int RunLegacyRoute(platform::DeviceIdentitySources& sources, DiskIdentity& identity) {
  std::vector<uint8_t> buffer = sources.LegacyIdentifyBuffer().value_or(std::vector<uint8_t>{});
  buffer.resize(platform::kLegacyBufferSize, 0);
  int result = 0;
  for (size_t drive = 0; drive < platform::kLegacyDriveCount; ++drive) {
    const bool drivePresent = buffer[platform::kLegacyDriveFlagsOffset + drive] != 0;
    const bool controllerPresent = buffer[platform::kLegacyControllerFlagsOffset + drive / 2] != 0;
    if (!drivePresent || !controllerPresent) continue;
    AcceptIdentifyBlock(LittleEndianBlock(buffer, platform::kLegacyBlocksOffset + drive * platform::kLegacyBlockSize),
                        identity);
    result = 1;
  }
  return result;
}

std::string AddressToHex(const std::array<uint8_t, 6>& address) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : address) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace

std::string WordsToText(std::span<const uint16_t> words, size_t first, size_t last) {
  std::string text;
  for (size_t i = first; i <= last && i < words.size(); ++i) {
    text += static_cast<char>(words[i] >> 8);
    text += static_cast<char>(words[i] & 0xFF);
  }
  text.resize(UpToZero(text).size());
  while (text.size() > 1 && text.back() == ' ') text.pop_back();
  return text;
}

std::string HexPairsToText(std::string_view hex) {
  hex = UpToZero(hex);
  const auto at = [hex](size_t i) { return i < hex.size() ? hex[i] : '0'; };
  const auto pair = [&at](size_t i) { return HexPairValue(at(i), at(i + 1)); };
  std::string text;
  for (size_t group = 0; group < hex.size(); group += 4) {
    for (unsigned byte : {pair(group + 2), pair(group)}) {
      if (byte != 0) text += static_cast<char>(byte);
    }
  }
  return text;
}

std::string SerialToDigits(std::string_view serial) {
  std::string digits;
  for (size_t i = 0; i < kSerialDigitWords; ++i) {
    unsigned word = kTwoSpaces;
    if (2 * i < serial.size()) {
      const unsigned high = static_cast<unsigned char>(serial[2 * i]);
      const unsigned low = 2 * i + 1 < serial.size() ? static_cast<unsigned char>(serial[2 * i + 1]) : 0x20;
      word = high << 8 | low;
    }
    AppendDecimal(digits, word);
  }
  return digits;
}

bool IsUsableSerial(std::string_view candidate) {
  const bool firstUsable = !candidate.empty() && IsAsciiAlnum(candidate[0]);
  const bool twentiethUsable = candidate.size() > 19 && IsAsciiAlnum(candidate[19]);
  return firstUsable || twentiethUsable;
}

bool AcceptIdentifyBlock(const platform::IdentifyBlock& block, DiskIdentity& identity) {
  const std::string candidate = WordsToText(block, kSerialFirstWord, kSerialLastWord);
  if (!identity.serialText.empty()) return false;
  if (!IsUsableSerial(candidate)) return false;

  StoreCut(identity.serialText, candidate, kSerialTextWidth);
  std::string digits;
  for (size_t i = kSerialFirstWord; i <= kSerialDigitsLastWord; ++i) AppendDecimal(digits, block[i]);
  StoreCut(identity.identityDigits, digits, kIdentityDigitsWidth);
  StoreCut(identity.modelText, WordsToText(block, kModelFirstWord, kModelLastWord), kModelTextWidth);
  return true;
}

int ReadDiskSerial(platform::DeviceIdentitySources& sources, DiskIdentity& identity) {
  identity.serialText.clear();
  if (sources.PlatformId() == platform::kPlatformIdDrives) {
    if (RunSmartRoute(sources, identity) == 1) return 1;
    if (RunScsiMiniportRoute(sources, identity) == 1) return 1;
    return RunStorageQueryRoute(sources, identity);
  }
  for (int attempt = 0; attempt < kLegacyAttempts; ++attempt) {
    if (RunLegacyRoute(sources, identity) == 1 || !identity.serialText.empty()) return 1;
  }
  return 0;
}

std::string ReadAdapterAddress(platform::DeviceIdentitySources& sources) {
  const platform::AdapterEnumeration enumeration = sources.AdapterStatuses();
  std::string address;
  if (!enumeration.ok) return address;
  for (const platform::AdapterStatus& adapter : enumeration.adapters) {
    if (!adapter.resetOk || !adapter.statusOk) break;
    address = AddressToHex(adapter.address);
  }
  return address;
}

std::string MachineIdentityFields(platform::DeviceIdentitySources& sources) {
  DiskIdentity identity;
  (void)ReadDiskSerial(sources, identity);  // only the fields matter
  const std::string address = ReadAdapterAddress(sources);
  return "&h1=" + FormEncode(identity.identityDigits) + "&h2=" + FormEncode(address);
}

void AppendMachineIdentity(std::string& request, platform::DeviceIdentitySources& sources) {
  request += MachineIdentityFields(sources);
}

}  // namespace net
