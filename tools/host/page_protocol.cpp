#include "page_protocol.h"

#include <nlohmann/json.hpp>

namespace tavolen::host {
namespace {

using nlohmann::json;

ProtocolError invalid(std::string message, std::optional<int64_t> id = std::nullopt) {
  return ProtocolError{id, kErrorInvalidMessage, std::move(message)};
}

// Deeper nesting than any valid message has is refused before the JSON
// parser builds anything from it.
bool nestingWithin(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

bool readInt(const json& object, const char* key, int64_t low, int64_t high, int64_t& out) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return false;
  const int64_t value = it->is_number_unsigned()
                            ? (it->get<uint64_t>() > static_cast<uint64_t>(high) ? high + 1
                                                                                 : it->get<int64_t>())
                            : it->get<int64_t>();
  if (value < low || value > high) return false;
  out = value;
  return true;
}

bool readInt32(const json& object, const char* key, int32_t low, int32_t high, int32_t& out) {
  int64_t value = 0;
  if (!readInt(object, key, low, high, value)) return false;
  out = static_cast<int32_t>(value);
  return true;
}

bool readSize(const json& object, const char* key, int32_t& out) {
  return readInt32(object, key, 1, kMaxSide, out);
}

std::optional<WireValue> readValue(const json& value) {
  if (value.is_null()) return WireValue{};
  if (value.is_string()) return WireValue{WireValue::Text, 0, utf8ToUtf16(value.get_ref<const std::string&>())};
  if (value.is_number_integer()) {
    if (value.is_number_unsigned()) {
      if (value.get<uint64_t>() > 0x7FFFFFFFu) return std::nullopt;
      return WireValue{WireValue::I4, static_cast<int32_t>(value.get<uint64_t>()), {}};
    }
    const int64_t n = value.get<int64_t>();
    if (n < INT32_MIN || n > INT32_MAX) return std::nullopt;
    return WireValue{WireValue::I4, static_cast<int32_t>(n), {}};
  }
  return std::nullopt;
}

json toJson(const WireValue& value) {
  switch (value.kind) {
    case WireValue::I4: return value.i4;
    case WireValue::Text: return utf16ToUtf8(value.text);
    case WireValue::Empty: break;
  }
  return nullptr;
}

std::string dump(const json& message) {
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

ParsedMessage parseInvoke(const json& object) {
  int64_t id = 0;
  if (!readInt(object, "id", 0, kMaxInvokeId, id)) return invalid("invoke needs an id");
  PageMessage m;
  m.op = PageOp::Invoke;
  m.id = id;
  if (!readInt32(object, "dispid", INT32_MIN, INT32_MAX, m.dispid))
    return invalid("invoke needs a dispid", id);
  if (!readInt32(object, "flags", 1, 7, m.flags)) return invalid("invoke needs flags 1 to 7", id);
  const auto args = object.find("args");
  if (args != object.end()) {
    if (!args->is_array()) return invalid("args must be an array", id);
    if (args->size() > kMaxArgs) return invalid("too many arguments", id);
    for (const json& value : *args) {
      auto converted = readValue(value);
      if (!converted)
        return ProtocolError{id, kErrorTypeMismatch,
                             "arguments are 32-bit integers, texts or null"};
      m.args.push_back(std::move(*converted));
    }
  }
  return m;
}

}  // namespace

ParsedMessage parsePageMessage(std::string_view text) {
  if (text.size() > kMaxMessageBytes) return invalid("message too large");
  if (!nestingWithin(text, kMaxNesting)) return invalid("message nested too deeply");
  const json object = json::parse(text, nullptr, false);
  if (object.is_discarded()) return invalid("malformed JSON");
  if (!object.is_object()) return invalid("a message is a JSON object");
  const auto opIt = object.find("op");
  if (opIt == object.end() || !opIt->is_string()) return invalid("message without op");
  const std::string& op = opIt->get_ref<const std::string&>();

  PageMessage m;
  if (op == "invoke") return parseInvoke(object);
  if (op == "open") {
    m.op = PageOp::Open;
    if (!readSize(object, "width", m.width) || !readSize(object, "height", m.height) ||
        !readSize(object, "screenWidth", m.screenWidth) ||
        !readSize(object, "screenHeight", m.screenHeight))
      return invalid("open needs width, height, screenWidth and screenHeight of 1 to 8192");
    return m;
  }
  if (op == "resize" || op == "screen") {
    m.op = op == "resize" ? PageOp::Resize : PageOp::Screen;
    if (!readSize(object, "width", m.width) || !readSize(object, "height", m.height))
      return invalid(op + " needs width and height of 1 to 8192");
    return m;
  }
  if (op == "mouse") {
    m.op = PageOp::Mouse;
    if (!readInt32(object, "event", 1, 5, m.event) ||
        !readInt32(object, "x", -kMaxSide, kMaxSide, m.x) ||
        !readInt32(object, "y", -kMaxSide, kMaxSide, m.y))
      return invalid("mouse needs an event of 1 to 5 and x, y");
    return m;
  }
  if (op == "drawn") {
    int64_t seq = 0;
    m.op = PageOp::Drawn;
    if (!readInt(object, "seq", 0, UINT32_MAX, seq)) return invalid("drawn needs a seq");
    m.seq = static_cast<uint32_t>(seq);
    return m;
  }
  return invalid("unknown op");
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    uint32_t point = 0xFFFD;
    size_t length = 1;
    if (c < 0x80) {
      point = c;
    } else {
      const int extra = c >= 0xF5 ? -1 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
      if (extra > 0 && i + static_cast<size_t>(extra) < text.size()) {
        uint32_t value = c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
          const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
          if ((next & 0xC0) != 0x80) { ok = false; break; }
          value = (value << 6) | (next & 0x3F);
        }
        const uint32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
        if (ok && value >= minimum && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
          point = value;
          length = static_cast<size_t>(extra) + 1;
        }
      }
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(point));
    }
    i += length;
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t point = text[i];
    if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      point = 0xFFFD;
    }
    if (point < 0x80) {
      out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (point >> 6)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (point >> 12)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (point >> 18)));
      out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
  }
  return out;
}

std::string resultMessage(int64_t id, const WireValue& value) {
  return dump({{"op", "result"}, {"id", id}, {"value", toJson(value)}});
}

std::string errorMessage(const ProtocolError& error) {
  json message = {{"op", "error"}, {"code", error.code}, {"message", error.message}};
  message["id"] = error.id ? json(*error.id) : json(nullptr);
  return dump(message);
}

std::string propertyMessage(int32_t dispid, const WireValue& value) {
  return dump({{"op", "property"}, {"dispid", dispid}, {"value", toJson(value)}});
}

std::string eventMessage(int32_t dispid, const std::vector<WireValue>& args) {
  json list = json::array();
  for (const WireValue& value : args) list.push_back(toJson(value));
  return dump({{"op", "event"}, {"dispid", dispid}, {"args", std::move(list)}});
}

std::string windowMessage(const WindowView& view) {
  return dump({{"op", "window"}, {"x", view.x}, {"y", view.y}, {"width", view.width},
               {"height", view.height}, {"visible", view.visible}, {"fullScreen", view.fullScreen}});
}

std::string readyMessage(const std::vector<MemberRow>& members, const LibraryRow& library,
                         const std::vector<std::pair<int32_t, WireValue>>& properties) {
  json table = json::array();
  for (const MemberRow& member : members) {
    json params = json::array();
    for (const MemberParam& p : member.params) params.push_back({{"name", p.name}, {"type", p.type}});
    json row = {{"name", member.name}, {"dispid", member.dispid}, {"kind", member.kind},
                {"type", member.type}, {"params", std::move(params)}};
    if (!member.help.empty()) row["help"] = member.help;
    table.push_back(std::move(row));
  }
  json values = json::array();
  for (const auto& [dispid, value] : properties)
    values.push_back({{"dispid", dispid}, {"value", toJson(value)}});
  const json lib = {{"libraryGuid", library.libraryGuid},   {"dispatchGuid", library.dispatchGuid},
                    {"eventsGuid", library.eventsGuid},     {"controlGuid", library.controlGuid},
                    {"propertyPageGuid", library.propertyPageGuid},
                    {"progId", library.progId},             {"typeName", library.typeName},
                    {"versionMajor", library.versionMajor}, {"versionMinor", library.versionMinor}};
  return dump({{"op", "ready"}, {"members", std::move(table)}, {"library", lib},
               {"properties", std::move(values)}});
}

void writePictureHead(uint8_t* head, uint32_t seq, int width, int height, uint8_t format) {
  head[0] = 'T';
  head[1] = 'V';
  head[2] = 'P';
  head[3] = '1';
  for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<uint8_t>(seq >> (8 * i));
  head[8] = static_cast<uint8_t>(width);
  head[9] = static_cast<uint8_t>(width >> 8);
  head[10] = static_cast<uint8_t>(height);
  head[11] = static_cast<uint8_t>(height >> 8);
  head[12] = format;
  head[13] = head[14] = head[15] = 0;
}

}  // namespace tavolen::host
