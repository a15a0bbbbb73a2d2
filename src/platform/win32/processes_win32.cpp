#include "platform/win32/processes_win32.h"

#include "platform/win32/win32_api.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

namespace platform {

namespace {

struct WindowSearch {
  DWORD pid = 0;
  HWND found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->pid) return TRUE;
  search->found = window;
  return FALSE;
}

// The first top-level window of a process other than this one whose
// executable name contains `programName`; null when there is none.
HWND FindProgramWindow(Processes& processes, const std::string& programName) {
  if (programName.empty()) return nullptr;
  const int self = processes.CurrentProcessId();
  for (const ProcessInfo& process : processes.Snapshot()) {
    if (process.pid == self || process.exeName.find(programName) == std::string::npos) continue;
    WindowSearch search{static_cast<DWORD>(process.pid), nullptr};
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
  }
  return nullptr;
}

// The user a process runs as, as the bytes of its SID; empty when the
// process cannot be asked (another user's process, a system process).
std::vector<unsigned char> ProcessUser(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::vector<unsigned char> sid;
  if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const auto* bytes = static_cast<const unsigned char*>(user);
    sid.assign(bytes, bytes + GetLengthSid(user));
  }
  CloseHandle(token);
  return sid;
}

}  // namespace

std::vector<ProcessInfo> Win32Processes::Snapshot() {
  std::vector<ProcessInfo> processes;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  const std::vector<unsigned char> self = ProcessUser(GetCurrentProcess());
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    // Only the current user's processes are listed: one that cannot be
    // opened or belongs to someone else is left out.
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    char path[MAX_PATH] = {};
    const bool mine = !self.empty() && ProcessUser(process) == self;
    const DWORD length = mine ? GetModuleFileNameExA(process, nullptr, path, MAX_PATH) : 0;
    CloseHandle(process);
    if (!mine) continue;
    processes.push_back({static_cast<int>(entry.th32ProcessID), entry.szExeFile,
                         length > 0 && length < MAX_PATH ? std::string(path, length) : std::string()});
  }
  CloseHandle(snapshot);
  return processes;
}

int Win32Processes::CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

bool Win32Processes::Terminate(int pid, int exitCode) {
  if (pid <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const HANDLE process = OpenProcess(PROCESS_TERMINATE, TRUE, static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  const bool ended = TerminateProcess(process, static_cast<UINT>(exitCode)) != 0;
  const DWORD code = GetLastError();
  CloseHandle(process);
  SetLastError(ended ? 0 : code);
  return ended;
}

int Win32Processes::RunProgram(const std::string& directory, const std::string& file,
                               const std::optional<std::string>& argument, bool show, bool wait) {
  std::string folder = directory;
  if (folder.empty()) {
    char current[MAX_PATH + 1] = {};
    folder.assign(current, GetCurrentDirectoryA(MAX_PATH, current));
  }
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  std::string commandLine = "\"" + folder + "\\" + file + "\"";
  if (argument) commandLine += " \"" + *argument + "\"";

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!show) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
    return static_cast<int>(RunResult::NotStarted);
  }
  RunResult result = RunResult::Ok;
  if (wait) {
    const DWORD waited = WaitForSingleObject(started.hProcess, static_cast<DWORD>(waitLimitMs_.load()));
    if (waited == WAIT_TIMEOUT) {
      result = RunResult::StillRunning;
    } else if (waited != WAIT_OBJECT_0) {
      result = RunResult::WaitFailed;
    }
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return static_cast<int>(result);
}

bool Win32Processes::FindTopLevelWindow(const std::string& programName) {
  return FindProgramWindow(*this, programName) != nullptr;
}

bool Win32Processes::BringTopLevelWindowToFront(const std::string& programName) {
  const HWND window = FindProgramWindow(*this, programName);
  if (window == nullptr) return false;
  SetForegroundWindow(window);
  return true;
}

}  // namespace platform
