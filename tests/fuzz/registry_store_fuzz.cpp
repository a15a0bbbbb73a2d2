// The registry store read from any file (the hive file and its last good
// copy), then written through.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/posix/registry_posix.h"

namespace {

// The store's checksum (CRC-32, as zlib computes it), so that bodies past
// the header check are explored too.
uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string hive = [] {
    const std::string home = fuzzing::ScratchFolder() + "/data";
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (fuzzing::ScratchFolder() + "/config").c_str(), 1);
    platform::PosixRegistry registry;
    (void)registry.WriteString(platform::Hive::LocalMachine, "Software\\Quorix", "AppDirectory", "/q");
    return platform::PosixRegistry::HiveFile(platform::Hive::LocalMachine);
  }();
  // The first byte chooses whether the good copy is damaged too and
  // whether the rest is a body under a header that checks out.
  const bool both = size > 0 && (data[0] & 1);
  const bool body = size > 0 && (data[0] & 2);
  std::string content(reinterpret_cast<const char*>(data), size);
  if (body) {
    char header[64];
    std::snprintf(header, sizeof header, "websetup-registry 1 %zu %08x\n", size - 1, Crc32(data + 1, size - 1));
    content = header + content.substr(1);
  }
  fuzzing::WriteInput(hive, reinterpret_cast<const uint8_t*>(content.data()), content.size());
  if (both) fuzzing::WriteInput(hive + ".good", reinterpret_cast<const uint8_t*>(content.data()), content.size());
  platform::PosixRegistry registry;
  std::string value;
  (void)registry.ReadString(platform::Hive::LocalMachine, "Software\\Quorix", "AppDirectory", &value);
  (void)registry.WriteString(platform::Hive::LocalMachine, "Software\\Quorix", "UserName", "ann");
  (void)registry.DeleteKey(platform::Hive::LocalMachine, "Software\\Other");
  return 0;
}
