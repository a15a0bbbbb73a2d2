// The server address loaded from any "cfg/Updater.cfg".
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "net/server_address.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_system.h"

namespace {

// The program as if it lived in the scratch folder.
class ScratchSystem : public platform::PosixSystem {
 public:
  std::string ExecutablePath() override { return fuzzing::ScratchFolder() + "/websetup"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchSystem system;
  static platform::PosixFileSystem files;
  static const std::string file = [] {
    mkdir((fuzzing::ScratchFolder() + "/cfg").c_str(), 0700);
    return fuzzing::ScratchFolder() + "/cfg/Updater.cfg";
  }();
  fuzzing::WriteInput(file, data, size);
  platform::Platform platform;
  platform.system = &system;
  platform.files = &files;
  const net::ServerAddress address = net::LoadServerAddress(platform, "localhost", 8443);
  if (!address.caFile.empty() && address.caFile[0] != '/') abort();  // always a full path here
  return 0;
}
