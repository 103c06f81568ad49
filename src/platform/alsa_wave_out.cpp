// Sound output on the default ALSA PCM. One thread of ours plays the queued
// buffers in order, writing each into the PCM's ring as room appears, and hands
// a buffer back as soon as all of its bytes are in the ring.

#include <cerrno>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/alsa_pcm.h"
#include "platform/event.h"
#include "platform/sound_backends.h"
#include "platform/thread.h"
#include "platform/wave_out_device.h"

namespace tavolen::platform {

namespace {

// ALSA ring latency: long enough to ride out a scheduling hiccup, short next
// to the 640 ms the caller's own buffers already hold.
constexpr unsigned kLatencyUs = 200000;
constexpr int kPollSliceMs = 200;

class AlsaWaveOut final : public WaveOutDevice {
 public:
  AlsaWaveOut(snd_pcm_t* pcm, DoneCallback done) : pcm_(pcm), done_(std::move(done)) {
    thread_ = startThread([this] { run(); });
  }

  ~AlsaWaveOut() override {
    reset();
    snd_pcm_close(pcm_);
  }

  bool write(WaveBuffer* buffer) override {
    if (!buffer || !buffer->data || buffer->length == 0 || buffer->length % 2 != 0) return false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stopping_) return false;
      queue_.push_back(buffer);
    }
    wake_.signal();
    return true;
  }

  void reset() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stopping_ = true;
      queue_.clear();
    }
    wake_.signal();
    if (thread_.joinable()) thread_.join();
    // The thread is gone, so the PCM is ours alone again.
    snd_pcm_drop(pcm_);
  }

 private:
  void run() {
    uint32_t written = 0;  // bytes of the head buffer already in the ring
    for (;;) {
      WaveBuffer* head = nullptr;
      {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_) return;
        if (!queue_.empty()) head = queue_.front();
      }
      if (!head) {
        wake_.wait(kWaitForever);
        continue;
      }
      const alsa::Wait wait = alsa::waitPcm(pcm_, wake_, kPollSliceMs);
      if (wait == alsa::Wait::Woken) continue;
      bool finished = false;
      if (wait == alsa::Wait::Error) {
        finished = discardAtPlayRate(head, written);
      } else {
        const snd_pcm_uframes_t frames = (head->length - written) / 2;
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, head->data + written, frames);
        if (n == -EAGAIN) continue;
        if (n < 0) n = snd_pcm_recover(pcm_, static_cast<int>(n), 1);
        if (n < 0) {
          // The device is gone for good; keep the caller's ring turning at
          // the rate it would have played.
          finished = discardAtPlayRate(head, written);
        } else {
          written += static_cast<uint32_t>(n) * 2;
          finished = written >= head->length;
        }
      }
      if (!finished) continue;
      written = 0;
      {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_) return;
        queue_.pop_front();
      }
      done_(head);
    }
  }

  // Waits as long as the rest of the buffer would play, unless woken.
  bool discardAtPlayRate(WaveBuffer* head, uint32_t written) {
    const uint32_t ms = (head->length - written) / 2 * 1000 / kWaveSampleRate;
    return !wake_.wait(ms == 0 ? 1 : ms, systemClock());
  }

  snd_pcm_t* const pcm_;
  const DoneCallback done_;
  Event wake_;
  std::mutex lock_;  // guards queue_ and stopping_
  std::deque<WaveBuffer*> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<WaveOutDevice> openAlsaWaveOut(WaveOutDevice::DoneCallback done) {
  snd_pcm_t* pcm = alsa::openDefaultPcm(SND_PCM_STREAM_PLAYBACK, kLatencyUs);
  if (!pcm) return nullptr;
  return std::make_unique<AlsaWaveOut>(pcm, std::move(done));
}

}  // namespace tavolen::platform
