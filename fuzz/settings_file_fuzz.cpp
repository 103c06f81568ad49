// Settings files: any bytes as the file's text. Reading must not crash, and a
// write must land where a read finds it while every other key keeps its value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/profile_file.h"

namespace {

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size < 65536 ? size : 65536);
  for (const char* key : {"SETPATH", "FILELEN", "TIMELEN", "RESERVEDSPACE", "COVER"}) {
    if (auto v = tavolen::findProfileValue(text, "PATH", key)) (void)tavolen::parseProfileInt(*v);
  }
  const std::string written = tavolen::setProfileValue(text, "PATH", "FILELEN", "150");
  if (tavolen::findProfileValue(written, "PATH", "FILELEN") != std::optional<std::string>("150"))
    __builtin_trap();
  // Other keys, of this section and of others, read as before.
  for (const char* section : {"PATH", "path", "OTHER", ""})
    for (const char* key : {"SETPATH", "COVER", "x", "FILELEN"}) {
      if (sameName(section, "PATH") && sameName(key, "FILELEN")) continue;
      if (tavolen::findProfileValue(text, section, key) != tavolen::findProfileValue(written, section, key))
        __builtin_trap();
    }
  return 0;
}
