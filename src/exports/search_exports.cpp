// LAN search exports: thin calls into the process-wide search object.
#include "link/lan_search.h"
#include "tavolen/search.h"

extern "C" {

TAVOLEN_API int32_t device_broadcast_Initialization(void) { return tavolen::lanSearchInitialization(); }

TAVOLEN_API int32_t device_broadcast_search(SearchCallback callback, void* user) {
  return tavolen::lanSearchSearch(callback, user);
}

TAVOLEN_API int32_t device_broadcast_unInitialization(void) { return tavolen::lanSearchUnInitialization(); }

}
