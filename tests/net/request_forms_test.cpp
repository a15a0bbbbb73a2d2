#include "net/request_forms.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "net/key_value_text.h"

namespace net {
namespace {

using namespace std::string_literals;

// Splits a form into its fields and decodes each value, as the server does.
std::vector<std::pair<std::string, std::string>> ParseForm(std::string_view form) {
  std::vector<std::pair<std::string, std::string>> fields;
  size_t start = 0;
  while (start <= form.size()) {
    size_t end = form.find('&', start);
    if (end == std::string_view::npos) end = form.size();
    const std::string_view field = form.substr(start, end - start);
    const size_t equals = field.find('=');
    fields.emplace_back(FormDecode(field.substr(0, equals)),
                        equals == std::string_view::npos ? "" : FormDecode(field.substr(equals + 1)));
    start = end + 1;
  }
  return fields;
}

TEST(FormEncodeTest, EveryByteRoundTrips) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string encoded = FormEncode(all);
  EXPECT_EQ(FormDecode(encoded), all);
  // Only the unreserved characters, "+" and "%XX" appear in an encoding.
  EXPECT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*-._+%"),
            std::string::npos);
}

struct EncodeCase {
  std::string plain;
  std::string encoded;
};

std::ostream& operator<<(std::ostream& out, const EncodeCase& c) {
  return out << "plain=\"" << c.plain << "\" encoded=\"" << c.encoded << "\"";
}

class FormEncodeTableTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(FormEncodeTableTest, EncodesExactly) {
  EXPECT_EQ(FormEncode(GetParam().plain), GetParam().encoded);
  EXPECT_EQ(FormDecode(GetParam().encoded), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(Table, FormEncodeTableTest,
                         testing::Values(EncodeCase{"", ""}, EncodeCase{"aZ09*-._", "aZ09*-._"},
                                         EncodeCase{"a b", "a+b"}, EncodeCase{"a&b=c", "a%26b%3Dc"},
                                         EncodeCase{"1+1%", "1%2B1%25"}, EncodeCase{"~|", "%7E%7C"},
                                         EncodeCase{"\r\n", "%0D%0A"}, EncodeCase{"\0"s, "%00"},
                                         EncodeCase{"\xe9\xff", "%E9%FF"}, EncodeCase{"C:\\x/y", "C%3A%5Cx%2Fy"}));

TEST(FormDecodeTest, KeepsMalformedPercentSequences) {
  EXPECT_EQ(FormDecode("%"), "%");
  EXPECT_EQ(FormDecode("a%4"), "a%4");
  EXPECT_EQ(FormDecode("%G1%1"), "%G1%1");
  EXPECT_EQ(FormDecode("%e9"), "\xe9");  // lower-case hex is accepted
  EXPECT_EQ(FormDecode("%%41"), "%A");
}

struct OsCase {
  platform::OsVersion version;
  unsigned code;
};

std::ostream& operator<<(std::ostream& out, const OsCase& c) {
  return out << "ok=" << c.version.ok << " platform=" << c.version.platformId << " " << c.version.major << "."
             << c.version.minor << " code=" << c.code;
}

class OsCodeTest : public testing::TestWithParam<OsCase> {};

TEST_P(OsCodeTest, MapsTheVersion) {
  fakes::FakeSystem system;
  system.osVersion = GetParam().version;
  EXPECT_EQ(OsCode(system), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Table, OsCodeTest,
                         testing::Values(OsCase{{true, 1, 4, 0}, 1}, OsCase{{true, 1, 4, 10}, 2},
                                         OsCase{{true, 1, 4, 90}, 3}, OsCase{{true, 1, 4, 20}, 0},
                                         OsCase{{true, 2, 3, 51}, 4}, OsCase{{true, 2, 4, 0}, 5},
                                         OsCase{{true, 2, 5, 0}, 6}, OsCase{{true, 2, 5, 1}, 7},
                                         OsCase{{true, 2, 5, 2}, 8}, OsCase{{true, 2, 6, 0}, 9},
                                         OsCase{{true, 2, 6, 1}, 0}, OsCase{{true, 2, 10, 0}, 0},
                                         OsCase{{true, 2, 5, 3}, 0}, OsCase{{true, 0, 5, 1}, 0},
                                         OsCase{{true, 3, 5, 1}, 0}, OsCase{{false, 2, 5, 1}, 0}));

struct ScreenCase {
  int width, height;
  unsigned code;
};

std::ostream& operator<<(std::ostream& out, const ScreenCase& c) {
  return out << c.width << "x" << c.height << " code=" << c.code;
}

class ScreenCodeTest : public testing::TestWithParam<ScreenCase> {};

TEST_P(ScreenCodeTest, MapsTheSize) {
  fakes::FakeSystem system;
  system.screen = {GetParam().width, GetParam().height};
  EXPECT_EQ(ScreenCode(system), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Table, ScreenCodeTest,
                         testing::Values(ScreenCase{640, 480, 1}, ScreenCase{800, 600, 2}, ScreenCase{1024, 768, 3},
                                         ScreenCase{1152, 684, 4}, ScreenCase{1152, 864, 0}, ScreenCase{1280, 768, 5},
                                         ScreenCase{1280, 1024, 6}, ScreenCase{1600, 1200, 7}, ScreenCase{768, 1024, 0},
                                         ScreenCase{1920, 1080, 0}, ScreenCase{0, 0, 0}));

TEST(AppendPairTest, AppendsOnlyWhenNameAndValueAreThere) {
  struct Row {
    std::string text;
    std::optional<std::string_view> valueKey;
    std::string expected;
  };
  const Row rows[] = {
      {"~pn1=affsd~pv1=x", "~pv1=", "affsd=x&"},
      {"~pn1=affsd~pv1=", "~pv1=", ""},
      {"~pn1=affsd", "~pv1=", ""},
      {"~pn1=~pv1=x", "~pv1=", ""},
      {"~pn1=affsd~pv1=x", std::nullopt, ""},
      {"~pn1=a b~pv1=1&2=3", "~pv1=", "a+b=1%262%3D3&"},
      {"~pn1=" + std::string(120, 'n') + "~pv1=" + std::string(1200, 'v'),
       "~pv1=", std::string(99, 'n') + "=" + std::string(999, 'v') + "&"},
  };
  for (const Row& row : rows) {
    std::string form = "start?";
    AppendPair(form, row.text, "~pn1=", row.valueKey);
    EXPECT_EQ(form, "start?" + row.expected) << "text: " << row.text;
  }
}

TEST(AddUpdaterDataTest, AppendsTheVersionFields) {
  std::string form = "ac=15";
  AddUpdaterData(form, {"S 1", "2.0&x", 4294967295u});
  EXPECT_EQ(form, "ac=15&sn=S+1&cv=2.0%26x&cb=4294967295");
}

TEST(RequestFormsTest, InitialPost) {
  EXPECT_EQ(BuildInitialPost({"SER-1", "camp aign", 7, 3, "&h1=AA&h2=BB"}),
            "ac=10&sn=SER-1&param1=camp+aign&OS=7&scrRes=3&pid=1&h1=AA&h2=BB");
}

TEST(RequestFormsTest, FileListWithAndWithoutTheExtraField) {
  FileListInput input{"SER-1", "en", "p&1", "&h1=AA&h2=BB", 7, 3, 1, 9, "", "ignored"};
  const std::string base =
      "ac=11&sn=SER-1&langID=en&param1=p%261&h1=AA&h2=BB&OS=7&scrRes=3&fli=1&flv=9&status=10&pid=1";
  EXPECT_EQ(BuildFileListRequest(input), base);

  input.extraName = "promo";
  input.extraValue = "x=y";
  EXPECT_EQ(BuildFileListRequest(input), base + "&promo=x%3Dy");

  input.extraValue = "";
  EXPECT_EQ(BuildFileListRequest(input), base + "&promo=");

  input.extraName = "a&b";
  EXPECT_EQ(BuildFileListRequest(input), base + "&a%26b=");
}

TEST(RequestFormsTest, WebPixelAddressRequest) {
  EXPECT_EQ(BuildWebPixelAddressRequest("SRV9"), "ac=12&sn=SRV9&pid=1");
  EXPECT_EQ(BuildWebPixelAddressRequest(""), "ac=12&sn=&pid=1");
}

TEST(RequestFormsTest, EndProcessRequest) {
  EXPECT_EQ(BuildEndProcessRequest({"camp", "&h1=AA&h2=BB", {"SRV9", "1.2.3", 456}}),
            "ac=15&param1=camp&pid=1&h1=AA&h2=BB&sn=SRV9&cv=1.2.3&cb=456");
}

StatisticsInput SampleStatistics() {
  StatisticsInput input;
  input.serverSerial = "SRV9";
  input.os = 7;
  input.screen = 3;
  input.finalCode = 1;
  input.stepAtFinal = 20;
  input.txt = "STATUS: 06 CommunicateEndProcess: Before AddUpdaterData";
  input.tDlg = 12;
  input.tLang = 5;
  input.tDL = 0;
  input.eps = 2;
  input.kbs = 123.456;
  input.dlFileCount = 14;
  input.dlRetryCount = 1;
  input.dlRetryFiles = 1;
  input.moduleVersion = "1.0.0.7";
  input.sessionId = "PC_133000000000000000_042";
  return input;
}

constexpr char kStatisticsBase[] =
    "ac=101&sn=SRV9&OS=7&scrRes=3&ier=1&ies=20&txt=STATUS%3A+06+CommunicateEndProcess%3A+Before+AddUpdaterData"
    "&tDlg=12&tLang=5&tDL=0&eps=2&kbs=123.46&dlFileCount=14&dlRetryCount=1&dlRetryFiles=1&iv=1.0.0.7"
    "&isid=PC_133000000000000000_042";

TEST(RequestFormsTest, StatisticsReportWithoutOptionalFields) {
  EXPECT_EQ(BuildStatisticsReport(SampleStatistics()), kStatisticsBase);
}

TEST(RequestFormsTest, StatisticsReportWithLemAndParameters) {
  StatisticsInput input = SampleStatistics();
  input.lem = "Access is denied.\r\n";
  input.parms[0] = "m";
  input.parms[1] = "b=1&c";
  EXPECT_EQ(BuildStatisticsReport(input),
            std::string(kStatisticsBase) + "&lem=Access+is+denied.%0D%0A&parm1=m&parm2=b%3D1%26c");

  // Given parameters are sent even when empty; absent ones never, so a gap
  // keeps the later numbers.
  input.lem = std::string();
  input.parms = {std::nullopt, std::string(), std::nullopt, "z"};
  EXPECT_EQ(BuildStatisticsReport(input), std::string(kStatisticsBase) + "&lem=&parm2=&parm4=z");
}

TEST(RequestFormsTest, StatisticsRateHasExactlyTwoDecimals) {
  const std::pair<double, std::string> rows[] = {{0.0, "0.00"},
                                                 {1.005, "1.00"},
                                                 {2.5, "2.50"},
                                                 {99.999, "100.00"},
                                                 {1e6, "1000000.00"},
                                                 {-3.25, "-3.25"},
                                                 {std::numeric_limits<double>::quiet_NaN(), "0.00"},
                                                 {std::numeric_limits<double>::infinity(), "0.00"}};
  for (const auto& [rate, text] : rows) {
    StatisticsInput input = SampleStatistics();
    input.kbs = rate;
    const std::string form = BuildStatisticsReport(input);
    EXPECT_NE(form.find("&kbs=" + text + "&"), std::string::npos) << "rate " << rate << " form " << form;
  }
}

TEST(RequestFormsTest, TrackingPixelFormAndThreadArgument) {
  const TrackingPixelInput input{"sub~1", 21, "aff|x", "PC_1_042", "de", "SRV9", "SER-1"};
  const std::string form = BuildTrackingPixelForm(input);
  EXPECT_EQ(form, "affsd=sub%7E1&ac=21&aname=aff%7Cx&isid=PC_1_042&lc=&langID=de&sn=SRV9&msn=SER-1&pid=1");

  // The thread reads the form and the code back from its argument; values
  // holding "~" or "|" no longer cut the form.
  const std::string argument = BuildPixelThreadArgument(form, input.eventCode);
  EXPECT_EQ(argument, "~pix1=" + form + "~prm1=21");
  EXPECT_EQ(GetValue(argument, "~pix1="), form);
  EXPECT_EQ(GetIntValue(argument, "~prm1="), 21);
  const auto fields = ParseForm(GetValue(argument, "~pix1="));
  ASSERT_EQ(fields.size(), 9u);
  EXPECT_EQ(fields[0].second, "sub~1");
  EXPECT_EQ(fields[2].second, "aff|x");
}

TEST(RequestFormsTest, EveryBuilderEncodesEveryValue) {
  // A value holding the form's own marks and a line break must come back
  // exactly and must not add a field, in every text field of every form.
  const std::string hostile = "x&ac=30=%+~|\r\n";
  const std::string initial = BuildInitialPost({hostile, hostile, 0, 0, ""});
  EXPECT_EQ(ParseForm(initial).size(), 6u) << initial;
  EXPECT_EQ(ParseForm(initial)[1].second, hostile);
  EXPECT_EQ(ParseForm(initial)[2].second, hostile);

  const auto pixelAddressFields = ParseForm(BuildWebPixelAddressRequest(hostile));
  ASSERT_EQ(pixelAddressFields.size(), 3u);
  EXPECT_EQ(pixelAddressFields[1].second, hostile);

  FileListInput list{hostile, hostile, hostile, "", 0, 0, 0, 0, "extra", hostile};
  const auto listFields = ParseForm(BuildFileListRequest(list));
  ASSERT_EQ(listFields.size(), 11u);
  for (size_t i : {1u, 2u, 3u, 10u}) EXPECT_EQ(listFields[i].second, hostile) << "field " << i;

  const auto endFields = ParseForm(BuildEndProcessRequest({hostile, "", {hostile, hostile, 1}}));
  ASSERT_EQ(endFields.size(), 6u);
  for (size_t i : {1u, 3u, 4u}) EXPECT_EQ(endFields[i].second, hostile) << "field " << i;

  StatisticsInput stats = SampleStatistics();
  stats.serverSerial = stats.txt = stats.moduleVersion = stats.sessionId = hostile;
  stats.lem = hostile;
  stats.parms = {hostile, hostile, hostile, hostile};
  const auto statFields = ParseForm(BuildStatisticsReport(stats));
  ASSERT_EQ(statFields.size(), 22u);
  for (size_t i : {1u, 6u, 15u, 16u, 17u, 18u, 19u, 20u, 21u})
    EXPECT_EQ(statFields[i].second, hostile) << "field " << i;

  const TrackingPixelInput pixel{hostile, 1, hostile, hostile, hostile, hostile, hostile};
  const auto pixelFields = ParseForm(BuildTrackingPixelForm(pixel));
  ASSERT_EQ(pixelFields.size(), 9u);
  for (size_t i : {0u, 2u, 3u, 5u, 6u, 7u}) EXPECT_EQ(pixelFields[i].second, hostile) << "field " << i;
}

}  // namespace
}  // namespace net
