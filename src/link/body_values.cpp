#include "link/body_values.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tavolen {

bool extractBodyText(char* field, size_t width, const char* key, const char* body) {
  const char* at = std::strstr(body, key);
  if (at == nullptr) return false;
  const char* p = at + std::strlen(key);
  if (*p != '"' || width == 0) return true;
  ++p;
  size_t length = 0;
  while (p[length] != '\0' && p[length] != '"') ++length;
  if (length == 0) return true;
  if (length > width - 1) length = width - 1;
  std::memcpy(field, p, length);
  field[length] = '\0';
  return true;
}

bool extractBodyNumber(int32_t& value, const char* key, const char* body) {
  const char* at = std::strstr(body, key);
  if (at == nullptr) return false;
  const char* p = at + std::strlen(key);
  char digits[kNumberTextMax + 1] = {};
  size_t length = 0;
  while (length < kNumberTextMax && p[length] != '\0' && p[length] != ';') ++length;
  std::memcpy(digits, p, length);
  errno = 0;
  long long v = std::strtoll(digits, nullptr, 10);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  value = static_cast<int32_t>(v);
  return true;
}

}  // namespace tavolen
