#include "player/wave_out.h"

#include <cstring>

namespace tavolen {

CWaveOut::~CWaveOut() { closeOutput(); }

int32_t CWaveOut::openOutput() {
  if (device_) return 1;
  auto device = platform::openWaveOut([this](platform::WaveBuffer* b) { onBufferDone(b); });
  if (!device) return 0;
  for (int32_t i = 0; i < kBufferCount; ++i) {
    data_[i] = std::make_unique<uint8_t[]>(kBufferBytes);  // zeroed: silence
    buffers_[i] = platform::WaveBuffer{data_[i].get(), static_cast<uint32_t>(kBufferBytes), 0,
                                       static_cast<uintptr_t>(i)};
  }
  device_ = std::move(device);
  // Running goes up before the first write: this device hands a buffer back
  // as soon as its bytes are in the device's own ring, which can be before the
  // fifth one is written, and a buffer ignored then would drop out of the ring.
  running_ = 1;
  for (int32_t i = 0; i < kBufferCount; ++i) {
    if (!device_->write(&buffers_[i])) {
      running_ = 0;
      device_->reset();
      device_.reset();
      for (auto& d : data_) d.reset();
      return 0;
    }
  }
  return 1;
}

void CWaveOut::queuePcm(int32_t byteCount, const int16_t* samples) {
  if (byteCount <= 0 || byteCount > kBufferBytes || byteCount % 2 != 0 || !samples) return;
  auto chunk = std::make_unique<Chunk>();
  chunk->byteCount = static_cast<uint32_t>(byteCount);
  std::memcpy(chunk->bytes, samples, static_cast<size_t>(byteCount));
  std::lock_guard<std::mutex> guard(lock_);
  if (chunks_.size() >= kMaxQueuedChunks) {
    chunks_.pop_front();
    ++dropped_;
  }
  chunks_.push_back(std::move(chunk));
}

int32_t CWaveOut::closeOutput() {
  if (!device_) return 1;
  running_ = 0;
  device_->reset();  // every buffer is back and no refill runs any more
  device_.reset();
  for (auto& d : data_) d.reset();
  std::lock_guard<std::mutex> guard(lock_);
  chunks_.clear();
  return 1;
}

size_t CWaveOut::queuedChunks() const {
  std::lock_guard<std::mutex> guard(lock_);
  return chunks_.size();
}

void CWaveOut::onBufferDone(platform::WaveBuffer* buffer) {
  if (!running_) return;
  std::unique_ptr<Chunk> chunk;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!chunks_.empty()) {
      chunk = std::move(chunks_.front());
      chunks_.pop_front();
    }
  }
  if (chunk) {
    std::memcpy(buffer->data, chunk->bytes, chunk->byteCount);
    buffer->length = chunk->byteCount;
  } else {
    // Silence, keeping the length of the last chunk this buffer carried.
    std::memset(buffer->data, 0, kBufferBytes);
  }
  device_->write(buffer);
}

}  // namespace tavolen
