/* Stream players, two-way talk and the mixer. Player calls on a null or
 * unlisted handle return 0. Results: 1 success, 0 failure. */
#ifndef TAVOLEN_PLAYER_H
#define TAVOLEN_PLAYER_H

#include "tavolen/types.h"

TAVOLEN_BEGIN_DECLS

typedef void* PlayerHandle;
typedef void* DualtalkHandle;
/* A window handle is a TavolenWindow* (see tavolen/window.h). */
typedef void* PlayWindow;

TAVOLEN_API int32_t x_player_initPlayLib(void);
TAVOLEN_API int32_t x_player_uninitPlayLib(void);
TAVOLEN_API PlayerHandle x_player_createPlayInstance(int32_t kind);
TAVOLEN_API int32_t x_player_destroyPlayInstance(PlayerHandle handle);

TAVOLEN_API int32_t x_player_startPlay(PlayerHandle handle);
TAVOLEN_API int32_t x_player_stopPlay(PlayerHandle handle);
TAVOLEN_API int32_t x_player_inputNetFrame(PlayerHandle handle, const uint8_t* frame, int32_t length);
TAVOLEN_API int32_t x_player_getListFrameNum(PlayerHandle handle);
TAVOLEN_API int32_t x_player_setPlayWnd(PlayerHandle handle, PlayWindow window);
TAVOLEN_API intptr_t x_player_getPlayWnd(PlayerHandle handle);
TAVOLEN_API int32_t x_player_refreshLastPicture(PlayerHandle handle);
TAVOLEN_API int32_t x_player_openSound(PlayerHandle handle);
TAVOLEN_API int32_t x_player_closeSound(PlayerHandle handle);
TAVOLEN_API int32_t x_player_setOsdString(PlayerHandle handle, int32_t index, const OsdItem* item);
TAVOLEN_API int32_t x_player_removeOsdstring(PlayerHandle handle, int32_t index);
TAVOLEN_API int32_t x_player_capturePicture(PlayerHandle handle, const char* fileName);
TAVOLEN_API int32_t x_player_capturePictureBuf(PlayerHandle handle, uint8_t* buffer);
TAVOLEN_API int32_t x_player_getPlayPicSize(PlayerHandle handle, int32_t* width, int32_t* height);
TAVOLEN_API int32_t x_player_adjustViewArea(PlayerHandle handle, int32_t left, int32_t right,
                                            int32_t top, int32_t bottom);
TAVOLEN_API int32_t x_player_setRenderEffect(PlayerHandle handle, int32_t effect);
TAVOLEN_API int32_t x_player_renderActualProportion(PlayerHandle handle, int32_t on);
TAVOLEN_API int32_t x_player_startlocalrecord(PlayerHandle handle, RecordStartParams params);
TAVOLEN_API int32_t x_player_stoplocalrecord(PlayerHandle handle);
TAVOLEN_API int32_t x_player_getrecordstatus(PlayerHandle handle);

/* Health of one player since its creation, for viewers and benchmarks. Each
 * count is a 32-bit word that wraps. */
typedef struct PlayerCounters {
  uint32_t framesIn;          /* frames handed to inputNetFrame while playing */
  uint32_t videoQueued;       /* video frames appended to the queue */
  uint32_t audioQueued;       /* sound blocks accepted for playback */
  uint32_t droppedOverflow;   /* dropped at a full queue (H.264 drop mode, JPEG 20 frames) */
  uint32_t droppedFlushed;    /* queued frames discarded to make room (key frame, JPEG rule) */
  uint32_t droppedAudio;      /* sound blocks of a wrong length, or while sound is off */
  uint32_t droppedUnusable;   /* taken from the queue and freed undecoded */
  uint32_t picturesDecoded;
  uint32_t decodeErrors;      /* rejected or damaged pictures */
  uint32_t picturesPresented; /* pictures that reached the window */
  uint32_t queueDepth;        /* video frames queued now */
  uint32_t width;             /* last decoded picture */
  uint32_t height;
  uint32_t recordRestarts;    /* recording files restarted after a refused write */
  uint32_t reserved[2];
} PlayerCounters;

TAVOLEN_STATIC_ASSERT(sizeof(PlayerCounters) == 64, "PlayerCounters size");
TAVOLEN_STATIC_ASSERT(offsetof(PlayerCounters, picturesDecoded) == 28, "PlayerCounters.picturesDecoded");
TAVOLEN_STATIC_ASSERT(offsetof(PlayerCounters, recordRestarts) == 52, "PlayerCounters.recordRestarts");

/* Copies the player's counters; 0 for a null or unlisted handle or a null record. */
TAVOLEN_API int32_t x_player_getCounters(PlayerHandle handle, PlayerCounters* counters);

TAVOLEN_API DualtalkHandle x_player_createDualtalkInstance(void);
TAVOLEN_API int32_t x_player_destroyDualtalkInstance(DualtalkHandle handle);
TAVOLEN_API int32_t x_player_StartDualTalk(DualtalkHandle handle, TalkCallback callback, void* user);
TAVOLEN_API int32_t x_player_StopDualTalk(DualtalkHandle handle);

/* The capture's talk encoding, for hosts that talk from another source (a
 * sound file): TALK_BLOCK_SAMPLES samples of 8000 Hz mono 16-bit PCM in, one
 * TALK_BLOCK_BYTES IMA ADPCM block out, coded from a fresh encoder state as
 * every captured block is. Returns TALK_BLOCK_BYTES, or 0 when a pointer is
 * null. Any thread. */
#define TALK_BLOCK_SAMPLES 512
#define TALK_BLOCK_BYTES 256
TAVOLEN_API int32_t x_player_encodeTalkBlock(const int16_t* samples, uint8_t* block);

#define TAVOLEN_E_FAIL ((int32_t)0x80004005u)
TAVOLEN_API int32_t x_player_setPlayVolume(int32_t volume);
TAVOLEN_API int32_t x_player_getPlayVolume(void);
TAVOLEN_API int32_t x_player_setMute(int32_t mute);
TAVOLEN_API int32_t x_player_getMute(void);
TAVOLEN_API int32_t x_player_setMicPlayVolume(int32_t volume);
TAVOLEN_API int32_t x_player_getMicPlayVolume(void);
TAVOLEN_API int32_t x_player_setMicMute(int32_t mute);
TAVOLEN_API int32_t x_player_getMicMute(void);

TAVOLEN_END_DECLS

#endif
