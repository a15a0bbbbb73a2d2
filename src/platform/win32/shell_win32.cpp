#include "platform/win32/shell_win32.h"

#include <functional>

#include "platform/path.h"
#include "platform/win32/win32_api.h"

#include <shlobj.h>

namespace platform {

namespace {

struct Entry {
  std::string name;
  DWORD attributes = 0;
  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

// Keeps the first failure of a walk and goes on.
class FirstFailure {
 public:
  void Note(DWORD code) {
    if (code_ == 0 && code != 0) code_ = code;
  }
  void NoteLast() { Note(GetLastError()); }
  int Result() const {
    SetLastError(code_);
    return static_cast<int>(code_);
  }

 private:
  DWORD code_ = 0;
};

// The entries of `folder` without "." and "..". False with the last error
// set when the folder cannot be listed.
bool ListFolder(const std::string& folder, std::vector<Entry>& entries) {
  WIN32_FIND_DATAA data;
  const HANDLE find = FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty drive root
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") entries.push_back({name, data.dwFileAttributes});
  } while (FindNextFileA(find, &data));
  const DWORD code = GetLastError();
  FindClose(find);
  SetLastError(code);
  return code == ERROR_NO_MORE_FILES;
}

void ClearReadOnly(const std::string& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

void DeleteEntry(const std::string& path, const Entry& entry, FirstFailure& failure);

void DeleteContents(const std::string& folder, FirstFailure& failure) {
  std::vector<Entry> entries;
  if (!ListFolder(folder, entries)) failure.NoteLast();
  for (const Entry& entry : entries) DeleteEntry(JoinPath(folder, entry.name), entry, failure);
}

void DeleteEntry(const std::string& path, const Entry& entry, FirstFailure& failure) {
  ClearReadOnly(path, entry.attributes);
  if (!entry.IsFolder()) {
    if (!DeleteFileA(path.c_str())) failure.NoteLast();
    return;
  }
  // A linked folder goes as a link; its target is not entered.
  if (!entry.IsLink()) DeleteContents(path, failure);
  if (!RemoveDirectoryA(path.c_str())) failure.NoteLast();
}

// Makes `folder` unless it is a folder already.
bool EnsureFolder(const std::string& folder) {
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  return CreateDirectoryA(folder.c_str(), nullptr) != 0;
}

using FileStep = std::function<bool(const std::string& from, const std::string& to)>;

// Walks folder `from` into folder `to`, making folders and handing every
// file to `step`. With `removeEmptied` set, each source folder is removed
// once the walk has emptied it.
void Transfer(const std::string& from, const std::string& to, const FileStep& step, bool removeEmptied,
              FirstFailure& failure) {
  if (!EnsureFolder(to)) return failure.NoteLast();
  std::vector<Entry> entries;
  if (!ListFolder(from, entries)) failure.NoteLast();
  for (const Entry& entry : entries) {
    const std::string source = JoinPath(from, entry.name);
    const std::string target = JoinPath(to, entry.name);
    if (entry.IsLink()) {
      failure.Note(ERROR_NOT_SUPPORTED);
    } else if (entry.IsFolder()) {
      Transfer(source, target, step, removeEmptied, failure);
      if (removeEmptied) RemoveDirectoryA(source.c_str());
    } else if (!step(source, target)) {
      const DWORD code = GetLastError();
      const DWORD targetAttributes = GetFileAttributesA(target.c_str());
      // A read-only target is replaced as any other.
      if (code == ERROR_ACCESS_DENIED && targetAttributes != INVALID_FILE_ATTRIBUTES &&
          (targetAttributes & FILE_ATTRIBUTE_READONLY) && !(targetAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ClearReadOnly(target, targetAttributes);
        if (step(source, target)) continue;
      }
      failure.Note(code);
    }
  }
}

int TransferTree(const std::string& from, const std::string& to, const FileStep& step, bool removeEmptied) {
  FirstFailure failure;
  const DWORD attributes = GetFileAttributesA(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    failure.NoteLast();
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    failure.Note(ERROR_DIRECTORY);
  } else {
    Transfer(from, to, step, removeEmptied, failure);
  }
  return failure.Result();
}

// Windows keeps a folder that is a process's current directory: when the
// current directory lies in the tree `path`, it moves to the tree's parent.
void LeaveTree(const std::string& path) {
  char current[MAX_PATH + 1] = {};
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
  char full[MAX_PATH + 1] = {};
  if (length == 0 || GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr) == 0) return;
  const std::string tree = full;
  const std::string here(current, length);
  const bool inside = here.size() >= tree.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, here.c_str(),
                                                                    static_cast<int>(tree.size()), tree.c_str(),
                                                                    static_cast<int>(tree.size())) == CSTR_EQUAL &&
                      (here.size() == tree.size() || here[tree.size()] == '\\');
  if (inside) SetCurrentDirectoryA(DirectoryOf(tree).c_str());
}

}  // namespace

std::string Win32Shell::SpecialFolderPath(SpecialFolder folder) {
  char path[MAX_PATH + 1] = {};
  if (FAILED(SHGetFolderPathA(nullptr, static_cast<int>(folder), nullptr, SHGFP_TYPE_CURRENT, path))) {
    // The program-files folder is always somewhere: where a system left
    // it, unless the system says otherwise.
    return folder == SpecialFolder::ProgramFiles ? "C:\\Program Files" : std::string();
  }
  std::string out = path;
  if (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

int Win32Shell::DeleteTree(const std::string& path, bool contentsOnly) {
  FirstFailure failure;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    failure.NoteLast();
  } else if (contentsOnly) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      DeleteContents(path, failure);
    } else {
      failure.Note(ERROR_DIRECTORY);
    }
  } else {
    LeaveTree(path);
    DeleteEntry(path, {std::string(), attributes}, failure);
  }
  return failure.Result();
}

int Win32Shell::CopyTree(const std::string& from, const std::string& to) {
  return TransferTree(
      from, to, [](const std::string& source, const std::string& target) {
        return CopyFileA(source.c_str(), target.c_str(), FALSE) != 0;
      },
      false);
}

int Win32Shell::MoveTree(const std::string& from, const std::string& to) {
  return TransferTree(
      from, to, [](const std::string& source, const std::string& target) {
        return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
      },
      true);
}

}  // namespace platform
