// Two-way talk and mixer exports: thin wrappers over CWaveIn and the mixer
// controls.

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "audio/mixer_controls.h"
#include "audio/wave_in.h"
#include "player/adpcm_codec.h"
#include "tavolen/player.h"

namespace tavolen {
namespace {

// Talk handles are object addresses. The list lets a stale or foreign handle
// be refused rather than followed, and keeps an instance alive while a call
// on it runs even if another thread destroys it meanwhile.
class TalkInstances {
 public:
  DualtalkHandle add(std::shared_ptr<CWaveIn> talk) {
    std::lock_guard<std::mutex> guard(lock_);
    list_.push_back(talk);
    return talk.get();
  }
  std::shared_ptr<CWaveIn> find(DualtalkHandle handle) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& t : list_)
      if (t.get() == handle) return t;
    return nullptr;
  }
  std::shared_ptr<CWaveIn> remove(DualtalkHandle handle) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = std::find_if(list_.begin(), list_.end(), [&](auto& t) { return t.get() == handle; });
    if (it == list_.end()) return nullptr;
    auto talk = std::move(*it);
    list_.erase(it);
    return talk;
  }

 private:
  std::mutex lock_;
  std::vector<std::shared_ptr<CWaveIn>> list_;
};

TalkInstances& talkInstances() {
  static TalkInstances* instances = new TalkInstances;  // outlives every static destructor
  return *instances;
}

}  // namespace
}  // namespace tavolen

using tavolen::platform::MixerLine;

extern "C" {

TAVOLEN_API DualtalkHandle x_player_createDualtalkInstance(void) {
  try {
    return tavolen::talkInstances().add(std::make_shared<tavolen::CWaveIn>());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

TAVOLEN_API int32_t x_player_destroyDualtalkInstance(DualtalkHandle handle) {
  if (!handle) return 0;
  auto talk = tavolen::talkInstances().remove(handle);
  if (!talk) return 0;
  talk.reset();  // deleted here, or when a call still running on it ends
  return 1;
}

TAVOLEN_API int32_t x_player_StartDualTalk(DualtalkHandle handle, TalkCallback callback, void* user) {
  if (!handle) return 0;
  auto talk = tavolen::talkInstances().find(handle);
  if (!talk) return 0;
  return talk->startDualTalk(callback, user);
}

TAVOLEN_API int32_t x_player_StopDualTalk(DualtalkHandle handle) {
  if (!handle) return 0;
  auto talk = tavolen::talkInstances().find(handle);
  if (!talk) return 0;
  return talk->stopDualTalk();
}

TAVOLEN_API int32_t x_player_encodeTalkBlock(const int16_t* samples, uint8_t* block) {
  if (!samples || !block) return 0;
  static_assert(TALK_BLOCK_SAMPLES * 2 == tavolen::CWaveIn::kBufferBytes &&
                TALK_BLOCK_BYTES == tavolen::CWaveIn::kBlockBytes);
  tavolen::AdpcmState state;
  tavolen::adpcmEncode(state, samples, TALK_BLOCK_SAMPLES * 2, block);
  return TALK_BLOCK_BYTES;
}

TAVOLEN_API int32_t x_player_setPlayVolume(int32_t volume) {
  return tavolen::setMixerVolume(MixerLine::Speakers, volume);
}
TAVOLEN_API int32_t x_player_getPlayVolume(void) { return tavolen::getMixerVolume(MixerLine::Speakers); }
TAVOLEN_API int32_t x_player_setMute(int32_t mute) { return tavolen::setMixerMute(MixerLine::Speakers, mute); }
TAVOLEN_API int32_t x_player_getMute(void) { return tavolen::getMixerMute(MixerLine::Speakers); }

TAVOLEN_API int32_t x_player_setMicPlayVolume(int32_t volume) {
  return tavolen::setMixerVolume(MixerLine::Microphone, volume);
}
TAVOLEN_API int32_t x_player_getMicPlayVolume(void) { return tavolen::getMixerVolume(MixerLine::Microphone); }
TAVOLEN_API int32_t x_player_setMicMute(int32_t mute) { return tavolen::setMixerMute(MixerLine::Microphone, mute); }
TAVOLEN_API int32_t x_player_getMicMute(void) { return tavolen::getMixerMute(MixerLine::Microphone); }

}  // extern "C"
