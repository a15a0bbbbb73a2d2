// The settings record "cfg\ovl.cfg" that the installer shares with the
// installed client: one 2040-byte record, no header, no checksum. The
// installer fills the version and serial fields from the server's reply, the
// identity fields at finish, and keeps the user name across a
// reinstallation; every byte it does not interpret belongs to the client and
// is carried through a load and save unchanged. Bytes 500 to 1037 are stored
// in the file with the two 4-bit halves of every byte exchanged.
//
// Text fields are zero-terminated inside their width. A text stored into a
// field is cut to the field's width minus one; a text read out of a field
// stops at the field's width even when the file holds no zero byte there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/read_write_data.h"
#include "net/request_forms.h"
#include "platform/file_system.h"

namespace app {

// The record's file, relative to the install folder (the current directory
// once the folder is prepared).
inline constexpr const char* kSettingsFile = "cfg\\ovl.cfg";

inline constexpr size_t kSettingsRecordSize = 2040;

// The session's final code when the record cannot be saved.
inline constexpr int32_t kFinalSettingsRecordSave = 45;

// The range stored with the halves of every byte exchanged, inclusive.
inline constexpr size_t kSwapFirst = 500;
inline constexpr size_t kSwapLast = 1037;

// Fields the installer reads or writes: offset and width in bytes.
inline constexpr size_t kCvOffset = 505;  // client version text, "~cv="
inline constexpr size_t kCvWidth = 11;
inline constexpr size_t kCbOffset = 516;  // client build, 32-bit little-endian, "~cb="
inline constexpr size_t kCbWidth = 4;
inline constexpr size_t kCleared520Offset = 520;
inline constexpr size_t kCleared520Width = 16;
inline constexpr size_t kCleared536Offset = 536;
inline constexpr size_t kCleared536Width = 11;
inline constexpr size_t kFlagTextOffset = 547;  // "1" once a reply was applied
inline constexpr size_t kFlagTextWidth = 2;
inline constexpr size_t kCleared549Offset = 549;
inline constexpr size_t kCleared549Width = 3;
inline constexpr size_t kCleared552Offset = 552;
inline constexpr size_t kCleared552Width = 3;
inline constexpr size_t kSnOffset = 555;  // serial number, "~sn="
inline constexpr size_t kSnWidth = 41;
inline constexpr size_t kAppNameOffset = 596;
inline constexpr size_t kAppNameWidth = 31;
inline constexpr size_t kLauncherFileOffset = 627;
inline constexpr size_t kLauncherFileWidth = 31;
inline constexpr size_t kAffiliateSubOffset = 658;
inline constexpr size_t kAffiliateSubWidth = 41;
inline constexpr size_t kFlagByteOffset = 699;  // byte 1 once a reply was applied
inline constexpr size_t kLrmOffset = 700;       // "~lrm="
inline constexpr size_t kLrmWidth = 2;
inline constexpr size_t kRmpOffset = 702;  // "~rmp="
inline constexpr size_t kRmpWidth = 2;
inline constexpr size_t kClientPrefixOffset = 704;
inline constexpr size_t kClientPrefixWidth = 31;
inline constexpr size_t kAffiliateOffset = 735;
inline constexpr size_t kAffiliateWidth = 101;
inline constexpr size_t kUserNameOffset = 836;
inline constexpr size_t kUserNameWidth = 101;
inline constexpr size_t kCleared937Offset = 937;  // emptied together with the user name
inline constexpr size_t kCleared937Width = 101;

// Exchanges the two 4-bit halves of one byte; its own inverse.
constexpr unsigned char NibbleSwap(unsigned char b) {
  return static_cast<unsigned char>(((b >> 4) & 0x0F) | ((b << 4) & 0xFF));
}

// Applies NibbleSwap to bytes kSwapFirst..kSwapLast of a whole record.
void NibbleSwapRange(std::array<unsigned char, kSettingsRecordSize>& record);

// One settings record in memory, all zero until loaded. A plain local of
// each caller; not thread-safe (one thread touches the file at a time).
// Every operation blocks on file I/O.
class SettingsRecord {
 public:
  using Bytes = std::array<unsigned char, kSettingsRecordSize>;

  // `files` is not owned and must outlive the record.
  explicit SettingsRecord(platform::FileSystem& files) : data_(files) {}

  // Reads "cfg\ovl.cfg" of the current directory. A file shorter than the
  // record fills the rest with zeros. When the file is missing, empty,
  // held by a writer or unreadable, the record keeps its previous content.
  // Returns true when nothing was read.
  bool Load();
  // The same for "cfg\ovl.cfg" inside `folder`.
  bool LoadFrom(const std::string& folder);
  // Replaces "cfg\ovl.cfg" of the current directory with the whole record,
  // atomically; the record in memory stays as it is. A failed save leaves
  // the old file (or none) and answers its DataResult.
  [[nodiscard]] DataResult Save();

  // Loads, takes the version fields from the key-value `reply` ("~cv=",
  // "~cb=", "~sn=", "~lrm=", "~rmp="; a missing key gives an empty text or
  // 0), marks the reply as applied, empties the user name and the cleared
  // fields, stores `prefix` as the client prefix when given, and saves.
  // Returns the save's result.
  [[nodiscard]] DataResult ApplyServerReply(std::string_view reply, std::optional<std::string_view> prefix);
  // Loads, stores the four identity texts and saves. Returns the save's
  // result.
  [[nodiscard]] DataResult SetIdentity(std::string_view appName, std::string_view launcherFile, std::string_view affiliateSub,
                   std::string_view affiliate);
  // Stores the user name and saves, without loading first: the caller holds
  // a loaded record. Returns the save's result.
  [[nodiscard]] DataResult SetUserName(std::string_view name);

  std::string ReadUserName() const { return ReadText(kUserNameOffset, kUserNameWidth); }
  std::string GetLauncherFile() const { return ReadText(kLauncherFileOffset, kLauncherFileWidth); }
  std::string GetClientPrefix() const { return ReadText(kClientPrefixOffset, kClientPrefixWidth); }
  // The client prefix followed by `file` (e.g. prefix + "Salon.exe").
  std::string ClientProgramPath(std::string_view file) const;

  // Serial, client version and client build as the end-of-process request
  // sends them.
  net::VersionFields Version() const;
  // Appends "&sn=…&cv=…&cb=…" to the request body `request`.
  void AppendVersionFields(std::string& request) const;

  // The record as held in memory (bytes 500..1037 not exchanged).
  const Bytes& bytes() const { return record_; }

 private:
  bool LoadPath(const std::string& path);
  std::string ReadText(size_t offset, size_t width) const;
  void StoreText(size_t offset, size_t width, std::string_view text);
  void ClearText(size_t offset) { record_[offset] = 0; }
  uint32_t ReadUint32(size_t offset) const;
  void StoreUint32(size_t offset, uint32_t value);

  ReadWriteData data_;
  Bytes record_{};
  // Second buffer: the bytes as they are in the file, for reading and for
  // the exchanged copy that is written.
  Bytes fileBytes_{};
};

}  // namespace app
