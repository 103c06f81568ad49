/* Video windows: the objects whose pointer is the window handle that players draw into. */
#ifndef TAVOLEN_WINDOW_H
#define TAVOLEN_WINDOW_H

#include "tavolen/types.h"

TAVOLEN_BEGIN_DECLS

typedef struct TavolenWindow TavolenWindow;

TAVOLEN_END_DECLS

#endif
