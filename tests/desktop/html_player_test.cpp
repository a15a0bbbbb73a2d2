// The texts the HTML player hands to a page's script and the addresses it
// loads: a value can never end its string literal early or break the
// script, whatever bytes it holds.
#include "platform/gtk/html_player.h"

#include <gtest/gtest.h>

namespace {

TEST(HtmlPlayerTexts, StringLiterals) {
  const struct {
    std::string value, literal;
  } rows[] = {
      {"C:\\Games\\Quorix", R"("C:\\Games\\Quorix")"},
      {"say \"hi\"</script>", R"("say \"hi\"</script>")"},
      {"a\nb\r\t", R"("a\u000ab\u000d\u0009")"},
      {"Quorix~/home/ann/Spiele/Übung", "\"Quorix~/home/ann/Spiele/Übung\""},
      {"\xE2\x80\xA8line\xE2\x80\xA9", R"("\u2028line\u2029")"},
      {"bad \xFF byte", "\"bad \xEF\xBF\xBD byte\""},
      {"", "\"\""},
  };
  for (const auto& row : rows) EXPECT_EQ(platform::JsStringLiteral(row.value), row.literal) << row.value;
}

TEST(HtmlPlayerTexts, MovieAddresses) {
  EXPECT_EQ(platform::MovieUri("https://localhost:8443/files/movies/DlgUpdater.qrx"),
            "https://localhost:8443/files/movies/DlgUpdater.qrx");
  EXPECT_EQ(platform::MovieUri("/home/ann/my games/qrx/DlgMsg.qrx?m_Lang=de"),
            "file:///home/ann/my%20games/qrx/DlgMsg.qrx?m_Lang=de");
}

}  // namespace
