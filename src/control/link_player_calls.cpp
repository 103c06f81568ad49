#include "control/link_player_calls.h"

namespace tavolen {

void* createViewLink(const DeviceConnectParams& params) {
  try {
    return createListedLink(params);
  } catch (...) {
    return nullptr;  // a thread or memory the link could not get
  }
}

void* createViewPlayer(int32_t kind) {
  try {
    return PlayerRegistry::instance().create(kind);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace tavolen
