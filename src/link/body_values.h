#pragma once
// Values of JavaScript-style assignments in a settings answer, with the bounds
// of the records they are read into.
//
// A key (which includes its "=") is found as its first occurrence anywhere in
// the body. Pure functions over a NUL-terminated body.

#include <cstddef>
#include <cstdint>

namespace tavolen {

// Longest number text read after a key; more digits are not read.
inline constexpr size_t kNumberTextMax = 255;

// key"value": copies the quoted value into field, cut to width - 1 bytes and
// NUL-terminated. An empty or missing quoted value leaves field unchanged.
// True when the key occurs.
bool extractBodyText(char* field, size_t width, const char* key, const char* body);
// key<number>; : the decimal value of the text up to ";" (0 when there is none),
// clamped to the int32 range. True when the key occurs.
bool extractBodyNumber(int32_t& value, const char* key, const char* body);

}  // namespace tavolen
