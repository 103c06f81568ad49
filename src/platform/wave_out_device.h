#pragma once
// Sound output: plays 8000 Hz mono 16-bit PCM from buffers the caller hands
// in, and hands each one back once its bytes have gone to the device.

#include <functional>
#include <memory>

#include "platform/wave_buffer.h"

namespace tavolen::platform {

class WaveOutDevice {
 public:
  // Runs on the device's own thread, once per buffer, in the order the buffers
  // were written. It may call write() again (to keep a ring going); it must not
  // call reset() or destroy the device.
  using DoneCallback = std::function<void(WaveBuffer*)>;

  virtual ~WaveOutDevice() = default;

  // Appends the buffer to the play queue (any thread). False once reset() has
  // begun, or for an empty or odd-length buffer; the buffer then stays the
  // caller's and no callback comes for it.
  virtual bool write(WaveBuffer* buffer) = 0;

  // Stops playback at once and gives back every queued buffer without a
  // callback. When it returns no callback is running or will run again, so the
  // caller may free its buffers; later writes are refused. Not from the
  // callback.
  virtual void reset() = 0;
};

// Opens the default output device; null when there is none or it refuses the
// format. Destroying the device resets it first.
std::unique_ptr<WaveOutDevice> openWaveOut(WaveOutDevice::DoneCallback done);

}  // namespace tavolen::platform
