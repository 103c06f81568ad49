#pragma once
// Reading the 32-byte media frame header from received bytes, and the rules
// every consumer applies to a frame before trusting its payload.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tavolen/types.h"

namespace tavolen {

inline constexpr uint32_t kFrameMagic = TAVOLEN_FRAME_MAGIC;
inline constexpr size_t kFrameHeaderSize = FRAME_HEADER_SIZE;
inline constexpr uint32_t kMaxPayload = MAX_PAYLOAD;
inline constexpr size_t kMaxFrameSize = MAX_FRAME_SIZE;

inline uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t readLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void writeLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void writeLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Decodes the header at p (32 readable bytes) field by field, independent of
// the host's byte order and alignment.
inline FrameHeader parseFrameHeader(const uint8_t* p) {
  FrameHeader h;
  std::memset(&h, 0, sizeof h);
  h.magic = readLe32(p + 0);
  h.frameType = p[4];
  h.reserved0 = p[5];
  h.milliseconds = readLe16(p + 6);
  h.timestamp = readLe32(p + 8);
  h.sequence = readLe32(p + 12);
  h.payloadLength = readLe32(p + 16);
  std::memcpy(h.reserved1, p + 20, sizeof h.reserved1);
  h.timeZone = static_cast<int8_t>(p[25]);
  std::memcpy(h.reserved2, p + 26, sizeof h.reserved2);
  return h;
}

inline void serializeFrameHeader(const FrameHeader& h, uint8_t* p) {
  writeLe32(p + 0, h.magic);
  p[4] = h.frameType;
  p[5] = h.reserved0;
  writeLe16(p + 6, h.milliseconds);
  writeLe32(p + 8, h.timestamp);
  writeLe32(p + 12, h.sequence);
  writeLe32(p + 16, h.payloadLength);
  std::memcpy(p + 20, h.reserved1, sizeof h.reserved1);
  p[25] = static_cast<uint8_t>(h.timeZone);
  std::memcpy(p + 26, h.reserved2, sizeof h.reserved2);
}

// A delivered frame is (header address, 32 + payloadLength). True when length
// is a whole frame whose header agrees with it and fits a frame block.
inline bool isWholeFrame(const uint8_t* frame, size_t length) {
  if (frame == nullptr || length < kFrameHeaderSize || length > kMaxFrameSize) return false;
  const uint32_t payload = readLe32(frame + 16);
  return payload <= kMaxPayload && kFrameHeaderSize + payload == length;
}

// Sound blocks have one fixed size per code; any other length is dropped.
inline bool isValidAudioBlock(uint8_t frameType, uint32_t payloadLength) {
  if (frameType == FRAME_AUDIO_ADPCM) return payloadLength == ADPCM_BLOCK_BYTES;
  if (frameType == FRAME_AUDIO_ALAW) return payloadLength == ALAW_BLOCK_BYTES;
  return false;
}

// The wall-clock time shown for a frame, in seconds since 1970, to be broken
// down as UTC.
inline int64_t shownFrameTime(uint32_t timestamp, int8_t timeZone) {
  return static_cast<int64_t>(timestamp) - static_cast<int64_t>(timeZone) * 3600;
}

}  // namespace tavolen
