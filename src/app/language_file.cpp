#include "app/language_file.h"

#include <algorithm>
#include <array>

#include "platform/path.h"

namespace app {

std::string ReadLanguageFile(const ReadWriteData& data, const std::string& folder) {
  // A shorter file leaves zeros after its content, so a code of two letters
  // without a terminator reads the same as one with it.
  std::array<char, kLanguageFileReadSize> buffer{};
  if (data.ReadData(platform::JoinPath(folder, kLanguageFile), buffer.data(), buffer.size(), nullptr) !=
      DataResult::Ok) {
    return {};
  }
  const auto end = std::find(buffer.begin(), buffer.begin() + kLanguageCodeMaxLength, '\0');
  return std::string(buffer.begin(), end);
}

}  // namespace app
