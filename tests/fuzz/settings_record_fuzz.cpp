// The settings record read from any file, then refreshed from a reply made
// of the same bytes and saved.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings_record.h"
#include "fuzz/fuzz_support.h"
#include "platform/posix/posix_file_system.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static platform::PosixFileSystem files;
  static const std::string folder = [] {
    const std::string made = fuzzing::ScratchFolder() + "/record";
    mkdir(made.c_str(), 0700);
    mkdir((made + "/cfg").c_str(), 0700);
    if (chdir(made.c_str()) != 0) abort();
    return made;
  }();
  fuzzing::WriteInput(folder + "/cfg/ovl.cfg", data, size);
  app::SettingsRecord record(files);
  (void)record.Load();
  (void)record.ReadUserName();
  (void)record.GetLauncherFile();
  (void)record.ClientProgramPath("Salon.exe");
  std::string request;
  record.AppendVersionFields(request);
  const std::string reply(reinterpret_cast<const char*>(data), size);
  (void)record.ApplyServerReply(reply, std::string_view(reply).substr(0, 40));
  return 0;
}
