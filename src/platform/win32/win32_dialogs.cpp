#include "platform/win32/win32_dialogs.h"

#include "platform/win32/win32_api.h"

#include <objbase.h>
#include <shlobj.h>

namespace platform {

BoxAnswer Win32Dialogs::ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) {
  UINT type = MB_OK;
  if (style == BoxStyle::Error) type = MB_OK | MB_ICONERROR;
  if (style == BoxStyle::YesNo) type = MB_YESNO | MB_ICONQUESTION;
  const int answer = MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), type | MB_SETFOREGROUND);
  if (answer == IDYES) return BoxAnswer::Yes;
  if (answer == IDNO) return BoxAnswer::No;
  return BoxAnswer::Ok;
}

std::optional<std::string> Win32Dialogs::BrowseForFolder(const std::string& title) {
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  BROWSEINFOA browse{};
  browse.hwndOwner = GetActiveWindow();
  browse.lpszTitle = title.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  std::optional<std::string> chosen;
  if (PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&browse)) {
    char path[MAX_PATH + 1] = {};
    if (SHGetPathFromIDListA(item, path)) chosen = path;
    CoTaskMemFree(item);
  }
  if (SUCCEEDED(initialised)) CoUninitialize();
  return chosen;
}

}  // namespace platform
