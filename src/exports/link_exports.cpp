// The camera-link C interface: check the handle, call the slot, return its
// result. Every body runs in the C boundary's guard: anything thrown (a thread
// or an allocation that failed) gives 0, or a null handle.
#include "link/device_list.h"
#include "platform/c_boundary.h"
#include "tavolen/link.h"

using tavolen::CNetDevice;
using tavolen::deviceList;
using tavolen::platform::guardedCall;

namespace {
template <typename Call>
int32_t withLink(DeviceHandle handle, Call call) {
  return tavolen::platform::pinnedCall(deviceList(), handle, int32_t{0}, call);
}
}  // namespace

extern "C" {

TAVOLEN_API int32_t device_net_work_init(void) { return 1; }
TAVOLEN_API int32_t device_net_work_deInit(void) { return 1; }

TAVOLEN_API DeviceHandle device_net_work_createInstance(DeviceConnectParams params) {
  return guardedCall<DeviceHandle>(nullptr, [&] { return tavolen::createListedLink(params); });
}

TAVOLEN_API int32_t device_net_work_destroyInstance(DeviceHandle handle) {
  return guardedCall(0, [&] { return tavolen::destroyListedLink(handle) ? 1 : 0; });
}

TAVOLEN_API int32_t device_net_work_startStream(DeviceHandle handle, int32_t streamId,
                                                FrameCallback callback, void* user) {
  return withLink(handle, [&](CNetDevice& d) { return d.startStream(streamId, callback, user); });
}

TAVOLEN_API int32_t device_net_work_stopStream(DeviceHandle handle) {
  return withLink(handle, [&](CNetDevice& d) { return d.stopStream(); });
}

TAVOLEN_API int32_t device_net_work_startAudio(DeviceHandle handle, int32_t audioStreamId,
                                               FrameCallback callback, void* user) {
  return withLink(handle, [&](CNetDevice& d) {
    return d.startAudio(audioStreamId, callback, user);
  });
}

TAVOLEN_API int32_t device_net_work_stopAudio(DeviceHandle handle) {
  return withLink(handle, [&](CNetDevice& d) { return d.stopAudio(); });
}

TAVOLEN_API int32_t device_net_work_startTalk(DeviceHandle handle) {
  return withLink(handle, [&](CNetDevice& d) { return d.startTalk(); });
}

TAVOLEN_API int32_t device_net_work_stopTalk(DeviceHandle handle) {
  return withLink(handle, [&](CNetDevice& d) { return d.stopTalk(); });
}

TAVOLEN_API int32_t device_net_work_sendTalkData(DeviceHandle handle, const uint8_t* data,
                                                 int32_t length) {
  return withLink(handle, [&](CNetDevice& d) { return d.sendTalkData(data, length); });
}

TAVOLEN_API int32_t device_net_work_set_event_callback(DeviceHandle handle,
                                                       LinkEventCallback callback, void* user) {
  return withLink(handle, [&](CNetDevice& d) {
    d.set_event_callback(callback, user);
    return 1;
  });
}

TAVOLEN_API int32_t device_net_work_ptz(DeviceHandle handle, int32_t command) {
  return withLink(handle, [&](CNetDevice& d) { return d.ptz(command); });
}

TAVOLEN_API int32_t device_net_work_param_callback(DeviceHandle handle, ParamCallback paramCallback,
                                                   ResultCallback resultCallback, void* user) {
  return withLink(handle, [&](CNetDevice& d) {
    return d.param_callback(paramCallback, resultCallback, user);
  });
}

TAVOLEN_API int32_t device_net_work_set_network(DeviceHandle handle, int32_t command,
                                                const void* data, int32_t length) {
  return withLink(handle, [&](CNetDevice& d) { return d.set_network(command, data, length); });
}

TAVOLEN_API int32_t device_net_work_get_network(DeviceHandle handle, int32_t command) {
  return withLink(handle, [&](CNetDevice& d) { return d.get_network(command); });
}

TAVOLEN_API int32_t device_record_file_search_list(
    DeviceHandle handle, int32_t startYear, int32_t startMonth, int32_t startDay,
    int32_t startHour, int32_t startMinute, int32_t startSecond, int32_t endYear,
    int32_t endMonth, int32_t endDay, int32_t endHour, int32_t endMinute, int32_t endSecond,
    RecordListCallback callback, void* user) {
  return withLink(handle, [&](CNetDevice& d) {
    return d.record_file_search_list(startYear, startMonth, startDay, startHour, startMinute,
                                      startSecond, endYear, endMonth, endDay, endHour, endMinute,
                                      endSecond, callback, user);
  });
}

TAVOLEN_API int32_t device_record_file_start(DeviceHandle handle, const char* fileName,
                                             FrameCallback callback, void* user) {
  return withLink(handle, [&](CNetDevice& d) {
    return d.record_file_start(fileName, callback, user);
  });
}

TAVOLEN_API int32_t device_record_file_stop(DeviceHandle handle) {
  return withLink(handle, [&](CNetDevice& d) { return d.record_file_stop(); });
}

TAVOLEN_API int32_t device_record_file_set_pos(DeviceHandle handle, int32_t offset) {
  return withLink(handle, [&](CNetDevice& d) { return d.record_file_set_pos(offset); });
}

}  // extern "C"
