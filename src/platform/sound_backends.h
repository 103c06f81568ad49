#pragma once
// The sound backends behind openWaveIn, openWaveOut and openMixer, chosen when
// the library is built: ALSA when the build has it (TAVOLEN_ALSA), else the
// null backend. The null backend is always built: it is a machine without a
// sound card, where every open finds no device, so talk, sound and the mixer
// give their no-device results.

#include <memory>

#include "platform/mixer.h"
#include "platform/wave_in_device.h"
#include "platform/wave_out_device.h"

namespace tavolen::platform {

std::unique_ptr<WaveInDevice> openNullWaveIn(WaveInDevice::DoneCallback done);
std::unique_ptr<WaveOutDevice> openNullWaveOut(WaveOutDevice::DoneCallback done);
std::unique_ptr<Mixer> openNullMixer();

// Defined only in builds with ALSA.
std::unique_ptr<WaveInDevice> openAlsaWaveIn(WaveInDevice::DoneCallback done);
std::unique_ptr<WaveOutDevice> openAlsaWaveOut(WaveOutDevice::DoneCallback done);
std::unique_ptr<Mixer> openAlsaMixer();

}  // namespace tavolen::platform
