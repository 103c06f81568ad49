#pragma once
// Helpers shared by the ALSA wave devices. Only src/platform includes this.

#include <alsa/asoundlib.h>

#include <mutex>

#include "platform/event.h"

namespace tavolen::platform::alsa {

// Opens the default PCM in non-blocking mode at 8000 Hz mono S16_LE with the
// given latency; null when there is no such device or it refuses the format.
snd_pcm_t* openDefaultPcm(snd_pcm_stream_t stream, unsigned latencyUs);

enum class Wait { Ready, Woken, Error };

// Waits until the PCM can be written (playback) or read (capture), the wake
// event fires (consumed), or timeoutMs passes (reported as Ready so the caller
// simply tries again). With a guard, the guard is held for every PCM call and
// released only while blocked in poll.
Wait waitPcm(snd_pcm_t* pcm, Event& wake, int timeoutMs,
             std::unique_lock<std::mutex>* guard = nullptr);

}  // namespace tavolen::platform::alsa
