/* Camera link: one handle per camera. Every call on a handle that is null or
 * not (or no longer) listed returns 0 and does nothing. Results: 1 done, 0 failed. */
#ifndef TAVOLEN_LINK_H
#define TAVOLEN_LINK_H

#include "tavolen/types.h"

TAVOLEN_BEGIN_DECLS

typedef void* DeviceHandle;

TAVOLEN_API int32_t device_net_work_init(void);
TAVOLEN_API int32_t device_net_work_deInit(void);
TAVOLEN_API DeviceHandle device_net_work_createInstance(DeviceConnectParams params);
TAVOLEN_API int32_t device_net_work_destroyInstance(DeviceHandle handle);
TAVOLEN_API int32_t device_net_work_startStream(DeviceHandle handle, int32_t streamId,
                                                FrameCallback callback, void* user);
TAVOLEN_API int32_t device_net_work_stopStream(DeviceHandle handle);
TAVOLEN_API int32_t device_net_work_startAudio(DeviceHandle handle, int32_t audioStreamId,
                                               FrameCallback callback, void* user);
TAVOLEN_API int32_t device_net_work_stopAudio(DeviceHandle handle);
TAVOLEN_API int32_t device_net_work_startTalk(DeviceHandle handle);
TAVOLEN_API int32_t device_net_work_stopTalk(DeviceHandle handle);
TAVOLEN_API int32_t device_net_work_sendTalkData(DeviceHandle handle, const uint8_t* data,
                                                 int32_t length);
TAVOLEN_API int32_t device_net_work_set_event_callback(DeviceHandle handle,
                                                       LinkEventCallback callback, void* user);
TAVOLEN_API int32_t device_net_work_ptz(DeviceHandle handle, int32_t command);
TAVOLEN_API int32_t device_net_work_param_callback(DeviceHandle handle, ParamCallback paramCallback,
                                                   ResultCallback resultCallback, void* user);
TAVOLEN_API int32_t device_net_work_set_network(DeviceHandle handle, int32_t command,
                                                const void* data, int32_t length);
TAVOLEN_API int32_t device_net_work_get_network(DeviceHandle handle, int32_t command);

TAVOLEN_API int32_t device_record_file_search_list(
    DeviceHandle handle, int32_t startYear, int32_t startMonth, int32_t startDay,
    int32_t startHour, int32_t startMinute, int32_t startSecond, int32_t endYear,
    int32_t endMonth, int32_t endDay, int32_t endHour, int32_t endMinute, int32_t endSecond,
    RecordListCallback callback, void* user);
TAVOLEN_API int32_t device_record_file_start(DeviceHandle handle, const char* fileName,
                                             FrameCallback callback, void* user);
TAVOLEN_API int32_t device_record_file_stop(DeviceHandle handle);
TAVOLEN_API int32_t device_record_file_set_pos(DeviceHandle handle, int32_t offset);

TAVOLEN_END_DECLS

#endif
