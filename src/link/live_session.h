#pragma once
// LiveSession: one run of a link's live video stream, from startStream to
// stopStream: the video socket, the watchdog thread that (re)connects it, the
// dispatch of received frames to events and the frame callback, and the talk
// packets sent on the same connection.
//
// A session is owned through shared_ptr by the link and by its own watchdog.
// stopStream waits a bounded time for the watchdog; one still stuck in a
// connect is left to finish alone, holding the session alive, and the closed
// delivery gate keeps it from delivering a frame or raising an event ever after.
//
// Threads: stop() and sendTalk() from the caller's thread, never from inside
// one of the session's own callbacks (stop waits for them); the watchdog
// thread raises 0/100/101; the video socket's receive thread dispatches
// frames.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "link/link_state.h"
#include "link/tcp_socket.h"
#include "platform/event.h"

namespace tavolen {

class LiveSession : public std::enable_shared_from_this<LiveSession> {
 public:
  LiveSession(std::shared_ptr<LinkState> state, int32_t streamId, FrameCallback callback,
              void* user);
  ~LiveSession();
  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;

  void start();
  // Closes the connection, ends the watchdog (waiting at most the stop wait)
  // and closes the gate: after it returns no frame or event comes from this session.
  void stop();

  // Any thread, never waits (the link's destroy): breaks off the connect or
  // send in progress on the video connection; nothing connects again.
  void cancel();

  // Sends one whole talk packet when a live request went out on the current
  // connection; false when it was dropped. A send that the camera does not
  // take within the send time limit shuts the video connection down, so the
  // watchdog reconnects after the silence.
  bool sendTalk(const uint8_t* packet, size_t length);

  bool streamActive() const { return streamActive_.load() != 0; }
  // True on a thread that is inside one of this session's frame or event
  // callbacks.
  bool deliveringHere() const { return gate_.enteredHere(); }
  bool watchdogSuspended() const { return watchdogSuspended_.load() != 0; }
  int32_t streamId() const { return streamId_; }

  // Counters for hosts and benches.
  uint64_t framesDelivered() const { return framesDelivered_.load(); }
  uint64_t bytesDelivered() const { return bytesDelivered_.load(); }
  uint32_t reconnects() const { return reconnects_.load(); }

  static void deliver(const uint8_t* frame, int32_t length, void* owner);

 private:
  void watchdog();
  bool openStream();
  void dispatch(const uint8_t* frame, int32_t length);
  void raise(int32_t code);

  const std::shared_ptr<LinkState> state_;
  const int32_t streamId_;
  const FrameCallback callback_;
  void* const user_;

  CTcpSocket video_;
  DeliveryGate gate_;
  std::atomic<int32_t> streamStopped_{1};
  std::atomic<int32_t> streamActive_{0};
  std::atomic<int32_t> watchdogSuspended_{0};
  std::atomic<int32_t> talkReady_{0};
  std::atomic<uint32_t> lastDataTick_{0};
  std::atomic<uint64_t> framesDelivered_{0};
  std::atomic<uint64_t> bytesDelivered_{0};
  std::atomic<uint32_t> reconnects_{0};

  std::thread watchdog_;
  platform::Event watchdogEnded_{platform::Event::Reset::Manual};
  platform::Event stopped_{platform::Event::Reset::Manual};  // signalled with streamStopped_: ends the watchdog's waits
};

}  // namespace tavolen
