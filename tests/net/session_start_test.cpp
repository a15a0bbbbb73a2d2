#include "net/session_start.h"

#include <gtest/gtest.h>

namespace net {
namespace {

TEST(MovieTableTest, ReadsTheMoviesAndTheDispatcher) {
  const struct {
    const char* reply;
    int32_t updater, logo, lang;
    const char* dispatcher;
    const char* mainMovie;
  } rows[] = {
      {"~ac=10~url=D~fl=|~fn=DlgUpdater.qrx~url=U1|~fn=mcLogo.qrx~url=U2|~fn=mcLang.qrx~url=U3||", 0, 1, 2, "D", "U1"},
      // The list before the top-level address: the walk cut the reply, the
      // first item's address is found.
      {"~ac=10~fl=|~fn=DlgUpdater.qrx~url=U1|~fn=mcLogo.qrx~url=U2||~url=D", 0, 1, -1, "U1", "U1"},
      // Names compare in any letter case and by their beginning.
      {"~ac=10~fl=|~fn=mcLang.qrx~url=L|~fn=dlgupdater.QRX~url=A|~fn=DlgUpdater.qrx.old~url=B||", 2, -1, 0, "L", "B"},
      // Only four items have places; a fifth is ignored.
      {"~ac=10~fl=|~fn=a~url=1|~fn=b~url=2|~fn=c~url=3|~fn=d~url=4|~fn=DlgUpdater.qrx~url=5||", -1, -1, -1, "1", ""},
      // No list: a session without movies.
      {"~ac=10~url=D", -1, -1, -1, "D", ""},
      // A list that is never closed gives no items.
      {"~ac=10~fl=|~fn=DlgUpdater.qrx~url=U1|", -1, -1, -1, "U1", ""},
  };
  for (const auto& row : rows) {
    std::string reply = row.reply;
    const MovieTable table = ReadMovieTable(reply);
    EXPECT_EQ(table.updaterIndex, row.updater) << row.reply;
    EXPECT_EQ(table.logoIndex, row.logo) << row.reply;
    EXPECT_EQ(table.langIndex, row.lang) << row.reply;
    EXPECT_EQ(table.dispatcherUrl, row.dispatcher) << row.reply;
    EXPECT_EQ(table.UrlAt(table.updaterIndex), row.mainMovie) << row.reply;
  }
}

}  // namespace
}  // namespace net
