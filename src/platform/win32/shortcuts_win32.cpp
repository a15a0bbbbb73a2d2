#include "platform/win32/shortcuts_win32.h"

#include <vector>

#include "platform/win32/win32_api.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

namespace platform {

namespace {

// The Win32 error an HRESULT stands for; other failures count as a failed
// write.
DWORD ErrorOf(HRESULT result) {
  return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : ERROR_WRITE_FAULT;
}

// `text` in UTF-16, read in the system's ANSI code page.
std::vector<wchar_t> Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::vector<wchar_t> out(length > 0 ? static_cast<size_t>(length) : 1, L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), length);
  return out;
}

// Fills a link and saves it to `path`. Returns S_OK or the failure.
HRESULT SaveLink(const std::string& path, const std::string& target, const std::string& workingFolder,
                 const std::string& description, const std::optional<std::string>& iconPath) {
  IShellLinkA* link = nullptr;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    reinterpret_cast<void**>(&link));
  if (FAILED(result)) return result;
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(workingFolder.c_str());
  link->SetDescription(description.c_str());
  if (iconPath) link->SetIconLocation(iconPath->c_str(), 0);
  IPersistFile* file = nullptr;
  result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(result)) {
    result = file->Save(Wide(path).data(), TRUE);
    file->Release();
  }
  link->Release();
  return result;
}

}  // namespace

int Win32Shortcuts::CreateShortcut(const std::string& linkPath, const std::string& target,
                                   const std::string& workingFolder, const std::string& description,
                                   const std::optional<std::string>& iconPath) {
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::string temporary = linkPath + ".new";
  DWORD error = 0;
  const HRESULT saved = SaveLink(temporary, target, workingFolder, description, iconPath);
  if (FAILED(saved)) {
    error = ErrorOf(saved);
  } else if (!MoveFileExA(temporary.c_str(), linkPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != 0) DeleteFileA(temporary.c_str());
  if (SUCCEEDED(initialised)) CoUninitialize();
  SetLastError(error);
  return error == 0 ? 0 : 1;
}

}  // namespace platform
