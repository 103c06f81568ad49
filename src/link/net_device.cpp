#include "link/net_device.h"

#include <cstring>

namespace tavolen {

CNetDevice::CNetDevice() = default;

CNetDevice::CNetDevice(const DeviceConnectParams& params) : params_(params) {
  // The record's texts come from outside: make sure each one ends inside its field.
  params_.user[sizeof params_.user - 1] = '\0';
  params_.password[sizeof params_.password - 1] = '\0';
  params_.host[sizeof params_.host - 1] = '\0';
  buildHeaderBlock(headerBlock_, params_.host, params_.port);
}

CNetDevice::~CNetDevice() = default;

int32_t CNetDevice::startStream(int32_t, FrameCallback, void*) { return 0; }
int32_t CNetDevice::stopStream() { return 0; }
int32_t CNetDevice::startAudio(int32_t, FrameCallback, void*) { return 0; }
int32_t CNetDevice::stopAudio() { return 0; }
int32_t CNetDevice::startTalk() { return 0; }
int32_t CNetDevice::stopTalk() { return 0; }
int32_t CNetDevice::sendTalkData(const uint8_t*, int32_t) { return 0; }
int32_t CNetDevice::set_event_callback(LinkEventCallback, void*) { return 0; }
int32_t CNetDevice::ptz(int32_t) { return 0; }
int32_t CNetDevice::record_file_search_list(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                            int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                            RecordListCallback, void*) {
  return 0;
}
int32_t CNetDevice::record_file_start(const char*, FrameCallback, void*) { return 0; }
int32_t CNetDevice::record_file_stop() { return 0; }
int32_t CNetDevice::record_file_set_pos(int32_t) { return 0; }
int32_t CNetDevice::param_callback(ParamCallback, ResultCallback, void*) { return 0; }
int32_t CNetDevice::set_network(int32_t, const void*, int32_t) { return 0; }
int32_t CNetDevice::get_network(int32_t) { return 0; }
void CNetDevice::cancel() {}
bool CNetDevice::insideOwnCallback() const { return false; }

}  // namespace tavolen
