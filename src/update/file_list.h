// The file list of a run: the records of the server's reply that say, for
// each file of the client, what to do with it, where it goes, how large it
// is and where to fetch it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace update {

// One record of the list. A field the record does not carry is absent and
// reads as empty.
struct FileEntry {
  std::optional<std::string> fn;   // file name, also shown to the user
  std::optional<std::string> fo;   // operation; its first letter counts
  std::optional<std::string> rd;   // folder under the installation or extract folder
  std::optional<std::string> fs;   // size in bytes, decimal
  std::optional<std::string> url;  // address to fetch the file from

  std::string Fn() const { return fn.value_or(""); }
  std::string Rd() const { return rd.value_or(""); }
  std::string Fs() const { return fs.value_or(""); }
  std::string Url() const { return url.value_or(""); }
  // The operation letter: 'X', 'W', 'R', 'D', or 0 for none.
  char Operation() const { return fo && !fo->empty() ? (*fo)[0] : 0; }
  // The listed size read as a decimal integer (0 when missing or no digits).
  uint32_t ExpectedBytes() const;
  // The listed size read as a decimal number, for the run's total.
  double SizeAsNumber() const;
  // The file's name inside an extracted archive: the text after the last
  // "/" of the address.
  std::string ArchiveMemberName() const;
};

struct ParsedFileList {
  std::vector<FileEntry> entries;
  double totalBytes = 0.0;
};

// The file-list section of a reply is complete when it has "~fl=", its
// opening "|" and the closing "||". A reply without "~fl=" has an empty
// list, which is complete; a list that is cut short is not.
bool FileListComplete(std::string_view reply);

// Splits the list of `reply` into its records, in list order. Writes a
// zero byte after each record, so that afterwards the reply as a text ends
// where its first record ends: fields of the reply that stand after "~fl="
// are no longer seen by later lookups. There is no limit on the number of
// records.
ParsedFileList ParseFileList(std::string& reply);

// Why a complete list cannot be applied.
enum class ListFault {
  None = 0,
  NoFiles = 1,     // an installation's list names no file for the installation ("W")
  NamedTwice = 2,  // two entries put a file at the same place of the staging folder
};

struct ListCheck {
  ListFault fault = ListFault::None;
  std::string name;  // NamedTwice: the place named twice, as the later entry names it
};

// Checks a list before anything of it is fetched. A list that installs
// (`installs`) must name at least one "W" file: without one the
// installation would be empty. No two "W" or "R" entries may name the same
// place in the staging folder (a "W" file at its folder and name, an "R"
// program at its name): the later would replace the earlier, or delete it
// after it ran. Places are compared as Windows compares them, whatever the
// system: letter case ignored, "/" and "\" alike, empty and "." parts
// skipped.
ListCheck CheckFileList(const std::vector<FileEntry>& entries, bool installs);

// True when `path` (a name or a folder of a record, "/" or "\" separated)
// stays inside the folder it is joined to on Linux and on Windows alike: not
// absolute, no share or device prefix, no ":" (drive or stream), no control
// character, no part that is ".." or that ends in a dot or a space (Windows
// trims those), no device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any
// letter case, with or without an extension). An empty path stays inside.
bool StaysInside(std::string_view path);

// True when the first part of `path` is one of the run's work folders,
// "Update" or "Extract" (any letter case): a file there would be lost with
// the work folder or collide with it.
bool InWorkFolder(std::string_view path);

// The parts of a record's folder, "/" and "\" both separating them; empty
// parts are left out.
std::vector<std::string> FolderParts(const std::string& rd);

}  // namespace update
