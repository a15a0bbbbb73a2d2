#include "client_set.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "reply_set.h"

namespace refserver {
namespace {

namespace fs = std::filesystem;

struct Entry {
  std::string path;  // relative, "/" between folders
  char operation = 'W';
  uintmax_t size = 0;
};

std::string Record(const Entry& entry) {
  const size_t slash = entry.path.rfind('/');
  const std::string name = slash == std::string::npos ? entry.path : entry.path.substr(slash + 1);
  std::string folder = slash == std::string::npos ? std::string() : entry.path.substr(0, slash);
  std::replace(folder.begin(), folder.end(), '/', '\\');
  return "|~fn=" + name + "~fo=" + std::string(1, entry.operation) + "~rd=" + folder +
         "~fs=" + std::to_string(entry.size) + "~url={base}/files/client/" + entry.path;
}

// Reads the operations file into (letter, path) pairs in file order.
bool ReadOperations(const fs::path& file, std::vector<std::pair<char, std::string>>& operations, std::string& error) {
  std::ifstream in(file);
  if (!in) return true;  // no operations file: every file is written
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const bool known = line.size() > 2 && line[1] == ' ' && std::string("XRD").find(line[0]) != std::string::npos;
    if (!known) {
      error = file.string() + ":" + std::to_string(number) + ": expected \"X|R|D <path>\"";
      return false;
    }
    operations.emplace_back(line[0], line.substr(2));
  }
  return true;
}

}  // namespace

bool BuildClientSetReply(const std::string& dir, std::string& reply, std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    error = "Failed to read client set " + dir + ": not a folder";
    return false;
  }
  std::vector<std::pair<char, std::string>> operations;
  if (!ReadOperations(fs::path(dir) / kOperationsFile, operations, error)) return false;

  std::map<std::string, Entry> files;  // by path, so in byte order
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string path = fs::relative(it->path(), dir, ec).generic_string();
    if (path == kOperationsFile) continue;
    files[path] = Entry{path, 'W', it->file_size(ec)};
  }
  if (ec) {
    error = "Failed to read client set " + dir + ": " + ec.message();
    return false;
  }

  std::vector<Entry> archives, deletions, programs;
  for (const auto& [letter, path] : operations) {
    if (letter == 'D') {
      deletions.push_back(Entry{path, 'D', 0});
      continue;
    }
    const auto file = files.find(path);
    if (file == files.end()) {
      error = "Failed to read client set " + dir + ": " + std::string(1, letter) + " names " + path +
              ", which is not in the folder";
      return false;
    }
    file->second.operation = letter;
    (letter == 'X' ? archives : programs).push_back(file->second);
  }

  std::string records;
  for (const Entry& entry : archives) records += Record(entry);
  for (const auto& [path, entry] : files) {
    if (entry.operation == 'W') records += Record(entry);
  }
  for (const Entry& entry : deletions) records += Record(entry);
  for (const Entry& entry : programs) records += Record(entry);
  reply = FileListReply(records);
  return true;
}

}  // namespace refserver
