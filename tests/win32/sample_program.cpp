// The sample client's programs for the Windows installation under Wine. One
// program plays every part; what it does is written after its own bytes
// (the tests append it when they make the Windows client set):
//   <program bytes> <role text> <role length, 8 decimal digits> "WSSAMPLE"
// Roles, first line of the role text:
//   mark <file>     writes <file> in the working folder: "args=...",
//                   "folder=..." (a client program, the uninstaller, the
//                   program run from the staging folder)
//   launcher        writes launcher-started.txt in its own folder and starts
//                   the "*Salon.exe" there with its own arguments
//   archive         unpacks the files that follow, "<path> <size>\n<bytes>",
//                   below the working folder (a self-extracting archive)
// Every run appends "<own name> <working folder> <arguments>" to the file
// named by WEBSETUP_SAMPLE_LOG, when set.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace {

std::string ReadAll(const std::string& path) {
  std::string data;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, got);
    std::fclose(file);
  }
  return data;
}

bool WriteAll(const std::string& path, const std::string& data) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
  return std::fclose(file) == 0 && ok;
}

std::string Arguments(const char* commandLine) {
  // The program's own name, quoted or not, comes first.
  std::string rest = commandLine;
  size_t end = rest[0] == '"' ? rest.find('"', 1) : rest.find(' ');
  rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
  while (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
  return rest;
}

std::string WorkingFolder() {
  char folder[MAX_PATH] = {};
  return std::string(folder, GetCurrentDirectoryA(MAX_PATH, folder));
}

}  // namespace

int main() {
  char self[MAX_PATH] = {};
  const std::string path(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  const std::string name = path.substr(path.find_last_of('\\') + 1);
  const std::string args = Arguments(GetCommandLineA());
  if (const char* log = std::getenv("WEBSETUP_SAMPLE_LOG")) {
    if (FILE* file = std::fopen(log, "ab")) {
      std::fprintf(file, "%s %s %s\n", name.c_str(), WorkingFolder().c_str(), args.c_str());
      std::fclose(file);
    }
  }
  const std::string bytes = ReadAll(path);
  if (bytes.size() < 16 || bytes.compare(bytes.size() - 8, 8, "WSSAMPLE") != 0) return 3;
  const size_t length = std::strtoul(bytes.substr(bytes.size() - 16, 8).c_str(), nullptr, 10);
  std::istringstream role(bytes.substr(bytes.size() - 16 - length, length));
  std::string kind;
  role >> kind;
  const std::string mark = "args=" + args + "\nfolder=" + WorkingFolder() + "\n";
  if (kind == "mark") {
    std::string file;
    role >> file;
    return WriteAll(file, mark) ? 0 : 1;
  }
  if (kind == "launcher") {
    const std::string folder = path.substr(0, path.find_last_of('\\'));
    SetCurrentDirectoryA(folder.c_str());
    WriteAll("launcher-started.txt", "args=" + args + "\nfolder=" + folder + "\n");
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA("*Salon.exe", &found);
    if (find == INVALID_HANDLE_VALUE) return 1;
    FindClose(find);
    std::string commandLine = "\"" + folder + "\\" + found.cFileName + "\" " + args;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
      return 1;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
  }
  if (kind == "archive") {
    std::string file;
    size_t size = 0;
    role.ignore(1);
    while (role >> file >> size) {
      role.ignore(1);
      std::string data(size, '\0');
      role.read(data.data(), static_cast<std::streamsize>(size));
      for (size_t slash = file.find('\\'); slash != std::string::npos; slash = file.find('\\', slash + 1)) {
        CreateDirectoryA(file.substr(0, slash).c_str(), nullptr);
      }
      if (!WriteAll(file, data)) return 1;
    }
    return 0;
  }
  return 3;
}
