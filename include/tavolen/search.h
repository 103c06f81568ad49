/** @file
 * LAN camera search: one UDP socket per process. Cameras on the local network
 * answer a broadcast to UDP port SEARCH_PORT; each answer goes to the callback
 * of the latest search, on the search's receive thread.
 *
 * The environment variable TAVOLEN_SEARCH_ADDRESS ("a.b.c.d:port"), read at
 * initialisation, aims the search at one address instead of the broadcast. */
#ifndef TAVOLEN_SEARCH_H
#define TAVOLEN_SEARCH_H

#include "tavolen/types.h"

TAVOLEN_BEGIN_DECLS

/** Opens the process's search socket on a random port and starts its receive
 * thread. Returns 1 when ready (or already initialised), 0 when the socket
 * cannot be opened or bound. */
TAVOLEN_API int32_t device_broadcast_Initialization(void);
/** Sends one search request; every answer from now on, to this request or an
 * earlier one, goes to callback with user (replacing the previous callback).
 * Returns 1. */
TAVOLEN_API int32_t device_broadcast_search(SearchCallback callback, void* user);
/** Ends the receive thread and closes the socket. Returns 1. */
TAVOLEN_API int32_t device_broadcast_unInitialization(void);

TAVOLEN_END_DECLS

#endif
