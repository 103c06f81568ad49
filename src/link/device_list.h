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

// A new camera link, listed; its handle. Throws when it cannot be made.
void* createListedLink(const DeviceConnectParams& params);
// Unlists the link (waiting for the calls on it), stops its stream and
// deletes it. False for a handle that is not listed, and when called from
// inside one of that link's own callbacks.
bool destroyListedLink(const void* handle);

}  // namespace tavolen
