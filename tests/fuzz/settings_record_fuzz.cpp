// The settings record read from any file, then refreshed from a reply made
// of the same bytes and saved.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings_record.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzing::MemoryFileSystem files = [] {
    fuzzing::MemoryFileSystem made;
    made.MakeFolders("/install/cfg");
    if (!made.ChangeCurrentDirectory("/install")) abort();
    return made;
  }();
  files.Put("cfg/ovl.cfg", std::string(reinterpret_cast<const char*>(data), size));
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
