#pragma once
// The sound card's mixer: the first playback (speaker) and capture (microphone)
// volume and switch of the default card.

#include <cstdint>
#include <memory>
#include <optional>

namespace tavolen::platform {

enum class MixerLine { Speakers, Microphone };
enum class MixerControlType { Volume, Mute };

struct MixerControl {
  MixerLine line;
  MixerControlType type;
  int32_t minimum;
  int32_t maximum;  // for Mute: 1
  int handle;       // the backend's own reference to the control
};

class Mixer {
 public:
  virtual ~Mixer() = default;  // closes the mixer

  // The first control of that type on that line; nothing when the card has
  // none.
  virtual std::optional<MixerControl> findControl(MixerLine line, MixerControlType type) = 0;
  // One value for all channels together. A mute control reads 1 for muted and
  // 0 for sounding, and takes any non-zero value as muted. A volume outside the
  // control's range is refused rather than clamped.
  virtual bool read(const MixerControl& control, int32_t& value) = 0;
  virtual bool write(const MixerControl& control, int32_t value) = 0;
};

// Opens the mixer of the default card; null when there is none.
std::unique_ptr<Mixer> openMixer();

}  // namespace tavolen::platform
