#pragma once
// Speaker and microphone volume and mute over the default card's mixer. Every
// call opens the mixer, reads or writes one value and closes it again, so they
// share no state and may run on any thread.
//
// Results: setters 0 or TAVOLEN_E_FAIL; volume getters a percentage or -1;
// mute getters 1 muted, 0 otherwise (also 0 when the mixer or the control is
// missing, but 1 when only the read fails).

#include <cstdint>

#include "platform/mixer.h"

namespace tavolen {

int32_t setMixerVolume(platform::MixerLine line, int32_t percent);
int32_t getMixerVolume(platform::MixerLine line);
int32_t setMixerMute(platform::MixerLine line, int32_t mute);
int32_t getMixerMute(platform::MixerLine line);

}  // namespace tavolen
