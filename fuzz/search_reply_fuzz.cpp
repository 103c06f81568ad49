// Search replies as the receive thread sees them: at most one datagram's worth
// of bytes in a zeroed buffer, classified, and read like the control reads them.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/lan_search.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t buffer[SEARCH_DATAGRAM_MAX] = {};
  const size_t n = size < sizeof buffer ? size : sizeof buffer;
  if (n > 0) std::memcpy(buffer, data, n);
  if (tavolen::isSearchReply(buffer, n)) {
    const auto fields = tavolen::readSearchReply(buffer + SEARCH_REPLY_HEADER_SIZE);
    if (fields.ip.size() > SEARCH_REPLY_PORT_OFFSET) __builtin_trap();
  }
  return 0;
}
