/** @file
 * Camera link: one handle per camera. Every call on a handle that is null or
 * not (or no longer) listed returns 0 and does nothing. Results: 1 done, 0 failed.
 *
 * A link runs its own threads: one resolves the camera's name every 10 s,
 * one runs the settings commands in order, a watchdog keeps the live stream
 * connected, and each open connection has a receive thread. Callbacks run on
 * those threads, never on the caller's, and must not destroy the link. Any
 * thread may call these functions; a destroy waits for calls still running on
 * the same handle.
 *
 * Usual order: create, set_event_callback, param_callback (for settings),
 * startStream, then anything, then destroy (which stops what still runs). */
#ifndef TAVOLEN_LINK_H
#define TAVOLEN_LINK_H

#include "tavolen/types.h"

TAVOLEN_BEGIN_DECLS

/** A camera link, as device_net_work_createInstance returns it. */
typedef void* DeviceHandle;

/** Nothing to set up; returns 1. */
TAVOLEN_API int32_t device_net_work_init(void);
/** Nothing to tear down; returns 1. */
TAVOLEN_API int32_t device_net_work_deInit(void);
/** A new link to the camera of params, or NULL when it cannot be made. It
 * starts resolving the camera's name at once but connects nothing until asked. */
TAVOLEN_API DeviceHandle device_net_work_createInstance(DeviceConnectParams params);
/** Stops the link's streams and frees it; the handle is invalid afterwards.
 * Returns 1, or 0 for a handle that is not listed. */
TAVOLEN_API int32_t device_net_work_destroyInstance(DeviceHandle handle);
/** Starts the live stream streamId (the camera's own stream number): the
 * watchdog connects at once, raises LinkEventStreamLost then
 * LinkEventStreamConnected or LinkEventStreamConnectFailed, and reconnects
 * after 5 s without a frame. Each media frame goes to callback; status and
 * alarm frames become LinkEvent codes. A stream already running is stopped
 * first. Returns 1. */
TAVOLEN_API int32_t device_net_work_startStream(DeviceHandle handle, int32_t streamId,
                                                FrameCallback callback, void* user);
/** Stops the live stream; no frame is delivered once it returns. Returns 1. */
TAVOLEN_API int32_t device_net_work_stopStream(DeviceHandle handle);
/** Requests the sound stream audioStreamId on a connection of its own; its
 * frames go to callback while the live stream runs. Not reconnected when it
 * drops. Returns 1 when the request was sent, 0 when the camera's name is not
 * resolved yet or the connection failed. */
TAVOLEN_API int32_t device_net_work_startAudio(DeviceHandle handle, int32_t audioStreamId,
                                               FrameCallback callback, void* user);
/** Stops the sound stream. Returns 1. */
TAVOLEN_API int32_t device_net_work_stopAudio(DeviceHandle handle);
/** Does nothing and returns 0: talk needs no set-up on the link (see
 * device_net_work_sendTalkData). */
TAVOLEN_API int32_t device_net_work_startTalk(DeviceHandle handle);
/** Does nothing and returns 0. */
TAVOLEN_API int32_t device_net_work_stopTalk(DeviceHandle handle);
/** Sends length bytes of encoded talk sound (TalkCallback blocks) to the
 * camera's speaker on the live stream's connection, as FRAME_TALK packets of
 * at most 4064 bytes each. Sound sent while the live stream is not connected
 * is dropped. Returns 1 for a listed handle. */
TAVOLEN_API int32_t device_net_work_sendTalkData(DeviceHandle handle, const uint8_t* data,
                                                 int32_t length);
/** Sets the callback that receives the link's LinkEvent codes; NULL silences
 * them. Returns 1. */
TAVOLEN_API int32_t device_net_work_set_event_callback(DeviceHandle handle,
                                                       LinkEventCallback callback, void* user);
/** Queues a pan/tilt command: codes 0 to 7, 11, 25 to 29 and 90 to 95 are sent
 * to the camera as they are (their meaning is the camera's); other codes are
 * dropped. Nothing is reported back. Returns 1. */
TAVOLEN_API int32_t device_net_work_ptz(DeviceHandle handle, int32_t command);
/** Sets the callbacks of the settings commands: paramCallback receives the
 * records read commands produce (with user), resultCallback the results of
 * write commands. Returns 1. */
TAVOLEN_API int32_t device_net_work_param_callback(DeviceHandle handle, ParamCallback paramCallback,
                                                   ResultCallback resultCallback, void* user);
/** Queues a write command (a CommandCode) with its record: length bytes of
 * data, at most COMMAND_DATA_SIZE (more is cut). Commands run one after the
 * other on the link's command thread, each on a new connection; one whose
 * connection fails is dropped without a report. Returns 1. */
TAVOLEN_API int32_t device_net_work_set_network(DeviceHandle handle, int32_t command,
                                                const void* data, int32_t length);
/** Queues a read command (a CommandCode) or CommandReboot; like
 * device_net_work_set_network without data. Returns 1. */
TAVOLEN_API int32_t device_net_work_get_network(DeviceHandle handle, int32_t command);

/** Lists the SD-card recordings made between the start and the end date, both
 * in local time (months 1 to 12, days 1 to 31, hours 0 to 23), on a thread of
 * its own: callback once per recording, in the camera's order. A date out of
 * range or a failed connection ends the search silently. A search started
 * while one runs waits for it. Returns 1, or 0 when called from inside a
 * search's callback. */
TAVOLEN_API int32_t device_record_file_search_list(
    DeviceHandle handle, int32_t startYear, int32_t startMonth, int32_t startDay,
    int32_t startHour, int32_t startMinute, int32_t startSecond, int32_t endYear,
    int32_t endMonth, int32_t endDay, int32_t endHour, int32_t endMinute, int32_t endSecond,
    RecordListCallback callback, void* user);
/** Plays the SD-card recording fileName (as listed, at most 127 bytes) from its
 * start: its frames go to callback, on the playback connection's thread, as
 * fast as the camera sends them (the callback may block to pace them). A
 * playback already running is replaced. Returns 1 when the request was sent,
 * 0 when the connection failed. */
TAVOLEN_API int32_t device_record_file_start(DeviceHandle handle, const char* fileName,
                                             FrameCallback callback, void* user);
/** Stops the playback; not to be called from inside its callback. Returns 1. */
TAVOLEN_API int32_t device_record_file_stop(DeviceHandle handle);
/** Plays the current recording again from byte offset within the file, on a new
 * connection; not to be called from inside its callback. Returns 1 when the
 * request was sent, 0 when the connection failed. */
TAVOLEN_API int32_t device_record_file_set_pos(DeviceHandle handle, int32_t offset);

TAVOLEN_END_DECLS

#endif
