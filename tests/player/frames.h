#pragma once
// Whole media frames built in tests.

#include <cstdint>
#include <cstring>
#include <vector>

#include "tavolen/types.h"

namespace tavolen::test {

inline std::vector<uint8_t> makeFrame(uint8_t type, const std::vector<uint8_t>& payload,
                                      uint32_t timestamp = 1000000000, int8_t timeZone = 0) {
  std::vector<uint8_t> f(FRAME_HEADER_SIZE + payload.size());
  FrameHeader h{};
  h.magic = TAVOLEN_FRAME_MAGIC;
  h.frameType = type;
  h.timestamp = timestamp;
  h.payloadLength = static_cast<uint32_t>(payload.size());
  h.timeZone = timeZone;
  std::memcpy(f.data(), &h, sizeof h);
  if (!payload.empty()) std::memcpy(f.data() + FRAME_HEADER_SIZE, payload.data(), payload.size());
  return f;
}

inline std::vector<uint8_t> makeFrame(uint8_t type, size_t payloadBytes, uint8_t fill = 0) {
  return makeFrame(type, std::vector<uint8_t>(payloadBytes, fill));
}

inline int32_t len(const std::vector<uint8_t>& f) { return static_cast<int32_t>(f.size()); }

}  // namespace tavolen::test
