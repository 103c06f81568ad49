// SD-card listing: date fields, the list answer and the request lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "link/record_list.h"

namespace tavolen {
namespace {

// Sets TZ for one scope and restores the previous rule.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

TEST(SearchDates, LocalTimeFollowsTheSystemDaylightRule) {
  // Central European rule written out, so no zone database is needed.
  ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  // 2026-01-15 12:00 local is 11:00 UTC; 2026-07-15 12:00 local is 10:00 UTC.
  EXPECT_EQ(localSecondsFromFields({2026, 1, 15, 12, 0, 0}), 1768474800);
  EXPECT_EQ(localSecondsFromFields({2026, 7, 15, 12, 0, 0}), 1784109600);
  {
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(localSecondsFromFields({1970, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(localSecondsFromFields({2026, 12, 31, 23, 59, 59}), 1798761599);
    // Past 2038 only the low 32 bits are sent, read as signed.
    EXPECT_EQ(localSecondsFromFields({2040, 1, 1, 0, 0, 0}), static_cast<int32_t>(2208988800u));
    // Day 31 of a 30-day month is accepted and runs on into the next month.
    EXPECT_EQ(localSecondsFromFields({2026, 4, 31, 0, 0, 0}), localSecondsFromFields({2026, 5, 1, 0, 0, 0}));
  }
}

TEST(SearchDates, FieldsOutOfRangeGiveNoTime) {
  ScopedTimeZone utc("UTC0");
  const SearchDateFields good{2026, 6, 15, 12, 30, 30};
  EXPECT_TRUE(localSecondsFromFields(good).has_value());
  struct Case {
    const char* what;
    SearchDateFields fields;
  };
  const Case cases[] = {
      {"year 1899", {1899, 6, 15, 12, 30, 30}}, {"month 0", {2026, 0, 15, 12, 30, 30}},
      {"month 13", {2026, 13, 15, 12, 30, 30}}, {"day 0", {2026, 6, 0, 12, 30, 30}},
      {"day 32", {2026, 6, 32, 12, 30, 30}},    {"hour 24", {2026, 6, 15, 24, 30, 30}},
      {"hour -1", {2026, 6, 15, -1, 30, 30}},   {"minute 60", {2026, 6, 15, 12, 60, 30}},
      {"second 60", {2026, 6, 15, 12, 30, 60}}, {"second -1", {2026, 6, 15, 12, 30, -1}},
  };
  for (const auto& c : cases) EXPECT_FALSE(localSecondsFromFields(c.fields).has_value()) << c.what;
  // The edges themselves are in range.
  EXPECT_TRUE(localSecondsFromFields({1900, 1, 1, 0, 0, 0}).has_value());
  EXPECT_TRUE(localSecondsFromFields({2026, 12, 31, 23, 59, 59}).has_value());
}

TEST(RecordListBody, FilesInIndexOrder) {
  const char* body =
      "var record_num0=2;\r\nvar record_name0[1]=\"20260101120500_010.h264\";\r\nvar record_size0[1]=2048;\r\n"
      "var record_name0[0]=\"20260101120000_010.h264\";\r\nvar record_size0[0]=1024;\r\n";
  const auto files = parseRecordList(body);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name, "20260101120000_010.h264");
  EXPECT_EQ(files[0].size, 1024);
  EXPECT_EQ(files[1].name, "20260101120500_010.h264");
  EXPECT_EQ(files[1].size, 2048);
}

TEST(RecordListBody, CountsMissingKeysAndBounds) {
  EXPECT_TRUE(parseRecordList("").empty());
  EXPECT_TRUE(parseRecordList("var record_name0[0]=\"a\";").empty());
  EXPECT_TRUE(parseRecordList("var record_num0=0;").empty());
  EXPECT_TRUE(parseRecordList("var record_num0=-3;").empty());
  // "var " is part of the count key.
  EXPECT_TRUE(parseRecordList("record_num0=1;record_name0[0]=\"a\";").empty());

  const auto missing = parseRecordList("var record_num0=2;record_name0[1]=\"b\";");
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[0].name, "");
  EXPECT_EQ(missing[0].size, 0);
  EXPECT_EQ(missing[1].name, "b");

  const std::string longName(400, 'n');
  const auto cut = parseRecordList(("var record_num0=1;record_name0[0]=\"" + longName + "\";").c_str());
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].name, longName.substr(0, kRecordNameMax));

  const auto many = parseRecordList("var record_num0=2000000000;");
  EXPECT_EQ(many.size(), size_t{kRecordFilesMax});
}

TEST(RecordListBody, NamePrefixKeepsEightBytes) {
  char name[256] = "20260101120000_010.h2";  // 21 characters
  char prefix[kNamePrefixSize];
  std::memset(prefix, 'x', sizeof prefix);
  fillNamePrefix(name, prefix);
  EXPECT_EQ(std::string(prefix, 8), "20260101");
  for (size_t i = 8; i < sizeof prefix; ++i) ASSERT_EQ(prefix[i], 0) << i;

  char shortName[256] = "ab";
  fillNamePrefix(shortName, prefix);
  EXPECT_STREQ(prefix, "ab");
  for (size_t i = 2; i < sizeof prefix; ++i) ASSERT_EQ(prefix[i], 0) << i;
}

TEST(RecordRequests, LinesFollowTheirTemplates) {
  std::string line;
  ASSERT_TRUE(formatRecordListRequestLine("admin", "pw", 1767225600, -2, 512, line));
  EXPECT_EQ(line, "GET get_record_file.cgi?loginuse=admin&loginpas=pw&startdate=1767225600&enddate=-2 HTTP/1.1\r\n");
  ASSERT_TRUE(formatPlaybackRequestLine("admin", "pw", "a.h264", 4096, 512, line));
  EXPECT_EQ(line, "GET /livestream.cgi?user=admin&pwd=pw&streamid=4&filename=a.h264&offset=4096 HTTP/1.1\r\n");
  ASSERT_TRUE(formatPlaybackRequestLine("admin", "pw", "", 0, 512, line));
  EXPECT_EQ(line, "GET /livestream.cgi?user=admin&pwd=pw&streamid=4&filename=&offset=0 HTTP/1.1\r\n");
}

TEST(RecordRequests, RefusedWhenUnsafeOrTooLong) {
  std::string line = "untouched";
  EXPECT_FALSE(formatPlaybackRequestLine("admin", "pw", "a b.h264", 0, 512, line));
  EXPECT_FALSE(formatPlaybackRequestLine("admin", "pw", "a\r\nX: y", 0, 512, line));
  EXPECT_FALSE(formatRecordListRequestLine("ad\nmin", "pw", 0, 0, 512, line));
  EXPECT_EQ(line, "untouched");

  const std::string expected = "GET /livestream.cgi?user=admin&pwd=pw&streamid=4&filename=abc&offset=0 HTTP/1.1\r\n";
  EXPECT_TRUE(formatPlaybackRequestLine("admin", "pw", "abc", 0, expected.size() + 1, line));
  EXPECT_FALSE(formatPlaybackRequestLine("admin", "pw", "abc", 0, expected.size(), line));
}

}  // namespace
}  // namespace tavolen
