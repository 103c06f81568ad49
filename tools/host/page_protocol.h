#pragma once
// The messages between a page (tavolen.js) and the host on one WebSocket.
//
// Page to host, JSON text, one object with an "op":
//   {"op":"open","width":W,"height":H,"screenWidth":SW,"screenHeight":SH}
//   {"op":"invoke","id":N,"dispid":D,"flags":F,"args":[...]}  F: 1 call, 2 get, 4 put
//   {"op":"mouse","event":E,"x":X,"y":Y}
//   {"op":"resize","width":W,"height":H}
//   {"op":"screen","width":W,"height":H}
//   {"op":"drawn","seq":S}            the page drew picture S; it may get the next
// Argument values: a JSON integer in the signed 32-bit range is I4, a string
// is a text, null is EMPTY. tavolen.js converts script values before sending.
//
// Host to page, JSON text, in the order things happened:
//   {"op":"ready","members":[...],"library":{...},"properties":[{"dispid":D,"value":V}...]}
//   {"op":"property","dispid":D,"value":V}   a property's value changed
//   {"op":"event","dispid":D,"args":[...]}
//   {"op":"result","id":N,"value":V}         V null for VOID methods and puts
//   {"op":"error","id":N|null,"code":C,"message":"..."}
//   {"op":"window","x":..,"y":..,"width":..,"height":..,"visible":..,"fullScreen":..}
// and binary pictures: a 16-byte little-endian head (magic "TVP1", sequence
// number, width and height as 16-bit values, format, 3 zero bytes) then the
// encoded picture.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavolen::host {

// Bounds on what a page may send. A text message over kMaxMessageBytes is
// answered with an error; the WebSocket layer closes the connection on one
// over kMaxFrameBytes without reading it whole.
inline constexpr size_t kMaxMessageBytes = 64 * 1024;
inline constexpr size_t kMaxFrameBytes = 1024 * 1024;
inline constexpr size_t kMaxArgs = 16;
inline constexpr int kMaxNesting = 3;
inline constexpr int32_t kMaxSide = 8192;
inline constexpr int64_t kMaxInvokeId = (int64_t{1} << 53) - 1;  // exact in a JS number

// Error codes carried in "error" messages, beside the automation codes the
// control returns.
inline constexpr int32_t kErrorInvalidMessage = static_cast<int32_t>(0x80070057u);  // E_INVALIDARG
inline constexpr int32_t kErrorTypeMismatch = static_cast<int32_t>(0x80020005u);
inline constexpr int32_t kErrorCallRejected = static_cast<int32_t>(0x80010001u);   // rate bound
inline constexpr int32_t kErrorNotReady = static_cast<int32_t>(0x8000FFFFu);       // E_UNEXPECTED

struct WireValue {
  enum Kind { Empty, I4, Text } kind = Empty;
  int32_t i4 = 0;
  std::u16string text;
  bool operator==(const WireValue&) const = default;
};

enum class PageOp { Open, Invoke, Mouse, Resize, Screen, Drawn };

struct PageMessage {
  PageOp op = PageOp::Open;
  int64_t id = 0;       // invoke
  int32_t dispid = 0;   // invoke
  int32_t flags = 0;    // invoke
  std::vector<WireValue> args;
  int32_t event = 0;    // mouse
  int32_t x = 0, y = 0;
  int32_t width = 0, height = 0;               // open, resize, screen
  int32_t screenWidth = 0, screenHeight = 0;   // open
  uint32_t seq = 0;     // drawn
};

struct ProtocolError {
  std::optional<int64_t> id;  // the invoke it answers, when it could be read
  int32_t code = kErrorInvalidMessage;
  std::string message;
};

using ParsedMessage = std::variant<PageMessage, ProtocolError>;

// Parses one text message from a page. Never throws; every shape it does not
// know is a ProtocolError.
ParsedMessage parsePageMessage(std::string_view text);

// Texts between UTF-8 (JSON) and UTF-16 (the control). Invalid input becomes
// U+FFFD; neither throws.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

// Host to page messages (JSON text).
std::string resultMessage(int64_t id, const WireValue& value);
std::string errorMessage(const ProtocolError& error);
std::string propertyMessage(int32_t dispid, const WireValue& value);
std::string eventMessage(int32_t dispid, const std::vector<WireValue>& args);

struct WindowView {
  int32_t x = 0, y = 0, width = 0, height = 0, visible = 0, fullScreen = 0;
  bool operator==(const WindowView&) const = default;
};
std::string windowMessage(const WindowView& view);

// Binary picture head.
inline constexpr size_t kPictureHeadBytes = 16;
inline constexpr uint8_t kPictureJpeg = 1;
inline constexpr uint8_t kPictureRaw = 2;  // 4 bytes a pixel: red, green, blue, 255
void writePictureHead(uint8_t* head, uint32_t seq, int width, int height, uint8_t format);

}  // namespace tavolen::host

namespace tavolen::host {

// The member table as the page sees it: type names "I4", "BSTR", "VOID".
struct MemberParam {
  std::string name;
  std::string type;
};
struct MemberRow {
  std::string name;
  int32_t dispid = 0;
  std::string kind;  // "method", "property" or "event"
  std::string type;
  std::vector<MemberParam> params;
  std::string help;
};
struct LibraryRow {
  std::string libraryGuid, dispatchGuid, eventsGuid, controlGuid, propertyPageGuid, progId, typeName;
  int32_t versionMajor = 0, versionMinor = 0;
};
std::string readyMessage(const std::vector<MemberRow>& members, const LibraryRow& library,
                         const std::vector<std::pair<int32_t, WireValue>>& properties);

}  // namespace tavolen::host
