// The sound backend this build uses (see sound_backends.h).
#include "platform/sound_backends.h"

namespace tavolen::platform {

#if TAVOLEN_HAVE_ALSA
std::unique_ptr<WaveInDevice> openWaveIn(WaveInDevice::DoneCallback done) {
  return openAlsaWaveIn(std::move(done));
}
std::unique_ptr<WaveOutDevice> openWaveOut(WaveOutDevice::DoneCallback done) {
  return openAlsaWaveOut(std::move(done));
}
std::unique_ptr<Mixer> openMixer() { return openAlsaMixer(); }
#else
std::unique_ptr<WaveInDevice> openWaveIn(WaveInDevice::DoneCallback done) {
  return openNullWaveIn(std::move(done));
}
std::unique_ptr<WaveOutDevice> openWaveOut(WaveOutDevice::DoneCallback done) {
  return openNullWaveOut(std::move(done));
}
std::unique_ptr<Mixer> openMixer() { return openNullMixer(); }
#endif

}  // namespace tavolen::platform
