// The language file read from any file.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/language_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/posix/posix_file_system.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static platform::PosixFileSystem files;
  static const std::string folder = [] {
    const std::string made = fuzzing::ScratchFolder() + "/lang";
    mkdir(made.c_str(), 0700);
    mkdir((made + "/cfg").c_str(), 0700);
    return made;
  }();
  fuzzing::WriteInput(folder + "/cfg/lang.cfg", data, size);
  const std::string code = app::ReadLanguageFile(app::ReadWriteData(files), folder);
  if (code.size() > app::kLanguageCodeMaxLength) abort();
  return 0;
}
