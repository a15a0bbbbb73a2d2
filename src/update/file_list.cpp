#include "update/file_list.h"

#include <cctype>
#include <cstdlib>
#include <set>

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

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// A name that Windows opens as a device whatever its folder or extension
// ("nul.txt", "COM1.log", "lpt9 .x").
bool IsDeviceName(std::string_view part) {
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (EqualNoCase(base, device)) return true;
  }
  if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
    return EqualNoCase(base.substr(0, 3), "COM") || EqualNoCase(base.substr(0, 3), "LPT");
  }
  return false;
}

// One part between separators that stays where it is named on both
// systems. Windows trims trailing dots and spaces (".. " is ".."), reads
// ":" as a drive or a stream, and opens device names anywhere.
bool PartStaysInside(std::string_view part) {
  if (part.empty() || part == ".") return true;
  if (part.back() == '.' || part.back() == ' ') return false;
  if (part.find(':') != std::string_view::npos) return false;
  return !IsDeviceName(part);
}

// Calls `visit` with each part of `path` between "/" and "\" separators.
template <typename Visit>
bool AllParts(std::string_view path, Visit visit) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    if (!visit(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// The place of `entry` in the staging folder, in the form that compares as
// Windows compares names; empty for entries that put nothing there.
std::string StagingPlace(const FileEntry& entry) {
  const char operation = entry.Operation();
  if (operation != 'W' && operation != 'R') return {};
  std::string place;
  auto add = [&place](std::string_view part) {
    if (part.empty() || part == ".") return true;
    if (!place.empty()) place.push_back('/');
    for (char c : part) place.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return true;
  };
  const std::string rd = entry.Rd();
  const std::string fn = entry.Fn();
  if (operation == 'W') AllParts(rd, add);
  AllParts(fn, add);
  return place;
}

}  // namespace

ListCheck CheckFileList(const std::vector<FileEntry>& entries, bool installs) {
  ListCheck check;
  std::set<std::string> places;
  bool writes = false;
  for (const FileEntry& entry : entries) {
    writes = writes || entry.Operation() == 'W';
    const std::string place = StagingPlace(entry);
    if (place.empty() || places.insert(place).second) continue;
    check.fault = ListFault::NamedTwice;
    check.name = entry.Operation() == 'W' && !entry.Rd().empty() ? entry.Rd() + "/" + entry.Fn() : entry.Fn();
    return check;
  }
  if (installs && !writes) check.fault = ListFault::NoFiles;
  return check;
}

bool StaysInside(std::string_view path) {
  if (path.empty()) return true;
  // Absolute, a share ("\\server"), a device path ("\\?\", "\\.\").
  if (path[0] == '/' || path[0] == '\\') return false;
  for (unsigned char c : path) {
    if (c < 0x20 || c == 0x7F) return false;  // control characters, the zero byte included
  }
  return AllParts(path, PartStaysInside);
}

bool InWorkFolder(std::string_view path) {
  bool first = true;
  bool inside = false;
  AllParts(path, [&](std::string_view part) {
    if (part.empty() || part == ".") return true;
    inside = first && (EqualNoCase(part, "Update") || EqualNoCase(part, "Extract"));
    first = false;
    return false;
  });
  return inside;
}

std::vector<std::string> FolderParts(const std::string& rd) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : rd) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

}  // namespace update
