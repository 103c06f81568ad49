// The camera-link C interface: check the handle, call the slot, return its result.
#include <new>

#include "link/device_list.h"
#include "link/tcp_net_device.h"
#include "tavolen/link.h"

using tavolen::CNetDevice;
using tavolen::CTcpNetDevice;
using tavolen::DeviceList;

namespace {
DeviceList& handles() { return DeviceList::instance(); }
}  // namespace

extern "C" {

TAVOLEN_API int32_t device_net_work_init(void) { return 1; }
TAVOLEN_API int32_t device_net_work_deInit(void) { return 1; }

TAVOLEN_API DeviceHandle device_net_work_createInstance(DeviceConnectParams params) {
  CNetDevice* device = new (std::nothrow) CTcpNetDevice(params);
  if (device == nullptr) return nullptr;
  handles().add(device);
  return device;
}

TAVOLEN_API int32_t device_net_work_destroyInstance(DeviceHandle handle) {
  CNetDevice* device = handles().remove(handle);
  if (device == nullptr) return 0;
  device->stopStream();
  delete device;
  return 1;
}

TAVOLEN_API int32_t device_net_work_startStream(DeviceHandle handle, int32_t streamId,
                                                FrameCallback callback, void* user) {
  auto d = handles().acquire(handle);
  return d ? d->startStream(streamId, callback, user) : 0;
}

TAVOLEN_API int32_t device_net_work_stopStream(DeviceHandle handle) {
  auto d = handles().acquire(handle);
  return d ? d->stopStream() : 0;
}

TAVOLEN_API int32_t device_net_work_startAudio(DeviceHandle handle, int32_t audioStreamId,
                                               FrameCallback callback, void* user) {
  auto d = handles().acquire(handle);
  return d ? d->startAudio(audioStreamId, callback, user) : 0;
}

TAVOLEN_API int32_t device_net_work_stopAudio(DeviceHandle handle) {
  auto d = handles().acquire(handle);
  return d ? d->stopAudio() : 0;
}

TAVOLEN_API int32_t device_net_work_startTalk(DeviceHandle handle) {
  auto d = handles().acquire(handle);
  return d ? d->startTalk() : 0;
}

TAVOLEN_API int32_t device_net_work_stopTalk(DeviceHandle handle) {
  auto d = handles().acquire(handle);
  return d ? d->stopTalk() : 0;
}

TAVOLEN_API int32_t device_net_work_sendTalkData(DeviceHandle handle, const uint8_t* data,
                                                 int32_t length) {
  auto d = handles().acquire(handle);
  return d ? d->sendTalkData(data, length) : 0;
}

TAVOLEN_API int32_t device_net_work_set_event_callback(DeviceHandle handle,
                                                       LinkEventCallback callback, void* user) {
  auto d = handles().acquire(handle);
  if (!d) return 0;
  d->set_event_callback(callback, user);
  return 1;
}

TAVOLEN_API int32_t device_net_work_ptz(DeviceHandle handle, int32_t command) {
  auto d = handles().acquire(handle);
  return d ? d->ptz(command) : 0;
}

TAVOLEN_API int32_t device_net_work_param_callback(DeviceHandle handle, ParamCallback paramCallback,
                                                   ResultCallback resultCallback, void* user) {
  auto d = handles().acquire(handle);
  return d ? d->param_callback(paramCallback, resultCallback, user) : 0;
}

TAVOLEN_API int32_t device_net_work_set_network(DeviceHandle handle, int32_t command,
                                                const void* data, int32_t length) {
  auto d = handles().acquire(handle);
  return d ? d->set_network(command, data, length) : 0;
}

TAVOLEN_API int32_t device_net_work_get_network(DeviceHandle handle, int32_t command) {
  auto d = handles().acquire(handle);
  return d ? d->get_network(command) : 0;
}

TAVOLEN_API int32_t device_record_file_search_list(
    DeviceHandle handle, int32_t startYear, int32_t startMonth, int32_t startDay,
    int32_t startHour, int32_t startMinute, int32_t startSecond, int32_t endYear,
    int32_t endMonth, int32_t endDay, int32_t endHour, int32_t endMinute, int32_t endSecond,
    RecordListCallback callback, void* user) {
  auto d = handles().acquire(handle);
  return d ? d->record_file_search_list(startYear, startMonth, startDay, startHour, startMinute,
                                        startSecond, endYear, endMonth, endDay, endHour,
                                        endMinute, endSecond, callback, user)
           : 0;
}

TAVOLEN_API int32_t device_record_file_start(DeviceHandle handle, const char* fileName,
                                             FrameCallback callback, void* user) {
  auto d = handles().acquire(handle);
  return d ? d->record_file_start(fileName, callback, user) : 0;
}

TAVOLEN_API int32_t device_record_file_stop(DeviceHandle handle) {
  auto d = handles().acquire(handle);
  return d ? d->record_file_stop() : 0;
}

TAVOLEN_API int32_t device_record_file_set_pos(DeviceHandle handle, int32_t offset) {
  auto d = handles().acquire(handle);
  return d ? d->record_file_set_pos(offset) : 0;
}

}  // extern "C"
