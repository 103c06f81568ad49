// Settings files: any bytes as the file's text. Reading must not crash, and a
// write must land where a read finds it while every other key keeps its value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/profile_file.h"
#include "control/utf_text.h"

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
      if (tavolen::sameNameIgnoringCase(section, "PATH") && tavolen::sameNameIgnoringCase(key, "FILELEN")) continue;
      if (tavolen::findProfileValue(text, section, key) != tavolen::findProfileValue(written, section, key))
        __builtin_trap();
    }
  return 0;
}
