#include "net/session_start.h"

#include <cctype>

#include "net/key_value_text.h"

namespace net {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string MovieTable::UrlAt(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= kMovieTableSize) return {};
  return urls[static_cast<size_t>(index)];
}

MovieTable ReadMovieTable(std::string& reply) {
  MovieTable table;
  size_t i = 0;
  ForEachListItem(reply, [&](std::string_view item) {
    if (i < kMovieTableSize) {
      table.names[i] = GetValue(item, "~fn=");
      table.urls[i] = GetValue(item, "~url=");
      const std::string& name = table.names[i];
      if (StartsWithNoCase(name, "DlgUpdater.qrx")) {
        table.updaterIndex = static_cast<int32_t>(i);
      } else if (StartsWithNoCase(name, "mcLogo.qrx")) {
        table.logoIndex = static_cast<int32_t>(i);
      } else if (StartsWithNoCase(name, "mcLang.qrx")) {
        table.langIndex = static_cast<int32_t>(i);
      }
    }
    ++i;
  });
  table.dispatcherUrl = GetValue(reply, "~url=");
  return table;
}

}  // namespace net
