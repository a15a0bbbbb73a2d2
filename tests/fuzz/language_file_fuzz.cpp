// The language file read from any file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/language_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzing::MemoryFileSystem files = [] {
    fuzzing::MemoryFileSystem made;
    made.MakeFolders("/install/cfg");
    return made;
  }();
  files.Put("/install/cfg/lang.cfg", std::string(reinterpret_cast<const char*>(data), size));
  const std::string code = app::ReadLanguageFile(app::ReadWriteData(files), "/install");
  if (code.size() > app::kLanguageCodeMaxLength) abort();
  return 0;
}
