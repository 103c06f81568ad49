#pragma once
// Microphone capture for talking to a camera: records 8000 Hz mono 16-bit PCM
// in 1024-byte buffers (512 samples, 64 ms), encodes each into one 256-byte
// IMA ADPCM block and hands the block to the talk callback.
//
// Threads: startDualTalk and stopDualTalk come from any thread and are
// serialised on controlLock_. The capture thread receives the filled buffers
// as messages from the device, runs OnWaveData (and so the callback) and gives
// the buffers back to the device. The device's own thread only posts messages.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "media/adpcm_codec.h"
#include "platform/event.h"
#include "platform/wave_in_device.h"
#include "tavolen/types.h"

namespace tavolen {

class CWaveIn {
 public:
  static constexpr int32_t kBufferCount = 10;
  static constexpr int32_t kBufferBytes = 1024;
  static constexpr int32_t kBlockBytes = kBufferBytes / 4;
  // OnWaveData encodes into a fixed output area; larger inputs are ignored.
  static constexpr int32_t kOutputAreaBytes = 2500;
  static constexpr int32_t kMaxWaveDataBytes = kOutputAreaBytes * 4;
  // How long stopping waits for the capture thread before abandoning it.
  static constexpr uint32_t kThreadStopWaitMs = 500;

  CWaveIn() = default;
  CWaveIn(const CWaveIn&) = delete;
  CWaveIn& operator=(const CWaveIn&) = delete;

  // Encodes byteCount / 2 samples and passes byteCount / 4 bytes to the talk
  // callback, if one is set. Capture thread.
  virtual void OnWaveData(const int16_t* samples, int32_t byteCount);
  // Stops a running capture first; waits for an abandoned capture thread,
  // since it may still be inside the talk callback.
  virtual ~CWaveIn();

  // 1 when capturing (already, or now), 0 when it could not start.
  int32_t startDualTalk(TalkCallback callback, void* user);
  // Stops the device, ends the capture thread, returns the buffers and closes
  // the device. Always 1.
  int32_t stopDualTalk();

  bool capturing() const { return capturing_; }
  bool threadRunning() const { return threadRunning_; }
  // 0 when the last device call succeeded.
  int32_t lastResult() const { return lastResult_; }

 private:
  struct Message {
    enum Kind { WaveData, Quit } kind;
    uintptr_t index;          // which buffer
    uint32_t bytesRecorded;   // as the device returned it
    uint64_t generation;      // the device it came from
  };

  void beginCapture(TalkCallback callback, void* user);
  bool openDevice();
  bool queueBuffers();
  void stopThread();
  bool unqueueBuffers();
  void closeDevice();
  void endCapture();
  void stopDevice();
  void captureThreadMain();
  bool waitThreadExit(uint32_t ms);

  void post(const Message& m);
  Message getMessage();

  AdpcmState adpcmState_;  // capture thread only
  int32_t deviceId_ = 0;
  int16_t channels_ = 1;
  int32_t sampleRate_ = 8000;
  int16_t bitsPerSample_ = 16;
  int32_t bufferCount_ = kBufferCount;
  int32_t lastResult_ = 0;

  std::mutex controlLock_;  // one start or stop at a time

  // Guards what the capture thread shares with start and stop: the callback
  // pair, the device, the headers, the generation and the abandoned flag.
  std::mutex threadLock_;
  TalkCallback talkCallback_ = nullptr;
  void* userData_ = nullptr;
  std::unique_ptr<platform::WaveInDevice> hWaveIn_;
  std::unique_ptr<platform::WaveBuffer[]> headers_;
  // Bumped whenever a device is opened or closed, so that a message from an
  // earlier device never touches the buffers of the current one.
  uint64_t generation_ = 0;
  bool abandoned_ = false;

  std::thread thread_;
  platform::Event threadExited_{platform::Event::Reset::Manual};

  // The capture thread's message queue.
  std::mutex messageLock_;
  std::condition_variable messageReady_;
  std::deque<Message> messages_;

  // Start and stop only (under controlLock_).
  bool threadRunning_ = false;
  bool deviceOpen_ = false;
  bool buffersQueued_ = false;
  std::atomic<bool> capturing_{false};

  alignas(int16_t) uint8_t buffers_[kBufferCount * kBufferBytes] = {};
};

}  // namespace tavolen
