#include "text_output.h"

#include <cstdint>
#include <cstdio>

namespace tavolen::cli {

namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
size_t utf8Length(std::string_view text, size_t i) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = b(i);
  size_t n;
  uint32_t cp;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) n = 2, cp = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) n = 3, cp = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) n = 4, cp = lead & 0x07;
  else return 0;
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  return n;
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return out;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    const size_t n = utf8Length(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text.substr(i, n));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
    i += n;
  }
  return out + "\"";
}

void JsonWriter::separate() {
  if (needComma_) out_ += ',';
  needComma_ = false;
}

JsonWriter& JsonWriter::beginObject() {
  separate();
  out_ += '{';
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  out_ += '}';
  needComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  separate();
  out_ += '[';
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  out_ += ']';
  needComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  separate();
  out_ += jsonString(name);
  out_ += ':';
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  separate();
  out_ += jsonString(text);
  needComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(long long number) {
  separate();
  out_ += std::to_string(number);
  needComma_ = true;
  return *this;
}

}  // namespace tavolen::cli
