#pragma once
// Sound capture: records 8000 Hz mono 16-bit PCM into buffers the caller
// queues, and hands each one back when it is full, or partly filled when
// capture stops or is reset.

#include <functional>
#include <memory>

#include "platform/wave_buffer.h"

namespace tavolen::platform {

class WaveInDevice {
 public:
  // Runs on the device's own thread, once per returned buffer, in queue order,
  // with bytesRecorded set (length when full). It must not call back into the
  // device except addBuffer().
  using DoneCallback = std::function<void(WaveBuffer*)>;

  virtual ~WaveInDevice() = default;

  // Queues an empty buffer (any thread). False for a buffer without room or an
  // odd length.
  virtual bool addBuffer(WaveBuffer* buffer) = 0;
  // Starts recording into the queued buffers; sound that arrives while no
  // buffer is queued is lost.
  virtual bool start() = 0;
  // Stops recording; a partly filled buffer comes back with what it holds,
  // empty ones stay queued.
  virtual bool stop() = 0;
  // Stops recording and gives back every queued buffer through the callback.
  // When it returns no callback is running, so the caller may free its
  // buffers. Not from the callback.
  virtual bool reset() = 0;
};

// Opens the default capture device; null when there is none or it refuses the
// format. Destroying the device resets it first.
std::unique_ptr<WaveInDevice> openWaveIn(WaveInDevice::DoneCallback done);

}  // namespace tavolen::platform
