#include "platform/win32/win32_file_system.h"

#include "platform/win32/system_error_win32.h"
#include "platform/win32/win32_api.h"

namespace platform {

namespace {

class Win32File : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

  bool Read(void* buffer, size_t size, size_t* received) override {
    DWORD got = 0;
    const DWORD ask = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!ReadFile(handle_, buffer, ask, &got, nullptr)) return false;
    *received = got;
    return true;
  }

  bool Write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD ask = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(handle_, p, ask, &written, nullptr)) return false;
      if (written == 0) {
        SetLastError(ERROR_DISK_FULL);
        return false;
      }
      p += written;
      size -= written;
    }
    return true;
  }

  bool Flush() override { return FlushFileBuffers(handle_) != FALSE; }

  int64_t Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size)) return -1;
    return size.QuadPart;
  }

 private:
  HANDLE handle_;
};

std::unique_ptr<File> Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                           std::string* error) {
  const HANDLE handle =
      CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const int code = LastErrorCode();
    if (error) *error = SystemErrorText(code);
    SetLastErrorCode(code);
    return nullptr;
  }
  return std::make_unique<Win32File>(handle);
}

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

// Clears the read-only attribute of `path`; true when there was one to clear.
bool MakeWritable(const std::string& path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
  return SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace

std::unique_ptr<File> Win32FileSystem::OpenForRead(const std::string& path, std::string* error) {
  return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, error);
}

std::unique_ptr<File> Win32FileSystem::CreateForWrite(const std::string& path, std::string* error) {
  return Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS, error);
}

bool Win32FileSystem::Exists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool Win32FileSystem::IsDirectory(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::IsLink(const std::string& path) {
  // Symbolic links and junctions are reparse points.
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool Win32FileSystem::IsEmptyDirectory(const std::string& path) {
  if (!IsDirectory(path)) return false;
  WIN32_FIND_DATAA entry;
  const std::string pattern = path + (path.empty() || path.back() == '\\' ? "*" : "\\*");
  const HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool empty = true;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") empty = false;
  } while (empty && FindNextFileA(find, &entry));
  FindClose(find);
  return empty;
}

bool Win32FileSystem::ListFolder(const std::string& path, std::vector<std::string>* names) {
  WIN32_FIND_DATAA entry;
  const std::string pattern = path + (path.empty() || path.back() == '\\' ? "*" : "\\*");
  const HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileA(find, &entry));
  const DWORD code = GetLastError();
  FindClose(find);
  SetLastError(code == ERROR_NO_MORE_FILES ? 0 : code);
  return code == ERROR_NO_MORE_FILES;
}

bool Win32FileSystem::MakeDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr); }

bool Win32FileSystem::ChangeCurrentDirectory(const std::string& path) { return SetCurrentDirectoryA(path.c_str()); }

std::string Win32FileSystem::CurrentDirectory() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
  if (length == 0 || length > MAX_PATH) return {};
  return std::string(path, length);
}

bool Win32FileSystem::RemoveFile(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  const DWORD code = GetLastError();
  if (code == ERROR_ACCESS_DENIED && MakeWritable(path) && DeleteFileA(path.c_str())) return true;
  SetLastError(code);
  return false;
}

int64_t Win32FileSystem::FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32FileSystem::CopyOneFile(const std::string& from, const std::string& to) {
  if (CopyFileA(from.c_str(), to.c_str(), FALSE)) return true;
  const DWORD code = GetLastError();
  if (code == ERROR_ACCESS_DENIED && MakeWritable(to) && CopyFileA(from.c_str(), to.c_str(), FALSE)) return true;
  SetLastError(code);
  return false;
}

bool Win32FileSystem::MoveOneFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

}  // namespace platform
