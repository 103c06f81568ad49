/** @file
 * Video windows: the objects whose pointer is the window handle that players
 * draw into (x_player_setPlayWnd). Pixels are 4 bytes each: blue, green, red,
 * unused.
 *
 * Two kinds:
 * - off-screen: exists only in memory; the host sets its size, position and
 *   visibility and reads its pixels back. Any thread may call these functions.
 * - SDL: a desktop window. Create it, call tavolen_window_pump regularly and
 *   destroy it, all on the same thread (the host's UI thread). Players draw
 *   from their own threads into the window's picture; the pump shows it.
 *
 * A player keeps using the handle it was given; after tavolen_window_destroy
 * that handle acts like a window that no longer exists (nothing is drawn). */
#ifndef TAVOLEN_WINDOW_H
#define TAVOLEN_WINDOW_H

#include "tavolen/types.h"

TAVOLEN_BEGIN_DECLS

/** A video window; players take it as their PlayWindow. */
typedef struct TavolenWindow TavolenWindow;

/** Largest client side in pixels. */
#define TAVOLEN_WINDOW_MAX_SIDE 8192

/** An off-screen window of that client size (1..TAVOLEN_WINDOW_MAX_SIDE each),
 * visible, at screen position (0, 0); NULL on a bad size. */
TAVOLEN_API TavolenWindow* tavolen_window_create_offscreen(int32_t width, int32_t height);

/** A desktop window with that title (UTF-8, may be NULL) and client size; NULL
 * when no display can be opened or the size is bad. */
TAVOLEN_API TavolenWindow* tavolen_window_create_sdl(const char* title, int32_t width, int32_t height);

/** SDL windows: handles the window's pending events (close, resize, move, hide,
 * expose) and shows the latest picture, waiting up to timeoutMs (0: no wait)
 * for something to happen. Returns 1 while the window is open, 0 once the user
 * closed it (or for a handle that is not an SDL window). */
TAVOLEN_API int32_t tavolen_window_pump(TavolenWindow* window, int32_t timeoutMs);

/** Results 1 done, 0 failed (unknown handle, bad size, a position beyond
 * +-16777216). A change of size, position or visibility is seen by a player at
 * its next picture. A new size repaints the window with black; the same size
 * again changes nothing. While a control shows the window full screen, size
 * and position are kept for its return and the window stays as it is. When a
 * control lives in the window, set_size and set_visible return once the
 * control has handled the change (repainted), so read_pixels shows it. */
TAVOLEN_API int32_t tavolen_window_set_size(TavolenWindow* window, int32_t width, int32_t height);
/** Moves the client area's top left corner to x, y on the screen. */
TAVOLEN_API int32_t tavolen_window_set_position(TavolenWindow* window, int32_t x, int32_t y);
/** Shows (on 1) or hides (on 0) the window. */
TAVOLEN_API int32_t tavolen_window_set_visible(TavolenWindow* window, int32_t on);

/** Copies the client area out, 4 bytes per pixel, rows top to bottom, exactly
 * as the window holds them. Returns the byte count (width * height * 4), or 0
 * when the buffer is too small or the handle unknown. */
TAVOLEN_API int32_t tavolen_window_read_pixels(TavolenWindow* window, uint8_t* buffer,
                                               int32_t bufferSize);

/** Host-side input and screen, for hosts whose input does not come through
 * SDL (the browser host, tests).
 * tavolen_window_send_mouse: event 1 left button down, 2 right button down,
 * 3 the second press of a left double click (its first press came as event 1),
 * 4 left button up, 5 move; x and y in client-area pixels. Returns 1, or 0 for
 * an unknown handle or event. When a control lives in the window, the call
 * returns once the control has handled the event, so read_pixels shows it.
 * tavolen_window_set_screen_size: the screen an off-screen window pretends to
 * sit on (default 1920 x 1080, each side 2..TAVOLEN_WINDOW_MAX_SIDE); a
 * control's full screen covers it, one pixel short in each direction. 1 done,
 * 0 failed; always 0 for an SDL window, whose screen is its display's. */
TAVOLEN_API int32_t tavolen_window_send_mouse(TavolenWindow* window, int32_t event, int32_t x,
                                              int32_t y);
/** Sets the screen an off-screen window sits on; see above. */
TAVOLEN_API int32_t tavolen_window_set_screen_size(TavolenWindow* window, int32_t width,
                                                   int32_t height);

/** Where the window is and what it shows, for hosts that mirror it elsewhere
 * (the browser host). Position and size are the client area's, in screen
 * pixels; fullScreen is 1 while a control shows it full screen. */
typedef struct TavolenWindowState {
  int32_t x;            /**< client area's left edge on the screen */
  int32_t y;            /**< client area's top edge on the screen */
  int32_t width;        /**< client area's width */
  int32_t height;       /**< client area's height */
  int32_t visible;      /**< 1 shown, 0 hidden */
  int32_t fullScreen;   /**< 1 while a control shows it full screen */
  int32_t screenWidth;  /**< the screen's width */
  int32_t screenHeight; /**< the screen's height */
} TavolenWindowState;

TAVOLEN_STATIC_ASSERT(sizeof(TavolenWindowState) == 32, "TavolenWindowState size");
TAVOLEN_STATIC_ASSERT(offsetof(TavolenWindowState, fullScreen) == 20, "TavolenWindowState.fullScreen");

/** 1 done, 0 for an unknown handle or a NULL out. */
TAVOLEN_API int32_t tavolen_window_get_state(TavolenWindow* window, TavolenWindowState* out);

/** Wakes the host: see tavolen_window_set_listener. */
typedef void (*TavolenWindowListener)(void* user);
/** Called after the window's pixels or state changed, on the thread that
 * changed them (a player's decode thread, a control's UI thread, the host's
 * own). It should only wake the host's thread, which then reads the window;
 * it must not call into the window or a control. Calls are serialised; once
 * set_listener or destroy has returned, the previous listener is not running
 * and is never called again. NULL removes it. 1 done, 0 for an unknown handle
 * (and when called from inside the listener). */
TAVOLEN_API int32_t tavolen_window_set_listener(TavolenWindow* window,
                                                TavolenWindowListener listener, void* user);

/** Destroys the window. Returns 1, or 0 for an unknown handle. */
TAVOLEN_API int32_t tavolen_window_destroy(TavolenWindow* window);

TAVOLEN_END_DECLS

#endif
