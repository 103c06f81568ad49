#include "link/device_list.h"

#include <memory>

#include "link/tcp_net_device.h"

namespace tavolen {

DeviceList& deviceList() {
  static DeviceList* list = new DeviceList([](CNetDevice& device) { device.cancel(); });
  return *list;
}

void* createListedLink(const DeviceConnectParams& params) {
  return deviceList().add(std::make_shared<CTcpNetDevice>(params));
}

bool destroyListedLink(const void* handle) {
  // From inside one of the link's own callbacks the destroy would wait for
  // that very callback: refused.
  {
    DeviceList::Pin pin = deviceList().find(handle);
    if (pin && pin->insideOwnCallback()) return false;
  }
  std::shared_ptr<CNetDevice> device = deviceList().remove(handle);
  if (!device) return false;
  device->stopStream();
  return true;  // deleted here, as the last owner lets go
}

}  // namespace tavolen
