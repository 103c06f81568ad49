#pragma once
// The process-wide list of camera-link handles. Every handle follows the rule
// of platform/handle_table.h: a call pins its link; destroying the handle runs
// the link's cancel() step, waits for the calls in flight on it, and only then
// stops and deletes the link, so a link is never touched after its destroy has
// returned.

#include "link/net_device.h"
#include "platform/handle_table.h"

namespace tavolen {

using DeviceList = platform::HandleTable<CNetDevice>;

// Never destroyed: hosts may destroy links during process exit.
DeviceList& deviceList();

}  // namespace tavolen
