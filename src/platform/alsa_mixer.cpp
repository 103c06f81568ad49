// The mixer on ALSA's simple mixer interface of the default control device.
// Speakers are the first element with a playback volume (or switch), "Master"
// when there is one; the microphone likewise among the capture elements, with
// "Capture" first.

#include <alsa/asoundlib.h>

#include <climits>
#include <cstring>
#include <vector>

#include "platform/mixer.h"
#include "platform/sound_backends.h"

namespace tavolen::platform {

namespace {

bool fits(long v) { return v >= INT32_MIN && v <= INT32_MAX; }

class AlsaMixer final : public Mixer {
 public:
  explicit AlsaMixer(snd_mixer_t* mixer) : mixer_(mixer) {
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer_); e; e = snd_mixer_elem_next(e))
      if (snd_mixer_selem_is_active(e)) elems_.push_back(e);
  }
  ~AlsaMixer() override { snd_mixer_close(mixer_); }

  std::optional<MixerControl> findControl(MixerLine line, MixerControlType type) override {
    const bool playback = line == MixerLine::Speakers;
    const char* preferred = playback ? "Master" : "Capture";
    auto has = [&](snd_mixer_elem_t* e) {
      if (type == MixerControlType::Volume)
        return playback ? snd_mixer_selem_has_playback_volume(e) != 0
                        : snd_mixer_selem_has_capture_volume(e) != 0;
      return playback ? snd_mixer_selem_has_playback_switch(e) != 0
                      : snd_mixer_selem_has_capture_switch(e) != 0;
    };
    int found = -1;
    for (size_t i = 0; i < elems_.size(); ++i) {
      if (!has(elems_[i])) continue;
      if (found < 0) found = static_cast<int>(i);
      if (std::strcmp(snd_mixer_selem_get_name(elems_[i]), preferred) == 0) {
        found = static_cast<int>(i);
        break;
      }
    }
    if (found < 0) return std::nullopt;
    MixerControl control{line, type, 0, 1, found};
    if (type == MixerControlType::Volume) {
      long lo = 0, hi = 0;
      const int rc = playback ? snd_mixer_selem_get_playback_volume_range(elems_[found], &lo, &hi)
                              : snd_mixer_selem_get_capture_volume_range(elems_[found], &lo, &hi);
      if (rc < 0 || !fits(lo) || !fits(hi) || lo > hi) return std::nullopt;
      control.minimum = static_cast<int32_t>(lo);
      control.maximum = static_cast<int32_t>(hi);
    }
    return control;
  }

  bool read(const MixerControl& control, int32_t& value) override {
    snd_mixer_elem_t* e = elem(control);
    if (!e) return false;
    const bool playback = control.line == MixerLine::Speakers;
    const snd_mixer_selem_channel_id_t channel = firstChannel(e, playback);
    if (channel == SND_MIXER_SCHN_UNKNOWN) return false;
    if (control.type == MixerControlType::Volume) {
      long v = 0;
      const int rc = playback ? snd_mixer_selem_get_playback_volume(e, channel, &v)
                              : snd_mixer_selem_get_capture_volume(e, channel, &v);
      if (rc < 0 || !fits(v)) return false;
      value = static_cast<int32_t>(v);
      return true;
    }
    int on = 0;
    const int rc = playback ? snd_mixer_selem_get_playback_switch(e, channel, &on)
                            : snd_mixer_selem_get_capture_switch(e, channel, &on);
    if (rc < 0) return false;
    value = on ? 0 : 1;
    return true;
  }

  bool write(const MixerControl& control, int32_t value) override {
    snd_mixer_elem_t* e = elem(control);
    if (!e) return false;
    const bool playback = control.line == MixerLine::Speakers;
    if (control.type == MixerControlType::Volume) {
      // The simple mixer ignores an out-of-range value and reports success;
      // refuse it here so the caller hears about it.
      if (value < control.minimum || value > control.maximum) return false;
      return (playback ? snd_mixer_selem_set_playback_volume_all(e, value)
                       : snd_mixer_selem_set_capture_volume_all(e, value)) >= 0;
    }
    const int on = value ? 0 : 1;
    return (playback ? snd_mixer_selem_set_playback_switch_all(e, on)
                     : snd_mixer_selem_set_capture_switch_all(e, on)) >= 0;
  }

 private:
  snd_mixer_elem_t* elem(const MixerControl& control) const {
    if (control.handle < 0 || static_cast<size_t>(control.handle) >= elems_.size()) return nullptr;
    return elems_[static_cast<size_t>(control.handle)];
  }

  static snd_mixer_selem_channel_id_t firstChannel(snd_mixer_elem_t* e, bool playback) {
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
      const auto ch = static_cast<snd_mixer_selem_channel_id_t>(c);
      if (playback ? snd_mixer_selem_has_playback_channel(e, ch)
                   : snd_mixer_selem_has_capture_channel(e, ch))
        return ch;
    }
    return SND_MIXER_SCHN_UNKNOWN;
  }

  snd_mixer_t* const mixer_;
  std::vector<snd_mixer_elem_t*> elems_;
};

}  // namespace

std::unique_ptr<Mixer> openAlsaMixer() {
  snd_mixer_t* mixer = nullptr;
  if (snd_mixer_open(&mixer, 0) < 0) return nullptr;
  if (snd_mixer_attach(mixer, "default") < 0 || snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
      snd_mixer_load(mixer) < 0) {
    snd_mixer_close(mixer);
    return nullptr;
  }
  return std::make_unique<AlsaMixer>(mixer);
}

}  // namespace tavolen::platform
