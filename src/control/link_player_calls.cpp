#include "control/link_player_calls.h"

#include <new>

#include "link/tcp_net_device.h"

namespace tavolen {

void* createListedLink(const DeviceConnectParams& params) {
  try {
    CNetDevice* device = new CTcpNetDevice(params);
    DeviceList::instance().add(device);
    return device;
  } catch (...) {
    return nullptr;  // a thread or memory the link could not get
  }
}

void destroyListedLink(void* handle) {
  CNetDevice* device = DeviceList::instance().remove(handle);
  if (!device) return;
  device->stopStream();
  delete device;
}

void* createListedPlayer(int32_t kind) { return PlayerRegistry::instance().create(kind); }

void destroyListedPlayer(void* handle) { PlayerRegistry::instance().destroy(handle); }

}  // namespace tavolen
