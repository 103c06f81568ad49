// LAN search exports: thin calls into the process-wide search object, each in
// the C boundary's guard.
#include "link/lan_search.h"
#include "platform/c_boundary.h"
#include "tavolen/search.h"

using tavolen::platform::guardedCall;

extern "C" {

TAVOLEN_API int32_t device_broadcast_Initialization(void) {
  return guardedCall(0, [] { return tavolen::lanSearchInitialization(); });
}

TAVOLEN_API int32_t device_broadcast_search(SearchCallback callback, void* user) {
  return guardedCall(0, [&] { return tavolen::lanSearchSearch(callback, user); });
}

TAVOLEN_API int32_t device_broadcast_unInitialization(void) {
  return guardedCall(0, [] { return tavolen::lanSearchUnInitialization(); });
}

}  // extern "C"
