#pragma once
// Sound output of a player: 16-bit PCM chunks are queued by the player and
// played through a ring of five 2048-byte device buffers. Each buffer the device
// finishes is refilled with the next chunk, or with silence when none is
// waiting, and handed straight back, so the ring keeps turning in the order the
// device finishes buffers.
//
// Threads: openOutput and closeOutput come from the player's controlling
// thread, one at a time. queuePcm may come from any thread. The refill runs on
// the output device's own thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/wave_out_device.h"

namespace tavolen {

class CWaveOut {
 public:
  static constexpr int32_t kBufferCount = 5;
  static constexpr int32_t kBufferBytes = 2048;
  // About 8 s of sound. A camera that sends faster than we play would
  // otherwise grow the delay and the memory without end; past this the oldest
  // chunk goes, so what is heard stays the newest.
  static constexpr size_t kMaxQueuedChunks = 64;

  CWaveOut() = default;
  virtual ~CWaveOut();
  CWaveOut(const CWaveOut&) = delete;
  CWaveOut& operator=(const CWaveOut&) = delete;

  // 1 when the output is open (already, or now), 0 when there is no output
  // device or it cannot be opened. The device starts on 5 x 2048 bytes of
  // silence.
  int32_t openOutput();
  // Appends one chunk of byteCount bytes. Ignored when byteCount is 0, odd or
  // above 2048, or samples is null.
  void queuePcm(int32_t byteCount, const int16_t* samples);
  // Stops and closes the device, frees the buffers and every queued chunk.
  // Always 1.
  int32_t closeOutput();

  size_t queuedChunks() const;
  // Chunks dropped because the queue was full, since construction.
  uint64_t droppedChunks() const { return dropped_.load(); }

 private:
  struct Chunk {
    uint32_t byteCount;
    uint8_t bytes[kBufferBytes];
  };

  void onBufferDone(platform::WaveBuffer* buffer);

  mutable std::mutex lock_;  // guards chunks_ only
  std::deque<std::unique_ptr<Chunk>> chunks_;
  platform::WaveBuffer buffers_[kBufferCount];
  std::unique_ptr<uint8_t[]> data_[kBufferCount];
  // Set by openOutput before the first buffer goes out and cleared by
  // closeOutput; the device thread reads it only between.
  std::unique_ptr<platform::WaveOutDevice> device_;
  // Refills happen only while set; cleared before the device is reset, so the
  // buffers the reset gives back are not sent out again.
  std::atomic<int32_t> running_{0};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace tavolen
