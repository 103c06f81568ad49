#include "platform/alsa_pcm.h"

#include <poll.h>

#include <cerrno>
#include <vector>

#include "platform/wave_buffer.h"

namespace tavolen::platform::alsa {

snd_pcm_t* openDefaultPcm(snd_pcm_stream_t stream, unsigned latencyUs) {
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", stream, SND_PCM_NONBLOCK) < 0) return nullptr;
  // Resampling is allowed for real cards that cannot run at 8000 Hz; a sound
  // server takes the rate as it is.
  if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                         kWaveChannels, kWaveSampleRate, 1, latencyUs) < 0) {
    snd_pcm_close(pcm);
    return nullptr;
  }
  return pcm;
}

Wait waitPcm(snd_pcm_t* pcm, Event& wake, int timeoutMs, std::unique_lock<std::mutex>* guard) {
  const int count = snd_pcm_poll_descriptors_count(pcm);
  if (count <= 0) return Wait::Error;
  std::vector<pollfd> fds(static_cast<size_t>(count) + 1);
  if (snd_pcm_poll_descriptors(pcm, fds.data(), static_cast<unsigned>(count)) != count)
    return Wait::Error;
  fds[count] = pollfd{wake.fd(), POLLIN, 0};
  if (guard) guard->unlock();
  const int n = ::poll(fds.data(), fds.size(), timeoutMs);
  if (guard) guard->lock();
  if (n < 0) return errno == EINTR ? Wait::Ready : Wait::Error;
  if (fds[count].revents & POLLIN) {
    if (wake.tryConsume()) return Wait::Woken;
  }
  if (n == 0) return Wait::Ready;
  unsigned short revents = 0;
  if (snd_pcm_poll_descriptors_revents(pcm, fds.data(), static_cast<unsigned>(count), &revents) < 0)
    return Wait::Error;
  // Errors and hang-ups show up again on the next read or write, where they are
  // recovered from.
  return Wait::Ready;
}

}  // namespace tavolen::platform::alsa
