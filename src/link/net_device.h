#pragma once
// CNetDevice: the camera link interface. The sixteen operations keep this slot
// order; every one returns a signed 32-bit result and, in this base, does
// nothing and returns 0. CTcpNetDevice overrides all but startTalk/stopTalk.
//
// The base also carries what every link has: a copy of the connect record and
// the request header block built from it.

#include <cstdint>

#include "link/http_exchange.h"
#include "tavolen/types.h"

namespace tavolen {

class CNetDevice {
 public:
  CNetDevice();
  explicit CNetDevice(const DeviceConnectParams& params);
  virtual ~CNetDevice();
  CNetDevice(const CNetDevice&) = delete;
  CNetDevice& operator=(const CNetDevice&) = delete;

  virtual int32_t startStream(int32_t streamId, FrameCallback callback, void* user);  // slot 1
  virtual int32_t stopStream();                                                          // slot 2
  virtual int32_t startAudio(int32_t audioStreamId, FrameCallback callback, void* user); // slot 3
  virtual int32_t stopAudio();                                                           // slot 4
  virtual int32_t startTalk();                                                           // slot 5
  virtual int32_t stopTalk();                                                            // slot 6
  virtual int32_t sendTalkData(const uint8_t* data, int32_t length);                     // slot 7
  virtual int32_t set_event_callback(LinkEventCallback callback, void* user);            // slot 8
  virtual int32_t ptz(int32_t command);                                                  // slot 9
  virtual int32_t record_file_search_list(int32_t startYear, int32_t startMonth,        // slot 10
                                          int32_t startDay, int32_t startHour,
                                          int32_t startMinute, int32_t startSecond,
                                          int32_t endYear, int32_t endMonth, int32_t endDay,
                                          int32_t endHour, int32_t endMinute,
                                          int32_t endSecond, RecordListCallback callback,
                                          void* user);
  virtual int32_t record_file_start(const char* fileName, FrameCallback callback,        // slot 11
                                    void* user);
  virtual int32_t record_file_stop();                                                    // slot 12
  virtual int32_t record_file_set_pos(int32_t offset);                                   // slot 13
  virtual int32_t param_callback(ParamCallback paramCallback,                            // slot 14
                                 ResultCallback resultCallback, void* user);
  virtual int32_t set_network(int32_t command, const void* data, int32_t length);        // slot 15
  virtual int32_t get_network(int32_t command);                                          // slot 16

  // Not one of the slots: the link's cancel step, run when its handle is being
  // destroyed, before the handle list waits for the calls in flight on the
  // link, and while they may still be running on other threads. It must make
  // every operation that can block on the camera (a connect, a send, a receive
  // a call waits for) return soon, leave the link able to be stopped and
  // deleted afterwards, and neither block nor wait for those calls itself.
  // The base has nothing in flight and does nothing.
  virtual void cancel();
  // Not one of the slots: true on a thread that is inside one of this link's
  // own frame or event callbacks, where destroying the link would wait for
  // itself. The base has no callbacks: false.
  virtual bool insideOwnCallback() const;

  const DeviceConnectParams& params() const { return params_; }
  const char* headerBlock() const { return headerBlock_; }

 protected:
  DeviceConnectParams params_{};
  char headerBlock_[kHeaderBlockSize] = {};
};

}  // namespace tavolen
