#include "app/settings_record.h"

#include <algorithm>
#include <cstring>

#include "net/key_value_text.h"
#include "platform/path.h"

namespace app {

void NibbleSwapRange(std::array<unsigned char, kSettingsRecordSize>& record) {
  for (size_t i = kSwapFirst; i <= kSwapLast; ++i) record[i] = NibbleSwap(record[i]);
}

bool SettingsRecord::Load() { return LoadPath(platform::NativePath(kSettingsFile)); }

bool SettingsRecord::LoadFrom(const std::string& folder) {
  return LoadPath(platform::JoinPath(folder, kSettingsFile));
}

bool SettingsRecord::LoadPath(const std::string& path) {
  size_t received = 0;
  const DataResult result = data_.ReadData(path, fileBytes_.data(), fileBytes_.size(), &received);
  // A file that cannot be read is not an error for the caller: the record
  // keeps what it holds and the next save writes it out whole.
  if (result != DataResult::Ok) return true;
  record_ = fileBytes_;
  NibbleSwapRange(record_);
  return received == 0;
}

DataResult SettingsRecord::Save() {
  // A "cfg" that is a link would put the record anywhere.
  if (data_.Files().IsLink(platform::NativePath(platform::DirectoryOf(kSettingsFile)))) return DataResult::OpenFailed;
  fileBytes_ = record_;
  NibbleSwapRange(fileBytes_);
  return data_.WriteData(platform::NativePath(kSettingsFile), fileBytes_.data(), fileBytes_.size());
}

DataResult SettingsRecord::ApplyServerReply(std::string_view reply, std::optional<std::string_view> prefix) {
  Load();
  StoreText(kCvOffset, kCvWidth, net::GetValue(reply, "~cv="));
  StoreUint32(kCbOffset, static_cast<uint32_t>(net::GetIntValue(reply, "~cb=")));
  StoreText(kSnOffset, kSnWidth, net::GetValue(reply, "~sn="));
  StoreText(kFlagTextOffset, kFlagTextWidth, "1");
  record_[kFlagByteOffset] = 1;
  StoreText(kLrmOffset, kLrmWidth, net::GetValue(reply, "~lrm="));
  StoreText(kRmpOffset, kRmpWidth, net::GetValue(reply, "~rmp="));
  // A fresh file set starts without a signed-in user.
  ClearText(kUserNameOffset);
  ClearText(kCleared937Offset);
  ClearText(kCleared552Offset);
  ClearText(kCleared549Offset);
  ClearText(kCleared520Offset);
  ClearText(kCleared536Offset);
  if (prefix) StoreText(kClientPrefixOffset, kClientPrefixWidth, *prefix);
  return Save();
}

DataResult SettingsRecord::SetIdentity(std::string_view appName, std::string_view launcherFile,
                                 std::string_view affiliateSub, std::string_view affiliate) {
  Load();
  StoreText(kAppNameOffset, kAppNameWidth, appName);
  StoreText(kLauncherFileOffset, kLauncherFileWidth, launcherFile);
  StoreText(kAffiliateSubOffset, kAffiliateSubWidth, affiliateSub);
  StoreText(kAffiliateOffset, kAffiliateWidth, affiliate);
  return Save();
}

DataResult SettingsRecord::SetUserName(std::string_view name) {
  StoreText(kUserNameOffset, kUserNameWidth, name);
  return Save();
}

std::string SettingsRecord::ClientProgramPath(std::string_view file) const {
  return GetClientPrefix() + std::string(file);
}

net::VersionFields SettingsRecord::Version() const {
  net::VersionFields fields;
  fields.serial = ReadText(kSnOffset, kSnWidth);
  fields.clientVersion = ReadText(kCvOffset, kCvWidth);
  fields.clientBuild = ReadUint32(kCbOffset);
  return fields;
}

void SettingsRecord::AppendVersionFields(std::string& request) const { net::AddUpdaterData(request, Version()); }

std::string SettingsRecord::ReadText(size_t offset, size_t width) const {
  const unsigned char* field = record_.data() + offset;
  // A corrupt file may hold no zero byte in a field: the width bounds it.
  const size_t length = static_cast<size_t>(std::find(field, field + width, 0) - field);
  return std::string(reinterpret_cast<const char*>(field), length);
}

void SettingsRecord::StoreText(size_t offset, size_t width, std::string_view text) {
  const size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  // Cut to leave room for the terminator: a long value never reaches the
  // next field. Bytes after the terminator stay as they were.
  text = text.substr(0, width - 1);
  std::memcpy(record_.data() + offset, text.data(), text.size());
  record_[offset + text.size()] = 0;
}

uint32_t SettingsRecord::ReadUint32(size_t offset) const {
  uint32_t value = 0;
  for (size_t i = 0; i < kCbWidth; ++i) value |= static_cast<uint32_t>(record_[offset + i]) << (8 * i);
  return value;
}

void SettingsRecord::StoreUint32(size_t offset, uint32_t value) {
  for (size_t i = 0; i < kCbWidth; ++i) record_[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace app
