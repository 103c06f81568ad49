// Sound capture on the default ALSA PCM. One thread of ours reads the PCM into
// the head of the buffer queue and hands each buffer back when it is full.
// start/stop/reset touch the PCM from the caller's thread, under the same lock
// the reader holds for its (non-blocking) reads.

#include <condition_variable>
#include <cerrno>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/alsa_pcm.h"
#include "platform/event.h"
#include "platform/sound_backends.h"
#include "platform/thread.h"
#include "platform/wave_in_device.h"

namespace tavolen::platform {

namespace {

constexpr unsigned kLatencyUs = 200000;
constexpr int kPollSliceMs = 200;
// Room for what arrives while no buffer is queued; it is read and dropped so
// the device does not overrun.
constexpr size_t kDiscardFrames = 512;

class AlsaWaveIn final : public WaveInDevice {
 public:
  AlsaWaveIn(snd_pcm_t* pcm, DoneCallback done) : pcm_(pcm), done_(std::move(done)) {
    thread_ = startThread([this] { run(); });
  }

  ~AlsaWaveIn() override {
    reset();
    {
      std::lock_guard<std::mutex> guard(lock_);
      closing_ = true;
    }
    wake_.signal();
    if (thread_.joinable()) thread_.join();
    snd_pcm_close(pcm_);
  }

  bool addBuffer(WaveBuffer* buffer) override {
    if (!buffer || !buffer->data || buffer->length < 2 || buffer->length % 2 != 0) return false;
    buffer->bytesRecorded = 0;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (closing_) return false;
      queue_.push_back(buffer);
    }
    wake_.signal();
    return true;
  }

  bool start() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (closing_) return false;
      if (!capturing_) {
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED && snd_pcm_prepare(pcm_) < 0)
          return false;
        if (snd_pcm_start(pcm_) < 0) return false;
        capturing_ = true;
      }
    }
    wake_.signal();
    return true;
  }

  bool stop() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      haltLocked();
      if (!queue_.empty() && queue_.front()->bytesRecorded > 0) {
        returned_.push_back(queue_.front());
        queue_.pop_front();
      }
    }
    wake_.signal();
    return true;
  }

  bool reset() override {
    std::unique_lock<std::mutex> guard(lock_);
    haltLocked();
    returned_.insert(returned_.end(), queue_.begin(), queue_.end());
    queue_.clear();
    wake_.signal();
    // The reader hands them back; wait until it has, so that nothing of the
    // caller's is in use when we return.
    idle_.wait(guard, [this] { return (returned_.empty() && !delivering_) || !running_; });
    if (!running_) {
      // The reader has ended (only in destruction); nobody else will call back.
      returned_.clear();
    }
    return true;
  }

 private:
  void haltLocked() {
    if (!capturing_) return;
    capturing_ = false;
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
  }

  void run() {
    std::vector<int16_t> discard(kDiscardFrames);
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      if (!returned_.empty()) {
        std::deque<WaveBuffer*> out;
        out.swap(returned_);
        delivering_ = true;
        guard.unlock();
        for (WaveBuffer* b : out) done_(b);
        guard.lock();
        delivering_ = false;
        idle_.notify_all();
        continue;
      }
      if (closing_) break;
      if (!capturing_) {
        guard.unlock();
        wake_.wait(kWaitForever);
        guard.lock();
        continue;
      }
      const alsa::Wait wait = alsa::waitPcm(pcm_, wake_, kPollSliceMs, &guard);
      if (wait == alsa::Wait::Woken || !capturing_) continue;
      if (wait == alsa::Wait::Error) {
        guard.unlock();
        wake_.wait(kPollSliceMs, systemClock());
        guard.lock();
        continue;
      }
      WaveBuffer* head = queue_.empty() ? nullptr : queue_.front();
      uint8_t* into = head ? head->data + head->bytesRecorded : reinterpret_cast<uint8_t*>(discard.data());
      const snd_pcm_uframes_t frames = head ? (head->length - head->bytesRecorded) / 2 : kDiscardFrames;
      snd_pcm_sframes_t n = snd_pcm_readi(pcm_, into, frames);
      if (n == -EAGAIN) continue;
      if (n < 0) {
        // An overrun or a suspended device: start again, losing what was
        // missed, as a device without a free buffer does.
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0 || snd_pcm_start(pcm_) < 0) {
          guard.unlock();
          wake_.wait(kPollSliceMs, systemClock());
          guard.lock();
        }
        continue;
      }
      if (!head) continue;
      head->bytesRecorded += static_cast<uint32_t>(n) * 2;
      if (head->bytesRecorded >= head->length) {
        queue_.pop_front();
        returned_.push_back(head);
      }
    }
    running_ = false;
    idle_.notify_all();
  }

  snd_pcm_t* const pcm_;
  const DoneCallback done_;
  Event wake_;
  std::mutex lock_;  // guards everything below, and the PCM while capturing
  std::condition_variable idle_;
  std::deque<WaveBuffer*> queue_;     // waiting to be filled, head first
  std::deque<WaveBuffer*> returned_;  // to be handed back by the reader
  bool capturing_ = false;
  bool delivering_ = false;
  bool closing_ = false;
  bool running_ = true;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<WaveInDevice> openAlsaWaveIn(WaveInDevice::DoneCallback done) {
  snd_pcm_t* pcm = alsa::openDefaultPcm(SND_PCM_STREAM_CAPTURE, kLatencyUs);
  if (!pcm) return nullptr;
  return std::make_unique<AlsaWaveIn>(pcm, std::move(done));
}

}  // namespace tavolen::platform
