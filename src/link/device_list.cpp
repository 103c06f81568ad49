#include "link/device_list.h"

namespace tavolen {

DeviceList& deviceList() {
  static DeviceList* list = new DeviceList([](CNetDevice& device) { device.cancel(); });
  return *list;
}

}  // namespace tavolen
