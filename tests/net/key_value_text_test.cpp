#include "net/key_value_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

namespace net {
namespace {

using namespace std::string_literals;

struct LookupCase {
  std::string text;
  std::string key;
  std::string value;  // GetValue
  int32_t number;     // GetIntValue
};

std::ostream& operator<<(std::ostream& out, const LookupCase& c) {
  return out << "text=\"" << c.text << "\" key=\"" << c.key << "\" value=\"" << c.value << "\" number=" << c.number;
}

class KeyValueLookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(KeyValueLookupTest, GetValueAndGetIntValue) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(GetValue(c.text, c.key), c.value);
  EXPECT_EQ(GetIntValue(c.text, c.key), c.number);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeyValueLookupTest,
    testing::Values(LookupCase{"~ac=10~url=x", "~ac=", "10", 10},
                    LookupCase{"~url=x~ac=7|~ac=8", "~ac=", "7", 7},  // first occurrence wins, value ends at "|"
                    LookupCase{"~url=x", "~ac=", "", 0},              // missing key
                    LookupCase{"~fn=a.qrx|~fn=b", "~fn=", "a.qrx", 0}, LookupCase{"~ac=12abc", "~ac=", "12abc", 12},
                    LookupCase{"~ac=-5", "~ac=", "-5", -5}, LookupCase{"~ac=+5", "~ac=", "+5", 5},
                    LookupCase{"~ac=~url=x", "~ac=", "", 0},             // empty value
                    LookupCase{"~ac=", "~ac=", "", 0},                   // empty value at the end
                    LookupCase{"~ac= \t\n42x", "~ac=", " \t\n42x", 42},  // leading white space skipped
                    LookupCase{"~ac=- 5", "~ac=", "- 5", 0},             // no digits right after the sign
                    LookupCase{"~ac=abc", "~ac=", "abc", 0},
                    LookupCase{"~ac=2147483647", "~ac=", "2147483647", 2147483647},
                    LookupCase{"~ac=2147483648", "~ac=", "2147483648", std::numeric_limits<int32_t>::max()},
                    LookupCase{"~ac=-2147483648", "~ac=", "-2147483648", std::numeric_limits<int32_t>::min()},
                    LookupCase{"~ac=-2147483649", "~ac=", "-2147483649", std::numeric_limits<int32_t>::min()},
                    LookupCase{"~ac=18446744073709551616", "~ac=", "18446744073709551616",  // 2^64 must not wrap to 0
                               std::numeric_limits<int32_t>::max()},
                    LookupCase{"~ac=99999999999999999999999999999", "~ac=", "99999999999999999999999999999",
                               std::numeric_limits<int32_t>::max()},
                    // Only the first 51 characters of a value count: 50 blanks leave one digit.
                    LookupCase{"~ac=" + std::string(50, ' ') + "123", "~ac=", std::string(50, ' ') + "123", 1},
                    LookupCase{"~ac=" + std::string(51, ' ') + "7", "~ac=", std::string(51, ' ') + "7", 0},
                    LookupCase{"~xsn=1~sn=2", "~sn=", "2", 2},            // the leading "~" separates suffixes
                    LookupCase{"~SN=1~sn=2", "~sn=", "2", 2},             // case-sensitive
                    LookupCase{"~fl=|~sn=3||~sn=4", "~sn=", "3", 3},      // found inside the list when it comes first
                    LookupCase{"~msg=a\r\nb~x=1", "~msg=", "a\r\nb", 0},  // a line break is an ordinary character
                    LookupCase{"~ac=5\0~ac=6~b=7"s, "~b=", "", 0},        // the text ends at its first zero byte
                    LookupCase{"~ac=5\0~ac=6"s, "~ac=", "5", 5}));

TEST(KeyValueTextTest, FindValueGivesTheOffsetOfTheValue) {
  EXPECT_EQ(FindValue("~ac=10~url=x", "~url="), std::optional<size_t>(11));
  EXPECT_EQ(FindValue("~ac=10~url=x", "~ac="), std::optional<size_t>(4));
  EXPECT_EQ(FindValue("~ac=10", "~url="), std::nullopt);
  EXPECT_EQ(FindValue("~ac=10\0~url=x"s, "~url="), std::nullopt);
}

TEST(KeyValueTextTest, LookupReadsNoByteBeyondTheGivenLength) {
  // The view stops in the middle of the buffer; the rest must stay unseen.
  const std::string buffer = "~ac=12~url=abc~sn=9";
  const std::string_view view(buffer.data(), 9);  // "~ac=12~ur"
  EXPECT_EQ(GetValue(view, "~url="), "");
  EXPECT_EQ(GetValue(std::string_view(buffer.data(), 13), "~url="), "ab");
  EXPECT_EQ(GetIntValue(std::string_view(buffer.data(), 5), "~ac="), 1);
}

struct ListCase {
  std::string text;
  std::vector<std::string> items;
  bool complete;
};

std::ostream& operator<<(std::ostream& out, const ListCase& c) {
  out << "text=\"" << c.text << "\" items=[";
  for (const auto& item : c.items) out << "\"" << item << "\" ";
  return out << "] complete=" << c.complete;
}

class ListWalkTest : public testing::TestWithParam<ListCase> {};

TEST_P(ListWalkTest, VisitsEachItemInOrder) {
  const ListCase& c = GetParam();
  EXPECT_EQ(HasCompleteList(c.text), c.complete);
  std::string text = c.text;
  std::vector<std::string> seen;
  const size_t count = ForEachListItem(text, [&](std::string_view item) { seen.emplace_back(item); });
  EXPECT_EQ(seen, c.items);
  EXPECT_EQ(count, c.items.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ListWalkTest,
    testing::Values(ListCase{"~fl=|~fn=a~url=u1|~fn=b~url=u2||", {"~fn=a~url=u1", "~fn=b~url=u2"}, true},
                    ListCase{"~fl=||", {}, true}, ListCase{"~fl=|~fn=a|~fn=b", {}, false},            // no closing "||"
                    ListCase{"~fl=|~fn=a|~fn=b|", {}, false}, ListCase{"~ac=11|~fn=a||", {}, false},  // no "~fl="
                    ListCase{"~fl=", {}, false},                                                      // no opening "|"
                    ListCase{"~ac=11~fl=|a||~sn=7", {"a"}, true},
                    ListCase{"~fl=x|a|b||", {"a", "b"}, true},  // the first "|" after the key opens it
                    ListCase{"~fl=|a||b||", {"a"}, true},       // the first "||" closes it
                    ListCase{"~fl=|a|||", {"a"}, true},
                    ListCase{"~fl=|a|b\0|c||"s, {}, false},   // the zero byte ends the text first
                    ListCase{"|x||~fl=|a||", {"a"}, true}));  // marks before the key do not count

TEST(KeyValueTextTest, WalkEndsTheTextAfterTheFirstItem) {
  std::string reply = "~ac=10~fl=|~fn=DlgUpdater.qrx~url=U1|~fn=mcLogo.qrx~url=U2||~url=D";
  EXPECT_EQ(GetValue(reply, "~url="), "U1");  // first occurrence, inside the first item
  ASSERT_EQ(ForEachListItem(reply, nullptr), 2u);
  // Lookups after the walk see only the text up to the end of the first item.
  EXPECT_EQ(GetValue(reply, "~url="), "U1");
  EXPECT_EQ(GetValue(reply, "~fn="), "DlgUpdater.qrx");
  EXPECT_FALSE(FindValue(reply, "~fn=mcLogo").has_value());
  EXPECT_FALSE(HasCompleteList(reply));

  std::string topLevelFirst = "~ac=10~url=D~fl=|~fn=a~url=U1|~fn=b~url=U2||";
  ForEachListItem(topLevelFirst, nullptr);
  EXPECT_EQ(GetValue(topLevelFirst, "~url="), "D");
  EXPECT_EQ(GetValue(topLevelFirst, "~ac="), "10");
}

TEST(KeyValueTextTest, WalkedItemsStayValidAndZeroTerminated) {
  std::string reply = "~fl=|~fn=a~url=u1|~fn=b~url=u2||";
  std::vector<const char*> starts;
  ForEachListItem(reply, [&](std::string_view item) {
    starts.push_back(item.data());
    EXPECT_EQ(item.data()[item.size()], '\0');
  });
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_STREQ(starts[0], "~fn=a~url=u1");
  EXPECT_STREQ(starts[1], "~fn=b~url=u2");
  EXPECT_EQ(reply.size(), 32u);  // the string keeps its size
}

TEST(KeyValueTextTest, WalkOnABufferStopsAtItsLength) {
  char buffer[] = "~fl=|a|b||";  // the length given excludes the closing "||"
  EXPECT_EQ(ForEachListItem(buffer, 8, nullptr), 0u);
  EXPECT_STREQ(buffer, "~fl=|a|b||");  // nothing was written
  EXPECT_EQ(ForEachListItem(nullptr, 100, nullptr), 0u);
}

TEST(KeyValueTextTest, CopyTextIsAnIndependentCopyUpToTheFirstZero) {
  std::string original = "~pix1=a&b=c~prm1=21";
  auto copy = CopyText(original);
  original[1] = 'X';
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(*copy, "~pix1=a&b=c~prm1=21");
  EXPECT_EQ(*CopyText("ab\0cd"s), "ab");
  EXPECT_EQ(*CopyText(""), "");
}

// Random bytes with many of the format's own marks: no lookup or walk may
// read past its length (checked by the sanitizer builds) or break its
// invariants.
TEST(KeyValueTextTest, ArbitraryBytesAreHandledSafely) {
  std::mt19937 random(12345);
  const std::string alphabet = "~|=fl0123456789-+ \0\xff"s;
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 64, '\0');
    for (char& c : text) {
      c = (random() % 2) ? alphabet[random() % alphabet.size()] : static_cast<char>(random() % 256);
    }
    const std::string key = (round % 3 == 0) ? "~fl=" : (round % 3 == 1) ? "~1=" : "~";
    const std::string value = GetValue(text, key);
    EXPECT_EQ(value.find_first_of("~|"s + '\0'), std::string::npos) << "round " << round;
    if (auto at = FindValue(text, key)) {
      EXPECT_LE(*at, text.size()) << "round " << round;
    }
    const bool complete = HasCompleteList(text);

    // The walk gets an exact heap copy so that any byte read beyond it is
    // caught by the address sanitizer.
    auto heap = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), heap.get());
    size_t total = 0;
    const size_t count = ForEachListItem(heap.get(), text.size(), [&](std::string_view item) {
      EXPECT_EQ(item.find('|'), std::string_view::npos);
      total += item.size();
    });
    if (!complete) {
      EXPECT_EQ(count, 0u) << "round " << round;
    }
    EXPECT_LE(total + count, text.size());
  }
}

}  // namespace
}  // namespace net
