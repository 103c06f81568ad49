#include "audio/mixer_controls.h"

#include <limits>

#include "tavolen/player.h"

namespace tavolen {

using platform::MixerControlType;
using platform::MixerLine;

int32_t setMixerVolume(MixerLine line, int32_t percent) {
  auto mixer = platform::openMixer();
  if (!mixer) return TAVOLEN_E_FAIL;
  auto control = mixer->findControl(line, MixerControlType::Volume);
  if (!control) return TAVOLEN_E_FAIL;
  // Scaled by the upper bound alone and truncated; the percentage is not
  // clamped, the mixer decides. A product beyond 32 bits cannot be a value.
  const int64_t value = static_cast<int64_t>(percent) * control->maximum / 100;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    return TAVOLEN_E_FAIL;
  return mixer->write(*control, static_cast<int32_t>(value)) ? 0 : TAVOLEN_E_FAIL;
}

int32_t getMixerVolume(MixerLine line) {
  auto mixer = platform::openMixer();
  if (!mixer) return -1;
  auto control = mixer->findControl(line, MixerControlType::Volume);
  // A control without range has no percentage to give.
  if (!control || control->maximum <= 0) return -1;
  int32_t value = -1;
  if (!mixer->read(*control, value) || value == -1) return -1;
  return static_cast<int32_t>(static_cast<int64_t>(value) * 100 / control->maximum);
}

int32_t setMixerMute(MixerLine line, int32_t mute) {
  auto mixer = platform::openMixer();
  if (!mixer) return TAVOLEN_E_FAIL;
  auto control = mixer->findControl(line, MixerControlType::Mute);
  if (!control) return TAVOLEN_E_FAIL;
  return mixer->write(*control, mute) ? 0 : TAVOLEN_E_FAIL;
}

int32_t getMixerMute(MixerLine line) {
  auto mixer = platform::openMixer();
  if (!mixer) return 0;
  auto control = mixer->findControl(line, MixerControlType::Mute);
  if (!control) return 0;
  int32_t value = -1;
  mixer->read(*control, value);
  return value != 0 ? 1 : 0;
}

}  // namespace tavolen
