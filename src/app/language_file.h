// The language file "cfg\lang.cfg" of an installed client: the client writes
// its language code (at most three characters) at the start of the file,
// followed by a zero byte or by the end of the file.
#pragma once

#include <cstddef>
#include <string>

#include "app/read_write_data.h"

namespace app {

inline constexpr const char* kLanguageFile = "cfg\\lang.cfg";
// Bytes of the file that are looked at, and the longest code taken.
inline constexpr size_t kLanguageFileReadSize = 12;
inline constexpr size_t kLanguageCodeMaxLength = 3;

// The language code in "cfg\lang.cfg" inside `folder`: the text up to the
// first zero byte of the file's first 12 bytes, cut to 3 characters. Empty
// when the file is missing, empty or unreadable. Blocks on file I/O; any
// thread.
std::string ReadLanguageFile(const ReadWriteData& data, const std::string& folder);

}  // namespace app
