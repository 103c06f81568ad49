#pragma once
// The view's calls on links and players, made as the C interface makes them:
// each handle is first found in its table and pinned for the call, so a
// handle destroyed meanwhile (or never listed) is skipped, and the result is
// then 0. Any thread.

#include <cstdint>

#include "link/device_list.h"
#include "link/net_device.h"
#include "player/player_registry.h"

namespace tavolen {

template <typename Fn>
int32_t withLink(void* handle, Fn&& fn) {
  DeviceList::Pin link = deviceList().find(handle);
  return link ? fn(*link) : 0;
}

template <typename Fn>
int32_t withPlayer(void* handle, Fn&& fn) {
  PlayerRegistry::Pin player = PlayerRegistry::instance().find(handle);
  return player ? fn(*player) : 0;
}

// Made and listed as the C interface does; null (nothing listed) when the
// object cannot be made.
void* createViewLink(const DeviceConnectParams& params);
void* createViewPlayer(int32_t kind);

}  // namespace tavolen
