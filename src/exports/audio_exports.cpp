// Two-way talk and mixer exports: thin wrappers over CWaveIn and the mixer
// controls, each in the C boundary's guard. Failure results: 0 for talk, the
// mixer's own (TAVOLEN_E_FAIL for setters, -1 for volume getters, 0 for mute
// getters).

#include <memory>

#include "audio/mixer_controls.h"
#include "audio/wave_in.h"
#include "platform/c_boundary.h"
#include "platform/handle_table.h"
#include "media/adpcm_codec.h"
#include "tavolen/player.h"

using tavolen::CWaveIn;
using tavolen::platform::guardedCall;
using tavolen::platform::MixerLine;

namespace {

// Talk handles follow the rule of platform/handle_table.h; a destroy waits for
// a start or stop still running on the instance.
tavolen::platform::HandleTable<CWaveIn>& talkHandles() {
  static auto* table = new tavolen::platform::HandleTable<CWaveIn>;  // outlives every static destructor
  return *table;
}

template <typename Fn>
int32_t withTalk(DualtalkHandle handle, Fn&& fn) {
  return tavolen::platform::pinnedCall(talkHandles(), handle, int32_t{0}, fn);
}

}  // namespace

extern "C" {

TAVOLEN_API DualtalkHandle x_player_createDualtalkInstance(void) {
  return guardedCall<DualtalkHandle>(nullptr, [] { return talkHandles().add(std::make_shared<CWaveIn>()); });
}

TAVOLEN_API int32_t x_player_destroyDualtalkInstance(DualtalkHandle handle) {
  return guardedCall(0, [&] { return talkHandles().remove(handle) ? 1 : 0; });
}

TAVOLEN_API int32_t x_player_StartDualTalk(DualtalkHandle handle, TalkCallback callback, void* user) {
  return withTalk(handle, [&](CWaveIn& talk) { return talk.startDualTalk(callback, user); });
}

TAVOLEN_API int32_t x_player_StopDualTalk(DualtalkHandle handle) {
  return withTalk(handle, [](CWaveIn& talk) { return talk.stopDualTalk(); });
}

TAVOLEN_API int32_t x_player_encodeTalkBlock(const int16_t* samples, uint8_t* block) {
  static_assert(TALK_BLOCK_SAMPLES * 2 == tavolen::CWaveIn::kBufferBytes &&
                TALK_BLOCK_BYTES == tavolen::CWaveIn::kBlockBytes);
  return guardedCall(0, [&]() -> int32_t {
    if (!samples || !block) return 0;
    tavolen::AdpcmState state;
    tavolen::adpcmEncode(state, samples, TALK_BLOCK_SAMPLES * 2, block);
    return TALK_BLOCK_BYTES;
  });
}

TAVOLEN_API int32_t x_player_setPlayVolume(int32_t volume) {
  return guardedCall(TAVOLEN_E_FAIL, [&] { return tavolen::setMixerVolume(MixerLine::Speakers, volume); });
}
TAVOLEN_API int32_t x_player_getPlayVolume(void) {
  return guardedCall(-1, [] { return tavolen::getMixerVolume(MixerLine::Speakers); });
}
TAVOLEN_API int32_t x_player_setMute(int32_t mute) {
  return guardedCall(TAVOLEN_E_FAIL, [&] { return tavolen::setMixerMute(MixerLine::Speakers, mute); });
}
TAVOLEN_API int32_t x_player_getMute(void) {
  return guardedCall(0, [] { return tavolen::getMixerMute(MixerLine::Speakers); });
}

TAVOLEN_API int32_t x_player_setMicPlayVolume(int32_t volume) {
  return guardedCall(TAVOLEN_E_FAIL, [&] { return tavolen::setMixerVolume(MixerLine::Microphone, volume); });
}
TAVOLEN_API int32_t x_player_getMicPlayVolume(void) {
  return guardedCall(-1, [] { return tavolen::getMixerVolume(MixerLine::Microphone); });
}
TAVOLEN_API int32_t x_player_setMicMute(int32_t mute) {
  return guardedCall(TAVOLEN_E_FAIL, [&] { return tavolen::setMixerMute(MixerLine::Microphone, mute); });
}
TAVOLEN_API int32_t x_player_getMicMute(void) {
  return guardedCall(0, [] { return tavolen::getMixerMute(MixerLine::Microphone); });
}

}  // extern "C"
