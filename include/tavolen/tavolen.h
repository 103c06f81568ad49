/** @file
 * Tavolen: network camera client library. One umbrella header for host programs.
 * Compiles as C99 and as C++. Every record here is a fixed little-endian layout
 * that crosses the library boundary; the static_asserts below pin each one. */
#ifndef TAVOLEN_TAVOLEN_H
#define TAVOLEN_TAVOLEN_H

#include "tavolen/types.h"
#include "tavolen/link.h"
#include "tavolen/search.h"
#include "tavolen/player.h"
#include "tavolen/window.h"
#include "tavolen/control.h"

#endif
