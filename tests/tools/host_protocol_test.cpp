// The page messages as tavolen-host reads them: every shape it accepts, and
// every shape it must answer with an error while changing nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "page_protocol.h"

namespace tavolen::host {
namespace {

const PageMessage& accepted(const ParsedMessage& parsed) {
  static PageMessage none;
  if (const auto* error = std::get_if<ProtocolError>(&parsed)) {
    ADD_FAILURE() << "refused: " << error->message;
    return none;
  }
  return std::get<PageMessage>(parsed);
}

TEST(PageProtocol, ReadsEveryOp) {
  const auto open = accepted(parsePageMessage(
      R"({"op":"open","width":640,"height":480,"screenWidth":1920,"screenHeight":1080})"));
  EXPECT_EQ(open.op, PageOp::Open);
  EXPECT_EQ(open.width, 640);
  EXPECT_EQ(open.screenHeight, 1080);

  const auto invoke = accepted(parsePageMessage(
      R"({"op":"invoke","id":9007199254740991,"dispid":1,"flags":1,"args":["admin",null,-2147483648,2147483647,"\u5b8b"]})"));
  EXPECT_EQ(invoke.op, PageOp::Invoke);
  EXPECT_EQ(invoke.id, kMaxInvokeId);
  ASSERT_EQ(invoke.args.size(), 5u);
  EXPECT_EQ(invoke.args[0], (WireValue{WireValue::Text, 0, u"admin"}));
  EXPECT_EQ(invoke.args[1], WireValue{});
  EXPECT_EQ(invoke.args[2], (WireValue{WireValue::I4, INT32_MIN, {}}));
  EXPECT_EQ(invoke.args[3], (WireValue{WireValue::I4, INT32_MAX, {}}));
  EXPECT_EQ(invoke.args[4], (WireValue{WireValue::Text, 0, u"\u5b8b"}));

  const auto noArgs = accepted(parsePageMessage(R"({"op":"invoke","id":0,"dispid":33,"flags":3})"));
  EXPECT_TRUE(noArgs.args.empty());

  const auto mouse = accepted(parsePageMessage(R"({"op":"mouse","event":3,"x":-1,"y":8192})"));
  EXPECT_EQ(mouse.event, 3);
  EXPECT_EQ(mouse.y, 8192);

  EXPECT_EQ(accepted(parsePageMessage(R"({"op":"resize","width":1,"height":8192})")).op, PageOp::Resize);
  EXPECT_EQ(accepted(parsePageMessage(R"({"op":"screen","width":1920,"height":1080})")).op, PageOp::Screen);
  EXPECT_EQ(accepted(parsePageMessage(R"({"op":"drawn","seq":4294967295})")).seq, 4294967295u);
}

struct Refusal {
  const char* text;
  int32_t code;
  std::optional<int64_t> id;
};

TEST(PageProtocol, RefusesWhatItDoesNotKnow) {
  const int32_t invalid = kErrorInvalidMessage;
  const int32_t mismatch = kErrorTypeMismatch;
  const Refusal cases[] = {
      {"", invalid, {}},
      {"{", invalid, {}},
      {"[1,2]", invalid, {}},
      {"\"open\"", invalid, {}},
      {R"({"op":"open"})", invalid, {}},
      {R"({"op":5})", invalid, {}},
      {R"({"op":"launch"})", invalid, {}},
      {R"({"op":"open","width":0,"height":480,"screenWidth":1920,"screenHeight":1080})", invalid, {}},
      {R"({"op":"open","width":8193,"height":480,"screenWidth":1920,"screenHeight":1080})", invalid, {}},
      {R"({"op":"open","width":640.5,"height":480,"screenWidth":1920,"screenHeight":1080})", invalid, {}},
      {R"({"op":"resize","width":"640","height":480})", invalid, {}},
      {R"({"op":"mouse","event":6,"x":0,"y":0})", invalid, {}},
      {R"({"op":"mouse","event":1,"x":8193,"y":0})", invalid, {}},
      {R"({"op":"drawn","seq":-1})", invalid, {}},
      {R"({"op":"drawn","seq":4294967296})", invalid, {}},
      {R"({"op":"invoke","dispid":1,"flags":1})", invalid, {}},
      {R"({"op":"invoke","id":-1,"dispid":1,"flags":1})", invalid, {}},
      {R"({"op":"invoke","id":9007199254740992,"dispid":1,"flags":1})", invalid, {}},
      {R"({"op":"invoke","id":7,"flags":1})", invalid, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":0})", invalid, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":8})", invalid, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":"x"})", invalid, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17]})", invalid, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":[1.5]})", mismatch, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":[true]})", mismatch, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":[{}]})", mismatch, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":[[]]})", mismatch, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":[2147483648]})", mismatch, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":[-2147483649]})", mismatch, 7},
      {R"({"op":"invoke","id":7,"dispid":1,"flags":1,"args":[[[1]]]})", invalid, {}},
      {"{\"op\":\"invoke\",\"id\":7,\"dispid\":1,\"flags\":1,\"args\":[\"\xff\"]}", invalid, {}},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedMessage parsed = parsePageMessage(c.text);
    const auto* error = std::get_if<ProtocolError>(&parsed);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, c.code);
    EXPECT_EQ(error->id, c.id);
    EXPECT_FALSE(error->message.empty());
  }
}

TEST(PageProtocol, BoundsSizeAndNesting) {
  const std::string head = R"({"op":"invoke","id":1,"dispid":21,"flags":1,"args":[")";
  const std::string tail = "\"]}";
  std::string fits = head + std::string(kMaxMessageBytes - head.size() - tail.size(), 'a') + tail;
  ASSERT_EQ(fits.size(), kMaxMessageBytes);
  EXPECT_TRUE(std::holds_alternative<PageMessage>(parsePageMessage(fits)));
  std::string over = head + std::string(kMaxMessageBytes - head.size() - tail.size() + 1, 'a') + tail;
  EXPECT_TRUE(std::holds_alternative<ProtocolError>(parsePageMessage(over)));

  // Brackets inside a text are not nesting.
  EXPECT_TRUE(std::holds_alternative<PageMessage>(parsePageMessage(
      R"({"op":"invoke","id":1,"dispid":21,"flags":1,"args":["[[[[{{{{\"]]]"]})")));
  std::string deep(30000, '[');
  EXPECT_TRUE(std::holds_alternative<ProtocolError>(parsePageMessage(deep)));
}

TEST(PageProtocol, TextsCrossBetweenUtf8AndUtf16) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case both[] = {
      {"", u""},
      {"abc", u"abc"},
      {"\xe5\xae\x8b\xe4\xbd\x93", u"\u5b8b\u4f53"},
      {"\xf0\x9f\x93\xb7", u"\U0001F4F7"},
      {"\xc3\xa9", u"\u00e9"},
  };
  for (const Case& c : both) {
    EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(utf16ToUtf8(c.utf16), c.utf8);
  }
  // Broken input of either kind becomes U+FFFD, never a crash or a cut text.
  EXPECT_EQ(utf8ToUtf16("a\xff" "b"), u"a\uFFFDb");
  EXPECT_EQ(utf8ToUtf16("\xe5\xae"), u"\uFFFD\uFFFD");
  EXPECT_EQ(utf8ToUtf16("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(utf8ToUtf16("\xc0\xaf"), u"\uFFFD\uFFFD");            // overlong '/'
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xef\xbf\xbdx");
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xef\xbf\xbd");
}

TEST(PageProtocol, WritesHostMessages) {
  EXPECT_EQ(resultMessage(3, WireValue{WireValue::I4, -1, {}}), R"({"id":3,"op":"result","value":-1})");
  EXPECT_EQ(resultMessage(4, WireValue{}), R"({"id":4,"op":"result","value":null})");
  EXPECT_EQ(errorMessage({5, kErrorTypeMismatch, "no"}),
            R"({"code":-2147352571,"id":5,"message":"no","op":"error"})");
  EXPECT_EQ(errorMessage({std::nullopt, kErrorInvalidMessage, "x"}),
            R"({"code":-2147024809,"id":null,"message":"x","op":"error"})");
  EXPECT_EQ(eventMessage(2, {WireValue{WireValue::I4, 0, {}}, WireValue{WireValue::Text, 0, u"cam\u00e9"}}),
            R"({"args":[0,"camé"],"dispid":2,"op":"event"})");
  EXPECT_EQ(propertyMessage(18, WireValue{WireValue::Text, 0, u"/home/a"}),
            R"({"dispid":18,"op":"property","value":"/home/a"})");

  uint8_t head[kPictureHeadBytes];
  writePictureHead(head, 0x01020304, 1280, 720, kPictureJpeg);
  const uint8_t expected[kPictureHeadBytes] = {'T', 'V', 'P', '1', 4, 3, 2, 1, 0x00, 0x05, 0xD0, 0x02, 1, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(head, expected, sizeof head));
}

}  // namespace
}  // namespace tavolen::host
