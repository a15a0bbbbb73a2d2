// The one copy of a regular file in the POSIX layer, for the file system's
// single-file copy and the shell's tree copies.
#pragma once

#include <sys/stat.h>

#include <string>

namespace platform {

// Copies the regular file `fromName` (relative to folder descriptor
// `fromDir`, or AT_FDCWD) onto `toName` (relative to `toDir`) with the
// contents, mode and times of `source`, the source's stat. A link or a
// read-only file at the target is replaced, never written through; a file
// copied onto itself is left whole. A link as the source is refused unless
// `followSourceLink`. Returns 0 or the errno of the first failure.
int CopyRegularFile(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                    const struct stat& source, bool followSourceLink = false);

}  // namespace platform
