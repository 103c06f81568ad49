#pragma once
// A block of 16-bit mono PCM handed to a wave device. The caller owns the
// header and its data; the device only borrows them between handing in and
// handing back.

#include <cstdint>

namespace tavolen::platform {

// The one format every wave device here speaks.
inline constexpr uint32_t kWaveSampleRate = 8000;
inline constexpr uint32_t kWaveChannels = 1;
inline constexpr uint32_t kWaveBitsPerSample = 16;

struct WaveBuffer {
  uint8_t* data = nullptr;
  // Output: bytes to play. Input: room in data.
  uint32_t length = 0;
  // Input only: bytes recorded when the buffer came back.
  uint32_t bytesRecorded = 0;
  // Free for the owner (which buffer of its ring this is, for example).
  uintptr_t user = 0;
};

}  // namespace tavolen::platform
