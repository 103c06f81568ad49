// Page messages as tavolen-host reads them from a WebSocket: any bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "page_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavolen::host;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ParsedMessage parsed = parsePageMessage(text);
  if (const auto* m = std::get_if<PageMessage>(&parsed)) {
    if (m->args.size() > kMaxArgs) __builtin_trap();
    for (const WireValue& v : m->args)
      if (v.kind == WireValue::Text && utf16ToUtf8(v.text).size() > 3 * kMaxMessageBytes) __builtin_trap();
    if (m->op == PageOp::Open && (m->width < 1 || m->width > kMaxSide)) __builtin_trap();
  } else {
    // Every refusal can be written back to the page.
    if (errorMessage(std::get<ProtocolError>(parsed)).empty()) __builtin_trap();
  }
  // The text conversions round-trip whatever they are given.
  const std::u16string wide = utf8ToUtf16(text);
  if (utf8ToUtf16(utf16ToUtf8(wide)) != wide) __builtin_trap();
  return 0;
}
