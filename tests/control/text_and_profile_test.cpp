// Text conversions at field limits, and the INI rules of the settings file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "control/profile_file.h"
#include "control/utf_text.h"
#include "control_support.h"

namespace {

using namespace tavolen;
using ctltest::readText;
using ctltest::ScratchFolder;
using ctltest::writeText;

TEST(UtfText, Utf16ToUtf8) {
  struct Case {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"", ""},
      {u"abc", "abc"},
      {u"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string(1, char16_t(0xD83D)) + u"x", "\xEF\xBF\xBDx"},  // lone high surrogate
      {std::u16string(1, char16_t(0xDE00)), "\xEF\xBF\xBD"},          // lone low surrogate
  };
  for (const Case& c : cases) EXPECT_EQ(utf16ToUtf8(c.in), c.out);
}

TEST(UtfText, Utf8ToUtf16KeepsPairsWholeAndReplacesBrokenBytes) {
  EXPECT_EQ(utf8ToUtf16("a\xF0\x9F\x98\x80", 2), u"a");  // the pair would not fit
  EXPECT_EQ(utf8ToUtf16("a\xF0\x9F\x98\x80", 3), u"a\U0001F600");
  EXPECT_EQ(utf8ToUtf16("a\xC3", 10), u"a\uFFFD");           // cut sequence
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF", 10), u"\uFFFD\uFFFD");   // overlong '/'
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80", 10), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(utf8ToUtf16(std::string("ab\0cd", 5), 10), u"ab");
}

TEST(UtfText, CutsOnlyAtCharacterBoundaries) {
  const std::string e = "\xC3\xA9";          // 2 bytes
  const std::string euro = "\xE2\x82\xAC";   // 3 bytes
  struct Case {
    std::string in;
    size_t max;
    std::string out;
  } cases[] = {
      {"abc", 3, "abc"},   {"abcd", 3, "abc"},          {"a" + e, 2, "a"},
      {"a" + e, 3, "a" + e}, {euro + euro, 5, euro},    {euro, 2, ""},
      {"\xF0\x9F\x98\x80z", 4, "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(cutUtf8(c.in, c.max), c.out) << c.in << " " << c.max;
}

TEST(UtfText, FieldCopyLeavesTerminatorAndZeroFill) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  EXPECT_EQ(copyUtf8Field(field, sizeof field, "abcdef\xE2\x82\xAC"), 6u);  // euro would end at 9
  EXPECT_EQ(std::string(field, 8), std::string("abcdef\0\0", 8));
  EXPECT_EQ(copyUtf8Field(field, sizeof field, "hi"), 2u);
  EXPECT_EQ(std::string(field, 8), std::string("hi\0\0\0\0\0\0", 8));
}

TEST(ProfileRules, FindsValues) {
  struct Case {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> value;
  } cases[] = {
      {"plain", "[PATH]\nSETPATH=/x\n", "PATH", "SETPATH", "/x"},
      {"names ignore case", "[path]\nsetPath=/x\n", "PATH", "SETPATH", "/x"},
      {"spaces around", "  [ PATH ]  \n  SETPATH  =  /a b  \n", "PATH", "SETPATH", "/a b"},
      {"quotes dropped", "[PATH]\nSETPATH=\"/a b\"\n", "PATH", "SETPATH", "/a b"},
      {"single quotes", "[PATH]\nSETPATH='x'\n", "PATH", "SETPATH", "x"},
      {"unmatched quote kept", "[PATH]\nSETPATH=\"x\n", "PATH", "SETPATH", "\"x"},
      {"value holds =", "[PATH]\nK=a=b\n", "PATH", "K", "a=b"},
      {"empty value", "[PATH]\nK=\n", "PATH", "K", ""},
      {"name-only line", "[PATH]\nK\n", "PATH", "K", ""},
      {"crlf", "[PATH]\r\nK=v\r\n", "PATH", "K", "v"},
      {"no final newline", "[PATH]\nK=v", "PATH", "K", "v"},
      {"byte order mark", "\xEF\xBB\xBF[PATH]\nK=v\n", "PATH", "K", "v"},
      {"first key wins", "[PATH]\nK=1\nK=2\n", "PATH", "K", "1"},
      {"first section only", "[PATH]\nA=1\n[PATH]\nK=2\n", "PATH", "K", std::nullopt},
      {"other section", "[OTHER]\nK=1\n[PATH]\nJ=2\n", "PATH", "K", std::nullopt},
      {"section missing", "K=1\n", "PATH", "K", std::nullopt},
      {"comment is a key", "[PATH]\n;K=1\n", "PATH", "K", std::nullopt},
      {"broken header is a key line", "[PATH\nK=1\n", "PATH", "K", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(findProfileValue(c.text, c.section, c.key), c.value) << c.what;
}

TEST(ProfileRules, ReadsIntegersAsTheProfileFunctions) {
  struct Case {
    const char* in;
    int32_t out;
  } cases[] = {
      {"100", 100},        {"102abc", 102},         {"abc", 0},          {"-5", -5},
      {"+7", 7},           {"  42", 42},            {"0x10", 16},        {"0o17", 15},
      {"0b101", 5},        {"0X10", 0},             {"4294967295", -1},  {"2147483648", INT32_MIN},
      {"4294967396", 100}, {"- 5", 0},              {"12 34", 12},
  };
  for (const Case& c : cases) EXPECT_EQ(parseProfileInt(c.in), c.out) << c.in;
}

TEST(ProfileRules, WritesKeepEveryOtherLine) {
  struct Case {
    const char* what;
    std::string before;
    std::string after;
  } cases[] = {
      {"new file", "", "[PATH]\nK=v\n"},
      {"section appended", "[A]\nx=1\n", "[A]\nx=1\n\n[PATH]\nK=v\n"},
      {"appended after a missing newline", "[A]\nx=1", "[A]\nx=1\n\n[PATH]\nK=v\n"},
      {"replaced in place, name kept", "; mine\n[path]\n  k = old \nz=2\n", "; mine\n[path]\nk=v\nz=2\n"},
      {"added at the end of its section", "[PATH]\na=1\n\n[B]\nb=2\n", "[PATH]\na=1\nK=v\n\n[B]\nb=2\n"},
      {"added to an empty section", "[PATH]\n[B]\n", "[PATH]\nK=v\n[B]\n"},
      {"crlf kept", "[PATH]\r\na=1\r\n", "[PATH]\r\na=1\r\nK=v\r\n"},
      {"crlf line replaced", "[PATH]\r\nK=1\r\nb=2\r\n", "[PATH]\r\nK=v\r\nb=2\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(setProfileValue(c.before, "PATH", "K", "v"), c.after) << c.what;
    EXPECT_EQ(findProfileValue(c.after, "PATH", "K"), "v") << c.what;
  }
}

TEST(ProfileFile, MissingKeysAndEmptyValuesGiveTheDefault) {
  ScratchFolder dir;
  ProfileFile missing(dir.file("none.ini"));
  EXPECT_EQ(missing.readInt("PATH", "FILELEN", 100), 100);
  EXPECT_EQ(missing.readString("PATH", "SETPATH", "d", 259), "d");
  writeText(dir.file("a.ini"), "[PATH]\nFILELEN=\nTIMELEN=abc\n");
  ProfileFile file(dir.file("a.ini"));
  EXPECT_EQ(file.readInt("PATH", "FILELEN", 100), 100);
  EXPECT_EQ(file.readInt("PATH", "TIMELEN", 5), 0);
}

TEST(ProfileFile, WriteMakesTheFolderAndLeavesNoTemporaryFile) {
  ScratchFolder dir;
  const std::string path = dir.file("deep/er/Tavolen.ini");
  ProfileFile file(path);
  ASSERT_TRUE(file.writeInt("PATH", "COVER", 7));
  ASSERT_TRUE(file.writeString("PATH", "SETPATH", "/srv/cam"));
  EXPECT_EQ(readText(path), "[PATH]\nCOVER=7\nSETPATH=/srv/cam\n");
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "deep/er")) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST(ProfileFile, WritesThroughALinkToItsTarget) {
  ScratchFolder dir;
  writeText(dir.file("real/Tavolen.ini"), "[X]\ny=1\n");
  std::filesystem::create_symlink(dir.path() / "real/Tavolen.ini", dir.path() / "link.ini");
  ASSERT_TRUE(ProfileFile(dir.file("link.ini")).writeInt("PATH", "COVER", 1));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.ini"));
  EXPECT_EQ(readText(dir.file("real/Tavolen.ini")), "[X]\ny=1\n\n[PATH]\nCOVER=1\n");
}

TEST(ProfileFile, RefusesWhatWouldLoseOrBreakLines) {
  ScratchFolder dir;
  const std::string path = dir.file("big.ini");
  std::string big = "[PATH]\nFILELEN=300\n" + std::string(ProfileFile::kMaxBytes, ';');
  writeText(path, big);
  ProfileFile file(path);
  EXPECT_EQ(file.readInt("PATH", "FILELEN", 100), 300);  // the top is still read
  EXPECT_FALSE(file.writeInt("PATH", "COVER", 1));
  EXPECT_EQ(readText(path), big);

  ProfileFile small(dir.file("s.ini"));
  EXPECT_FALSE(small.writeString("PATH", "SETPATH", "a\nCOVER=1"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("s.ini")));
}

}  // namespace
