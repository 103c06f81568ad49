#pragma once
// Text conversions of the control. Script texts arrive as UTF-16; every record
// and file of this system holds UTF-8 (which also stands in for the "ANSI code
// page" of snapshot names and the camera alias). Fields have fixed sizes, so a
// text that does not fit is cut at the last whole character that fits, never
// inside one.
//
// Malformed input (a lone surrogate, a broken UTF-8 sequence) becomes U+FFFD.
// Pure functions, callable from any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavolen {

// UTF-16 to UTF-8, whole.
std::string utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16, at most maxUnits code units (a surrogate pair is never
// split); stops at a NUL byte.
std::u16string utf8ToUtf16(std::string_view text, size_t maxUnits);

// The longest prefix of text of at most maxBytes bytes that ends on a
// character boundary.
std::string_view cutUtf8(std::string_view text, size_t maxBytes);

// Zero-fills field[0..size) and copies text cut to size - 1 bytes, so a
// terminating zero always remains. Returns the bytes copied.
size_t copyUtf8Field(char* field, size_t size, std::string_view text);

// Names compared as automation and the profile functions compare them:
// ASCII letters without regard to case, every other byte as it is.
bool sameNameIgnoringCase(std::string_view a, std::string_view b);

// The text of a zero-terminated field (stops at the first NUL or at size).
std::string_view fieldText(const char* field, size_t size);

}  // namespace tavolen
