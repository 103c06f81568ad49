#pragma once
// The view's calls on links and players, made as the C interface makes them:
// each handle is first looked up in its registry and held for the call, so a
// handle destroyed meanwhile (or never listed) is skipped, and the result is
// then 0. Any thread.

#include <cstdint>

#include "link/device_list.h"
#include "link/net_device.h"
#include "player/player_registry.h"
#include "tavolen/types.h"

namespace tavolen {

template <typename Fn>
int32_t withLink(void* handle, Fn&& fn) {
  DeviceList::Ref link = DeviceList::instance().acquire(handle);
  return link ? fn(*link.get()) : 0;
}

template <typename Fn>
int32_t withPlayer(void* handle, Fn&& fn) {
  PlayerRegistry::Pin player = PlayerRegistry::instance().find(handle);
  return player ? fn(*player.operator->()) : 0;
}

// A new listed link for the camera, or null.
void* createListedLink(const DeviceConnectParams& params);
// Unlists, stops and deletes a link (waiting for calls on it to end).
void destroyListedLink(void* handle);
// A new listed player: kind 0 H.264, 1 JPEG; null when it cannot be made.
void* createListedPlayer(int32_t kind);
void destroyListedPlayer(void* handle);

}  // namespace tavolen
