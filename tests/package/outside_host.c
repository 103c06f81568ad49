/* A host program as someone outside the project writes it: plain C99, built
 * with `pkg-config --cflags --libs tavolen` against the installed header and
 * library. It watches camera HOST:PORT's small stream until a player has
 * decoded a few pictures, and prints what it saw.
 *
 *   outside_host HOST PORT  -> "decoded N pictures of WxH", exit 0
 *
 * Exit 1 when no picture is decoded within 20 s (the camera's name, the
 * connection or the decoder failed), 2 on bad arguments. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <tavolen/tavolen.h>

enum { kWantedPictures = 3, kGiveUpSeconds = 20 };

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
static int lastEvent = -1;

/* Runs on the link's receive thread: the player copies the frame. */
static int32_t onFrame(const uint8_t* frame, int32_t length, void* user) {
  return x_player_inputNetFrame((PlayerHandle)user, frame, length);
}

static void onEvent(int32_t event, void* user) {
  (void)user;
  pthread_mutex_lock(&lock);
  lastEvent = event;
  pthread_cond_broadcast(&changed);
  pthread_mutex_unlock(&lock);
}

static uint32_t decoded(PlayerHandle player, PlayerCounters* counters) {
  memset(counters, 0, sizeof *counters);
  x_player_getCounters(player, counters);
  return counters->picturesDecoded;
}

int main(int argc, char** argv) {
  DeviceConnectParams params;
  PlayerCounters counters;
  struct timespec deadline;
  TavolenWindow* window;
  PlayerHandle player;
  DeviceHandle link;
  int result = 1;

  if (argc != 3) {
    fprintf(stderr, "usage: outside_host HOST PORT\n");
    return 2;
  }
  memset(&params, 0, sizeof params);
  strcpy(params.user, "admin");
  snprintf(params.host, sizeof params.host, "%s", argv[1]);
  params.port = atoi(argv[2]);

  window = tavolen_window_create_offscreen(320, 180);
  player = x_player_createPlayInstance(0);
  link = device_net_work_createInstance(params);
  if (!window || !player || !link) {
    fprintf(stderr, "outside_host: cannot create the window, player or link\n");
    return 1;
  }
  x_player_setPlayWnd(player, window);
  x_player_startPlay(player);
  device_net_work_set_event_callback(link, onEvent, NULL);
  device_net_work_startStream(link, 3, onFrame, player);

  /* The player has no callback of its own: look at its counters whenever the
   * link reports something, and at least every 100 ms. */
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += kGiveUpSeconds;
  pthread_mutex_lock(&lock);
  for (;;) {
    struct timespec tick;
    if (decoded(player, &counters) >= kWantedPictures) {
      result = 0;
      break;
    }
    clock_gettime(CLOCK_REALTIME, &tick);
    if (tick.tv_sec > deadline.tv_sec ||
        (tick.tv_sec == deadline.tv_sec && tick.tv_nsec >= deadline.tv_nsec))
      break;
    tick.tv_nsec += 100 * 1000 * 1000;
    if (tick.tv_nsec >= 1000 * 1000 * 1000) {
      tick.tv_nsec -= 1000 * 1000 * 1000;
      tick.tv_sec += 1;
    }
    pthread_cond_timedwait(&changed, &lock, &tick);
  }
  pthread_mutex_unlock(&lock);

  device_net_work_stopStream(link);
  device_net_work_destroyInstance(link);
  x_player_destroyPlayInstance(player);
  tavolen_window_destroy(window);

  if (result == 0)
    printf("decoded %u pictures of %ux%u\n", (unsigned)counters.picturesDecoded,
           (unsigned)counters.width, (unsigned)counters.height);
  else
    fprintf(stderr, "outside_host: %u pictures decoded in %d s (last link event %d)\n",
            (unsigned)counters.picturesDecoded, kGiveUpSeconds, lastEvent);
  return result;
}
