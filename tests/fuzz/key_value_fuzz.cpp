// The key-value text lookups on any reply text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/key_value_text.h"
#include "net/session_start.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"~ac=", "~fl=", "~cv=", "~cb=", "~", "=", ""}) {
    (void)net::GetValue(text, key);
    (void)net::GetIntValue(text, key);
    (void)net::FindValue(text, key);
  }
  (void)net::HasCompleteList(text);
  std::string walked = text;
  size_t items = 0;
  net::ForEachListItem(walked, [&items](std::string_view item) { items += item.size() > 0; });
  std::string movies = text;
  (void)net::ReadMovieTable(movies);
  return 0;
}
