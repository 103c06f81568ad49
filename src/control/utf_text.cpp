#include "control/utf_text.h"

#include <cstring>

namespace tavolen {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes one character at text[at]; advances at. Malformed sequences
// (overlong forms, surrogates, values past U+10FFFF, cut sequences) give
// U+FFFD and consume one byte.
char32_t decodeOne(std::string_view text, size_t& at) {
  const auto b0 = static_cast<unsigned char>(text[at]);
  if (b0 < 0x80) {
    ++at;
    return b0;
  }
  size_t len = 0;
  char32_t c = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    ++at;
    return kReplacement;
  }
  if (text.size() - at < len) {
    ++at;
    return kReplacement;
  }
  for (size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(text[at + i]);
    if (!isContinuation(b)) {
      ++at;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++at;
    return kReplacement;
  }
  at += len;
  return c;
}

}  // namespace

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::u16string utf8ToUtf16(std::string_view text, size_t maxUnits) {
  std::u16string out;
  size_t at = 0;
  while (at < text.size() && text[at] != '\0') {
    const char32_t c = decodeOne(text, at);
    if (c >= 0x10000) {
      if (out.size() + 2 > maxUnits) break;
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      if (out.size() + 1 > maxUnits) break;
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string_view cutUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  // Back up over the continuation bytes of a character that does not fit,
  // and over its lead byte.
  while (end > 0 && isContinuation(static_cast<unsigned char>(text[end]))) --end;
  return text.substr(0, end);
}

size_t copyUtf8Field(char* field, size_t size, std::string_view text) {
  if (size == 0) return 0;
  std::memset(field, 0, size);
  const std::string_view cut = cutUtf8(text, size - 1);
  std::memcpy(field, cut.data(), cut.size());
  return cut.size();
}

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string_view fieldText(const char* field, size_t size) {
  const void* nul = std::memchr(field, 0, size);
  return {field, nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : size};
}

}  // namespace tavolen
