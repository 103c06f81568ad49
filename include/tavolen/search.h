/* LAN camera search: one UDP socket per process. */
#ifndef TAVOLEN_SEARCH_H
#define TAVOLEN_SEARCH_H

#include "tavolen/types.h"

TAVOLEN_BEGIN_DECLS

TAVOLEN_API int32_t device_broadcast_Initialization(void);
TAVOLEN_API int32_t device_broadcast_search(SearchCallback callback, void* user);
TAVOLEN_API int32_t device_broadcast_unInitialization(void);

TAVOLEN_END_DECLS

#endif
