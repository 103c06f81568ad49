// Stands in for control_bridge.cpp in a build whose library has no control
// yet: the host still serves pages and enforces its checks, and a page asking
// for a control is told why it gets none.
#include "control_bridge.h"

namespace tavolen::host {

std::unique_ptr<ControlBridge> ControlBridge::open(int32_t, int32_t, int32_t, int32_t, Listener&,
                                                   std::string& error) {
  error = "this tavolen-host was built without the control";
  return nullptr;
}

std::vector<MemberRow> ControlBridge::members() { return {}; }
LibraryRow ControlBridge::library() { return {}; }

}  // namespace tavolen::host
