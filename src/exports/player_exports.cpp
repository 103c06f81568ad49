// The x_player_* C functions: check the handle, call the player, return its
// result. A null or unlisted handle gets 0 and nothing is called; anything
// thrown inside (a thread that could not start, an allocation that failed)
// gives 0 too, through the C boundary's guard.

#include "platform/c_boundary.h"
#include "player/player_registry.h"
#include "tavolen/player.h"

using tavolen::CNetStreamPlay;
using tavolen::PlayerRegistry;
using tavolen::platform::guardedCall;

namespace {

template <typename R = int32_t, typename Fn>
R withPlayer(PlayerHandle handle, Fn&& fn) {
  return tavolen::platform::pinnedCall(PlayerRegistry::instance(), handle, R{0}, fn);
}

}  // namespace

extern "C" {

// Nothing to start on Linux: JPEG decoding needs no process-wide set-up.
TAVOLEN_API int32_t x_player_initPlayLib(void) { return 1; }
TAVOLEN_API int32_t x_player_uninitPlayLib(void) { return 1; }

TAVOLEN_API PlayerHandle x_player_createPlayInstance(int32_t kind) {
  return guardedCall<PlayerHandle>(nullptr, [&] { return PlayerRegistry::instance().create(kind); });
}

TAVOLEN_API int32_t x_player_destroyPlayInstance(PlayerHandle handle) {
  // A handle that is not listed is left alone: it is no player of ours.
  return guardedCall(0, [&] { return PlayerRegistry::instance().destroy(handle) ? 1 : 0; });
}

TAVOLEN_API int32_t x_player_startPlay(PlayerHandle handle) {
  return withPlayer(handle, [](CNetStreamPlay& p) { return p.startPlay(); });
}
TAVOLEN_API int32_t x_player_stopPlay(PlayerHandle handle) {
  return withPlayer(handle, [](CNetStreamPlay& p) { return p.stopPlay(); });
}
TAVOLEN_API int32_t x_player_inputNetFrame(PlayerHandle handle, const uint8_t* frame, int32_t length) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.inputNetFrame(frame, length); });
}
TAVOLEN_API int32_t x_player_getListFrameNum(PlayerHandle handle) {
  return withPlayer(handle, [](CNetStreamPlay& p) { return p.getListFrameNum(); });
}
TAVOLEN_API int32_t x_player_setPlayWnd(PlayerHandle handle, PlayWindow window) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.setPlayWnd(window); });
}
TAVOLEN_API intptr_t x_player_getPlayWnd(PlayerHandle handle) {
  return withPlayer<intptr_t>(handle, [](CNetStreamPlay& p) { return p.getPlayWnd(); });
}
TAVOLEN_API int32_t x_player_refreshLastPicture(PlayerHandle handle) {
  return withPlayer(handle, [](CNetStreamPlay& p) { return p.refreshLastPicture(); });
}
TAVOLEN_API int32_t x_player_openSound(PlayerHandle handle) {
  return withPlayer(handle, [](CNetStreamPlay& p) { return p.openSound(); });
}
TAVOLEN_API int32_t x_player_closeSound(PlayerHandle handle) {
  return withPlayer(handle, [](CNetStreamPlay& p) { return p.closeSound(); });
}
TAVOLEN_API int32_t x_player_setOsdString(PlayerHandle handle, int32_t index, const OsdItem* item) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.setOsdString(index, item); });
}
TAVOLEN_API int32_t x_player_removeOsdstring(PlayerHandle handle, int32_t index) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.removeOsdstring(index); });
}
TAVOLEN_API int32_t x_player_capturePicture(PlayerHandle handle, const char* fileName) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.capturePicture(fileName); });
}
TAVOLEN_API int32_t x_player_capturePictureBuf(PlayerHandle handle, uint8_t* buffer) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.capturePictureBuf(buffer); });
}
TAVOLEN_API int32_t x_player_getPlayPicSize(PlayerHandle handle, int32_t* width, int32_t* height) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.getPlayPicSize(width, height); });
}
TAVOLEN_API int32_t x_player_adjustViewArea(PlayerHandle handle, int32_t left, int32_t right,
                                            int32_t top, int32_t bottom) {
  return withPlayer(handle,
                    [&](CNetStreamPlay& p) { return p.adjustViewArea(left, right, top, bottom); });
}
TAVOLEN_API int32_t x_player_setRenderEffect(PlayerHandle handle, int32_t effect) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.setRenderEffect(effect); });
}
TAVOLEN_API int32_t x_player_renderActualProportion(PlayerHandle handle, int32_t on) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.renderActualProportion(on); });
}
TAVOLEN_API int32_t x_player_startlocalrecord(PlayerHandle handle, RecordStartParams params) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.startlocalrecord(params); });
}
TAVOLEN_API int32_t x_player_stoplocalrecord(PlayerHandle handle) {
  return withPlayer(handle, [](CNetStreamPlay& p) { return p.stoplocalrecord(); });
}
TAVOLEN_API int32_t x_player_getrecordstatus(PlayerHandle handle) {
  return withPlayer(handle, [](CNetStreamPlay& p) { return p.getrecordstatus(); });
}
TAVOLEN_API int32_t x_player_getCounters(PlayerHandle handle, PlayerCounters* counters) {
  return withPlayer(handle, [&](CNetStreamPlay& p) { return p.getCounters(counters); });
}

}  // extern "C"
