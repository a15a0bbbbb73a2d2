// The program the process tests start. Its one argument says what to do:
//   "exit"            end at once
//   "touch:<file>"    write <file> (its working folder's name in it), end
//   "window:<title>"  show a top-level window with that title and wait for
//                     the test to end the process
//   "sleep"           wait for the test to end the process
#include <windows.h>

#include <cstring>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  std::string argument = commandLine;
  if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"') {
    argument = argument.substr(1, argument.size() - 2);
  }
  if (argument.rfind("touch:", 0) == 0) {
    char folder[MAX_PATH] = {};
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    const HANDLE file = CreateFileA(argument.c_str() + 6, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, folder, length, &written, nullptr);
    CloseHandle(file);
    return 0;
  }
  if (argument.rfind("window:", 0) == 0) {
    CreateWindowExA(0, "STATIC", argument.c_str() + 7, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                    nullptr, nullptr, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
  }
  if (argument == "sleep") Sleep(INFINITE);
  return 0;
}
