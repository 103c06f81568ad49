/** @file
 * Stream players, two-way talk and the mixer. Player calls on a null or
 * unlisted handle return 0. Results: 1 success, 0 failure. */
#ifndef TAVOLEN_PLAYER_H
#define TAVOLEN_PLAYER_H

#include "tavolen/types.h"

TAVOLEN_BEGIN_DECLS

/** A stream player, as x_player_createPlayInstance returns it. */
typedef void* PlayerHandle;
/** A microphone capture for talk, as x_player_createDualtalkInstance returns it. */
typedef void* DualtalkHandle;
/** A window handle is a TavolenWindow* (see tavolen/window.h). */
typedef void* PlayWindow;

/** Library set-up and tear-down; nothing to do here, each returns 1. */
TAVOLEN_API int32_t x_player_initPlayLib(void);
/** See x_player_initPlayLib. */
TAVOLEN_API int32_t x_player_uninitPlayLib(void);
/** A new stopped player without window, sound or recording: kind 0 plays
 * H.264, 1 plays JPEG. NULL for any other kind. */
TAVOLEN_API PlayerHandle x_player_createPlayInstance(int32_t kind);
/** Stops the player's recording, sound and playback, then frees it. 0 for a
 * null handle, else 1. Not while another thread is inside a call on it. */
TAVOLEN_API int32_t x_player_destroyPlayInstance(PlayerHandle handle);

/** Starts decoding and drawing; 1 (also when already playing). */
TAVOLEN_API int32_t x_player_startPlay(PlayerHandle handle);
/** Stops decoding and drawing and empties the queues; 1 (also when stopped). */
TAVOLEN_API int32_t x_player_stopPlay(PlayerHandle handle);
/** Hands the player one media frame (FrameHeader and payload, length bytes,
 * at most 32 + 524288), as a FrameCallback receives it. A frame is recorded
 * when recording, then queued or dropped when the queue is full. Returns 1
 * while playing (queued or dropped), 0 when stopped. The frame is copied. */
TAVOLEN_API int32_t x_player_inputNetFrame(PlayerHandle handle, const uint8_t* frame, int32_t length);
/** The number of video frames queued (H.264); 0 for a JPEG player. */
TAVOLEN_API int32_t x_player_getListFrameNum(PlayerHandle handle);
/** The window the player draws into (a TavolenWindow*, or NULL for none). */
TAVOLEN_API int32_t x_player_setPlayWnd(PlayerHandle handle, PlayWindow window);
/** The window given to x_player_setPlayWnd, as an integer. */
TAVOLEN_API intptr_t x_player_getPlayWnd(PlayerHandle handle);
/** Draws the last picture again (after the window was covered or resized):
 * 1 when drawn, 0 when there is no picture since x_player_startPlay. */
TAVOLEN_API int32_t x_player_refreshLastPicture(PlayerHandle handle);
/** Plays (open) or stops playing (close) the stream's sound on the default
 * sound output. */
TAVOLEN_API int32_t x_player_openSound(PlayerHandle handle);
/** See x_player_openSound. */
TAVOLEN_API int32_t x_player_closeSound(PlayerHandle handle);
/** Shows the text of item in slot index (0 to 15) over every picture from the
 * next one on; the item is copied. */
TAVOLEN_API int32_t x_player_setOsdString(PlayerHandle handle, int32_t index, const OsdItem* item);
/** Removes the text of slot index. */
TAVOLEN_API int32_t x_player_removeOsdstring(PlayerHandle handle, int32_t index);
/** Writes the next drawn picture as a BMP file (fileName: a path), waiting up
 * to 200 ms for it. 0 when refused (not playing, a snapshot already pending). */
TAVOLEN_API int32_t x_player_capturePicture(PlayerHandle handle, const char* fileName);
/** Like x_player_capturePicture into buffer instead of a file: the BMP's
 * 54-byte header and then width * height * 4 bytes, bottom row first (see
 * x_player_getPlayPicSize). 0 when refused or when no picture came in 200 ms;
 * the buffer is never written after the call returned. H.264 players only. */
TAVOLEN_API int32_t x_player_capturePictureBuf(PlayerHandle handle, uint8_t* buffer);
/** Writes the size of the picture the player draws; H.264 players only, while
 * playing. */
TAVOLEN_API int32_t x_player_getPlayPicSize(PlayerHandle handle, int32_t* width, int32_t* height);
/** Shows only the part of the picture between left, right, top and bottom (in
 * picture pixels). H.264 players only. */
TAVOLEN_API int32_t x_player_adjustViewArea(PlayerHandle handle, int32_t left, int32_t right,
                                            int32_t top, int32_t bottom);
/** Mirrors the picture: 0 none, 1 left to right, 2 upside down, 3 both. */
TAVOLEN_API int32_t x_player_setRenderEffect(PlayerHandle handle, int32_t effect);
/** on 1 keeps the picture's proportions inside the window (bars around it);
 * 0 stretches it over the whole window. H.264 players only. */
TAVOLEN_API int32_t x_player_renderActualProportion(PlayerHandle handle, int32_t on);
/** Starts recording the frames handed to the player into an AVI file as
 * params describes; the record is copied. */
TAVOLEN_API int32_t x_player_startlocalrecord(PlayerHandle handle, RecordStartParams params);
/** Ends the recording and closes its file. */
TAVOLEN_API int32_t x_player_stoplocalrecord(PlayerHandle handle);
/** 1 while recording, 0 otherwise. */
TAVOLEN_API int32_t x_player_getrecordstatus(PlayerHandle handle);

/** Health of one player since its creation, for viewers and benchmarks. Each
 * count is a 32-bit word that wraps. */
typedef struct PlayerCounters {
  uint32_t framesIn;          /**< frames handed to inputNetFrame while playing */
  uint32_t videoQueued;       /**< video frames appended to the queue */
  uint32_t audioQueued;       /**< sound blocks accepted for playback */
  uint32_t droppedOverflow;   /**< dropped at a full queue (H.264 drop mode, JPEG 20 frames) */
  uint32_t droppedFlushed;    /**< queued frames discarded to make room (key frame, JPEG rule) */
  uint32_t droppedAudio;      /**< sound blocks of a wrong length, or while sound is off */
  uint32_t droppedUnusable;   /**< taken from the queue and freed undecoded */
  uint32_t picturesDecoded;   /**< pictures decoded */
  uint32_t decodeErrors;      /**< rejected or damaged pictures */
  uint32_t picturesPresented; /**< pictures that reached the window */
  uint32_t queueDepth;        /**< video frames queued now */
  uint32_t width;             /**< last decoded picture */
  uint32_t height;            /**< last decoded picture */
  uint32_t recordRestarts;    /**< recording files restarted after a refused write */
  uint32_t reserved[2];       /**< 0 */
} PlayerCounters;

TAVOLEN_STATIC_ASSERT(sizeof(PlayerCounters) == 64, "PlayerCounters size");
TAVOLEN_STATIC_ASSERT(offsetof(PlayerCounters, picturesDecoded) == 28, "PlayerCounters.picturesDecoded");
TAVOLEN_STATIC_ASSERT(offsetof(PlayerCounters, recordRestarts) == 52, "PlayerCounters.recordRestarts");

/** Copies the player's counters; 0 for a null or unlisted handle or a null record. */
TAVOLEN_API int32_t x_player_getCounters(PlayerHandle handle, PlayerCounters* counters);

/** A new microphone capture for talk, or NULL. */
TAVOLEN_API DualtalkHandle x_player_createDualtalkInstance(void);
/** Stops and frees the capture: 0 for a null handle, else 1. */
TAVOLEN_API int32_t x_player_destroyDualtalkInstance(DualtalkHandle handle);
/** Captures the default microphone and hands callback (with user) one
 * TALK_BLOCK_BYTES IMA ADPCM block per TALK_BLOCK_SAMPLES samples, on the
 * capture's thread, ready for device_net_work_sendTalkData. 1 capturing, 0
 * failed. */
TAVOLEN_API int32_t x_player_StartDualTalk(DualtalkHandle handle, TalkCallback callback, void* user);
/** Stops the capture; no block is delivered once it returns. 0 for a null
 * handle, else 1. */
TAVOLEN_API int32_t x_player_StopDualTalk(DualtalkHandle handle);

/** Samples (8000 Hz, mono, 16-bit) in one talk block. */
#define TALK_BLOCK_SAMPLES 512
/** Bytes of one encoded talk block. */
#define TALK_BLOCK_BYTES 256

/** The capture's talk encoding, for hosts that talk from another source (a
 * sound file): TALK_BLOCK_SAMPLES samples of 8000 Hz mono 16-bit PCM in, one
 * TALK_BLOCK_BYTES IMA ADPCM block out, coded from a fresh encoder state as
 * every captured block is. Returns TALK_BLOCK_BYTES, or 0 when a pointer is
 * null. Any thread. */
TAVOLEN_API int32_t x_player_encodeTalkBlock(const int16_t* samples, uint8_t* block);

/** What the mixer setters return when the sound card refuses. */
#define TAVOLEN_E_FAIL ((int32_t)0x80004005u)

/* The mixer of the first sound card: the speakers' and the microphone's
 * volume, in percent of the control's range, and mute switch. Setters return 0
 * when done, TAVOLEN_E_FAIL when there is no such control or it refuses. Any
 * thread. */
/** Sets the speakers' volume in percent. */
TAVOLEN_API int32_t x_player_setPlayVolume(int32_t volume);
/** The speakers' volume in percent, or -1. */
TAVOLEN_API int32_t x_player_getPlayVolume(void);
/** Mutes (non-zero) or unmutes (0) the speakers. */
TAVOLEN_API int32_t x_player_setMute(int32_t mute);
/** 1 when the speakers are muted, else 0. */
TAVOLEN_API int32_t x_player_getMute(void);
/** Sets the microphone's volume in percent. */
TAVOLEN_API int32_t x_player_setMicPlayVolume(int32_t volume);
/** The microphone's volume in percent, or -1. */
TAVOLEN_API int32_t x_player_getMicPlayVolume(void);
/** Mutes (non-zero) or unmutes (0) the microphone. */
TAVOLEN_API int32_t x_player_setMicMute(int32_t mute);
/** 1 when the microphone is muted, else 0. */
TAVOLEN_API int32_t x_player_getMicMute(void);

TAVOLEN_END_DECLS

#endif
