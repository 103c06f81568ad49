// The null sound backend: no capture device, no output device, no mixer.
#include "platform/sound_backends.h"

namespace tavolen::platform {

std::unique_ptr<WaveInDevice> openNullWaveIn(WaveInDevice::DoneCallback) { return nullptr; }
std::unique_ptr<WaveOutDevice> openNullWaveOut(WaveOutDevice::DoneCallback) { return nullptr; }
std::unique_ptr<Mixer> openNullMixer() { return nullptr; }

}  // namespace tavolen::platform
