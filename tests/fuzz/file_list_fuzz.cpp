// The file-list parser and the confinement check on any reply.
#include <cstddef>
#include <cstdint>
#include <string>

#include "update/file_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string reply(reinterpret_cast<const char*>(data), size);
  (void)update::FileListComplete(reply);
  const update::ParsedFileList list = update::ParseFileList(reply);
  for (const update::FileEntry& entry : list.entries) {
    (void)update::StaysInside(entry.Fn());
    (void)update::StaysInside(entry.Rd());
    (void)update::StaysInside(entry.ArchiveMemberName());
    (void)entry.ExpectedBytes();
    (void)entry.SizeAsNumber();
    (void)entry.Operation();
    (void)update::InWorkFolder(entry.Rd());
  }
  (void)update::CheckFileList(list.entries, true);
  return 0;
}
