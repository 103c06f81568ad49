#pragma once
// CTcpNetDevice: the camera link over HTTP and TCP. It resolves the camera's
// address on its resolver thread, runs the live stream (LiveSession, one per
// startStream), the audio stream and the talk uplink, and hands the parameter
// commands and the SD-card record files to CommandQueue and RecordFiles.
//
// Threads: the operations may be called from any thread. A callback may call
// its own link too, except for startStream, stopStream and destroy: those wait
// for the live stream's callbacks to end, the calling one included. Made from
// a frame or event callback of the live stream, startStream and stopStream are
// refused (0, nothing changes), and so is destroy through the C interface.
// An audio callback may stop the audio (the audio socket lets its own delivery
// close it). Events come from the watchdog and the video receive thread;
// frames from the receive threads.
// Destroy: the handle list calls cancel() before it waits for the calls in
// flight. cancel shuts down every socket of the link (video, audio, playback,
// command, record search) and marks each so that nothing connects again, so a
// call blocked in a connect, a send or a wait for the camera returns at once;
// destroy then never waits on the network.
// Locks: the stream lock (startStream/stopStream), the audio lock
// (startAudio/stopAudio, held across the audio connect and send), the session
// lock (only to read or swap the current session) and each socket's send lock.

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "link/command_queue.h"
#include "link/link_state.h"
#include "link/live_session.h"
#include "link/net_device.h"
#include "link/record_files.h"
#include "link/tcp_socket.h"
#include "platform/event.h"

namespace tavolen {

// A talk packet is built in a 4096-byte buffer: 32 header bytes and at most
// this much payload. Longer talk data goes out as several packets.
inline constexpr int32_t kTalkPacketSize = 4096;
inline constexpr int32_t kMaxTalkPayload = kTalkPacketSize - FRAME_HEADER_SIZE;

class CTcpNetDevice : public CNetDevice {
 public:
  explicit CTcpNetDevice(const DeviceConnectParams& params);
  ~CTcpNetDevice() override;

  int32_t startStream(int32_t streamId, FrameCallback callback, void* user) override;
  int32_t stopStream() override;
  int32_t startAudio(int32_t audioStreamId, FrameCallback callback, void* user) override;
  int32_t stopAudio() override;
  int32_t sendTalkData(const uint8_t* data, int32_t length) override;
  int32_t set_event_callback(LinkEventCallback callback, void* user) override;
  int32_t ptz(int32_t command) override;
  int32_t record_file_search_list(int32_t startYear, int32_t startMonth, int32_t startDay,
                                  int32_t startHour, int32_t startMinute, int32_t startSecond,
                                  int32_t endYear, int32_t endMonth, int32_t endDay,
                                  int32_t endHour, int32_t endMinute, int32_t endSecond,
                                  RecordListCallback callback, void* user) override;
  int32_t record_file_start(const char* fileName, FrameCallback callback, void* user) override;
  int32_t record_file_stop() override;
  int32_t record_file_set_pos(int32_t offset) override;
  int32_t param_callback(ParamCallback paramCallback, ResultCallback resultCallback,
                         void* user) override;
  int32_t set_network(int32_t command, const void* data, int32_t length) override;
  int32_t get_network(int32_t command) override;
  void cancel() override;

  bool insideOwnCallback() const override;

  // For hosts, tests and benches.
  bool hostResolved() const { return state_->hostResolved.load() != 0; }
  std::string resolvedAddress() const { return state_->resolvedAddress(); }
  int32_t audioStreamId() const;
  bool audioActive() const { return audioActive_.load() != 0; }
  uint32_t talkSequence() const { return talkSequence_.load(); }
  uint64_t framesDelivered() const;
  bool watchdogSuspended() const;
  uint32_t reconnects() const;

 private:
  static void resolverMain(std::shared_ptr<LinkState> state, std::shared_ptr<platform::Event> done);
  static void deliverAudio(const uint8_t* frame, int32_t length, void* owner);
  bool openAudio();
  void stopStreamLocked();
  bool videoStreamActive() const;

  std::shared_ptr<LinkState> state_;
  std::thread resolver_;
  std::shared_ptr<platform::Event> resolverDone_;

  CommandQueue commands_;

  std::mutex streamLock_;
  mutable std::mutex sessionLock_;
  std::shared_ptr<LiveSession> session_;  // guarded by sessionLock_
  std::atomic<uint32_t> talkSequence_{0};
  uint64_t framesBefore_ = 0;  // of sessions already ended, guarded by sessionLock_
  uint32_t reconnectsBefore_ = 0;

  mutable std::mutex audioLock_;
  int32_t audioStreamId_ = -1;  // guarded by audioLock_
  std::atomic<int32_t> audioActive_{0};
  // Written only while no audio receive thread runs (before connect, after close).
  FrameCallback audioCallback_ = nullptr;
  void* audioUser_ = nullptr;
  CTcpSocket audio_;

  RecordFiles records_;
};

}  // namespace tavolen
