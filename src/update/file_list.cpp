#include "update/file_list.h"

#include <cctype>
#include <cstdlib>

#include "net/key_value_text.h"

namespace update {

namespace {

// The value of `key` in one record: from the key to the next "~"; absent
// when the record lacks the key.
std::optional<std::string> RecordField(std::string_view record, std::string_view key) {
  if (!net::FindValue(record, key)) return std::nullopt;
  return net::GetValue(record, key);
}

}  // namespace

uint32_t FileEntry::ExpectedBytes() const {
  const std::string text = Fs();
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  uint64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > UINT32_MAX) return UINT32_MAX;  // larger than any file the list can name
  }
  return static_cast<uint32_t>(value);
}

double FileEntry::SizeAsNumber() const {
  const std::string text = Fs();
  const double value = std::strtod(text.c_str(), nullptr);
  return value > 0 ? value : 0.0;
}

std::string FileEntry::ArchiveMemberName() const {
  const std::string address = Url();
  const size_t slash = address.rfind('/');
  return slash == std::string::npos ? address : address.substr(slash + 1);
}

bool FileListComplete(std::string_view reply) {
  const size_t zero = reply.find('\0');
  if (zero != std::string_view::npos) reply = reply.substr(0, zero);
  if (reply.find("~fl=") == std::string_view::npos) return true;
  return net::HasCompleteList(reply);
}

ParsedFileList ParseFileList(std::string& reply) {
  ParsedFileList list;
  net::ForEachListItem(reply, [&list](std::string_view record) {
    FileEntry entry;
    entry.fn = RecordField(record, "~fn=");
    entry.fo = RecordField(record, "~fo=");
    entry.rd = RecordField(record, "~rd=");
    entry.fs = RecordField(record, "~fs=");
    entry.url = RecordField(record, "~url=");
    list.totalBytes += entry.SizeAsNumber();
    list.entries.push_back(std::move(entry));
  });
  return list;
}

bool StaysInside(std::string_view path) {
  if (path.empty()) return true;
  if (path[0] == '/' || path[0] == '\\') return false;                // absolute or a network share
  if (path.size() >= 2 && path[1] == ':') return false;               // a drive
  if (path.find('\0') != std::string_view::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace update
