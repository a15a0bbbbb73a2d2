// The server address loaded from any "cfg/Updater.cfg".
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "net/server_address.h"
#include "platform/posix/posix_system.h"

namespace {

// The program as if it lived in /download.
class DownloadSystem : public platform::PosixSystem {
 public:
  std::string ExecutablePath() override { return "/download/websetup"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DownloadSystem system;
  static fuzzing::MemoryFileSystem files = [] {
    fuzzing::MemoryFileSystem made;
    made.MakeFolders("/download/cfg");
    return made;
  }();
  files.Put("/download/cfg/Updater.cfg", std::string(reinterpret_cast<const char*>(data), size));
  platform::Platform platform;
  platform.system = &system;
  platform.files = &files;
  const net::ServerAddress address = net::LoadServerAddress(platform, "localhost", 8443);
  if (!address.caFile.empty() && address.caFile[0] != '/') abort();  // always a full path here
  return 0;
}
