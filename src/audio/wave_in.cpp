#include "audio/wave_in.h"

#include <cstring>

#include "platform/tick.h"

namespace tavolen {

namespace {
constexpr int32_t kOk = 0;
constexpr int32_t kError = 1;
}  // namespace

CWaveIn::~CWaveIn() {
  {
    std::lock_guard<std::mutex> control(controlLock_);
    endCapture();
  }
  // An abandoned thread may still be in the callback and come back to this
  // object; it leaves at once when it does, and then the object can go.
  if (thread_.joinable()) thread_.join();
}

void CWaveIn::OnWaveData(const int16_t* samples, int32_t byteCount) {
  TalkCallback callback;
  void* user;
  {
    std::lock_guard<std::mutex> guard(threadLock_);
    callback = talkCallback_;
    user = userData_;
  }
  if (!callback || !samples || byteCount < 0 || byteCount > kMaxWaveDataBytes) return;
  uint8_t output[kOutputAreaBytes] = {};
  adpcmEncode(adpcmState_, samples, byteCount, output);
  callback(output, byteCount / 4, user);
}

int32_t CWaveIn::startDualTalk(TalkCallback callback, void* user) {
  std::lock_guard<std::mutex> control(controlLock_);
  beginCapture(callback, user);
  if (capturing_) return 1;
  if (!hWaveIn_) return 0;
  if (!hWaveIn_->start()) {
    lastResult_ = kError;
    return 0;
  }
  lastResult_ = kOk;
  capturing_ = true;
  return 1;
}

int32_t CWaveIn::stopDualTalk() {
  std::lock_guard<std::mutex> control(controlLock_);
  stopDevice();
  endCapture();
  return 1;
}

void CWaveIn::stopDevice() {
  if (capturing_ && hWaveIn_) {
    if (hWaveIn_->stop()) {
      capturing_ = false;
      lastResult_ = kOk;
    } else {
      lastResult_ = kError;
    }
  }
}

void CWaveIn::beginCapture(TalkCallback callback, void* user) {
  if (!callback) return;
  {
    std::lock_guard<std::mutex> guard(threadLock_);
    talkCallback_ = callback;
    userData_ = user;
  }
  if (!threadRunning_) {
    // A thread abandoned by an earlier stop must be gone before another one
    // uses the buffers and the encoder; if it is still stuck, talk fails.
    if (thread_.joinable()) {
      if (!waitThreadExit(kThreadStopWaitMs)) {
        lastResult_ = kError;
        return;
      }
      thread_.join();
    }
    {
      std::lock_guard<std::mutex> guard(messageLock_);
      messages_.clear();  // a new thread starts with an empty queue
    }
    {
      std::lock_guard<std::mutex> guard(threadLock_);
      abandoned_ = false;
    }
    threadExited_.reset();
    try {
      thread_ = std::thread([this] { captureThreadMain(); });
    } catch (const std::system_error&) {
      lastResult_ = kError;
      return;
    }
    threadRunning_ = true;
  }
  if (!openDevice()) {
    stopThread();
  } else if (!queueBuffers()) {
    closeDevice();
  }
}

bool CWaveIn::openDevice() {
  if (deviceOpen_) return true;
  // The device reports in the format fixed above (channels_, sampleRate_,
  // bitsPerSample_); it refuses to open when it cannot deliver it.
  uint64_t generation;
  {
    std::lock_guard<std::mutex> guard(threadLock_);
    generation = ++generation_;
  }
  auto device = platform::openWaveIn([this, generation](platform::WaveBuffer* b) {
    post(Message{Message::WaveData, b->user, b->bytesRecorded, generation});
  });
  if (!device) {
    lastResult_ = kError;
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(threadLock_);
    hWaveIn_ = std::move(device);
  }
  deviceOpen_ = true;
  lastResult_ = kOk;
  return true;
}

bool CWaveIn::queueBuffers() {
  if (buffersQueued_) return true;
  if (!hWaveIn_ || !hWaveIn_->reset()) {
    lastResult_ = kError;
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(threadLock_);
    headers_ = std::make_unique<platform::WaveBuffer[]>(static_cast<size_t>(bufferCount_));
    for (int32_t i = 0; i < bufferCount_; ++i)
      headers_[i] = platform::WaveBuffer{buffers_ + i * kBufferBytes, static_cast<uint32_t>(kBufferBytes), 0,
                                         static_cast<uintptr_t>(i)};
  }
  for (int32_t i = 0; i < bufferCount_; ++i) {
    if (!hWaveIn_->addBuffer(&headers_[i])) {
      lastResult_ = kError;
      return false;
    }
  }
  buffersQueued_ = true;
  lastResult_ = kOk;
  return true;
}

void CWaveIn::stopThread() {
  if (!threadRunning_) return;
  post(Message{Message::Quit, 0, 0, 0});
  if (waitThreadExit(kThreadStopWaitMs)) {
    thread_.join();
  } else {
    // Stuck, most likely in the talk callback. It is not killed: that could
    // leave the callback's own work half done. From here on it leaves the
    // device and the buffers alone and ends when the callback returns; the
    // object waits for it before it goes.
    std::lock_guard<std::mutex> guard(threadLock_);
    abandoned_ = true;
  }
  threadRunning_ = false;
}

bool CWaveIn::unqueueBuffers() {
  if (!buffersQueued_) return true;
  if (!headers_) return false;
  // The device gives every buffer back before reset returns.
  if (!hWaveIn_ || !hWaveIn_->reset()) {
    lastResult_ = kError;
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(threadLock_);
    headers_.reset();
  }
  buffersQueued_ = false;
  lastResult_ = kOk;
  return true;
}

void CWaveIn::closeDevice() {
  if (!deviceOpen_ || !hWaveIn_) return;
  std::unique_ptr<platform::WaveInDevice> device;
  {
    std::lock_guard<std::mutex> guard(threadLock_);
    device = std::move(hWaveIn_);
    ++generation_;
  }
  device.reset();  // resets first: every buffer is back
  deviceOpen_ = false;
  buffersQueued_ = false;
  // A closed device captures nothing, whatever an earlier stop reported.
  capturing_ = false;
}

void CWaveIn::endCapture() {
  stopDevice();
  stopThread();
  unqueueBuffers();
  closeDevice();
}

bool CWaveIn::waitThreadExit(uint32_t ms) { return threadExited_.wait(ms); }

void CWaveIn::post(const Message& m) {
  {
    std::lock_guard<std::mutex> guard(messageLock_);
    messages_.push_back(m);
  }
  messageReady_.notify_one();
}

CWaveIn::Message CWaveIn::getMessage() {
  std::unique_lock<std::mutex> guard(messageLock_);
  messageReady_.wait(guard, [this] { return !messages_.empty(); });
  Message m = messages_.front();
  messages_.pop_front();
  return m;
}

void CWaveIn::captureThreadMain() {
  for (;;) {
    const Message m = getMessage();
    if (m.kind == Message::Quit) break;
    // Only a full buffer is used and given back; one that comes back short
    // (after a stop or a reset) stays out of the ring.
    int16_t copy[kBufferBytes / 2];
    bool full = false;
    {
      std::lock_guard<std::mutex> guard(threadLock_);
      if (abandoned_) break;
      if (m.generation == generation_ && m.bytesRecorded == static_cast<uint32_t>(kBufferBytes) &&
          m.index < static_cast<uintptr_t>(bufferCount_)) {
        std::memcpy(copy, buffers_ + m.index * kBufferBytes, kBufferBytes);
        full = true;
      }
    }
    if (full) {
      OnWaveData(copy, kBufferBytes);
      std::lock_guard<std::mutex> guard(threadLock_);
      if (abandoned_) break;
      if (m.generation == generation_ && hWaveIn_ && headers_) hWaveIn_->addBuffer(&headers_[m.index]);
    }
    // A breath after every message, in real time whatever the clock.
    platform::sleepMs(1, platform::systemClock());
  }
  threadExited_.signal();
}

}  // namespace tavolen
