#pragma once
// CTcpSocket: one streaming connection to the camera. After connect, a receive
// thread reads the byte stream into a fixed reassembly buffer, cuts it into
// media frames and hands each whole frame, in place, to the owner's delivery
// function.
//
// Threads: connect/close/send may be called from any thread; close may also be
// called from inside the delivery function (the receive thread then ends by
// itself). The delivery function runs on the receive thread, may block (nothing
// more is read meanwhile) and must copy what it keeps: the frame lives in the
// buffer only for the call. Do not call close while holding a lock that the
// delivery function takes.
//
// Nothing here waits on the camera without a bound: a connect waits at most
// kConnectWaitMs, a send at most the send time limit, and shutdown() or
// cancel() from another thread makes either return at once. The connection's
// descriptor is closed only after the receive thread has ended and under the
// send lock, so no send ever reaches a descriptor that was closed and reused.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "link/plain_connection.h"
#include "platform/event.h"
#include "platform/socket.h"

namespace tavolen {

class CTcpSocket {
 public:
  using DeliverFn = void (*)(const uint8_t* frame, int32_t length, void* owner);

  static constexpr size_t kBufferSize = 0x80000;
  static constexpr int kReceiveSliceMs = 200;
  static constexpr int kReceivesPerWakeup = 16;
  // The reassembly buffer holds one whole frame at most, so a longer payload
  // can never complete: it is a framing error rather than a stalled link.
  static constexpr uint32_t kMaxAcceptedPayload = kBufferSize - 32;

  CTcpSocket();
  ~CTcpSocket();
  CTcpSocket(const CTcpSocket&) = delete;
  CTcpSocket& operator=(const CTcpSocket&) = delete;

  // Binds the delivery function; call before the first connect.
  void bindDelivery(DeliverFn deliver, void* owner);
  // The longest one send may wait for the camera (kSendTimeLimitMs unless
  // set); call before the first connect.
  void setSendTimeLimit(uint32_t ms) { sendLimitMs_ = ms; }

  // 1 connected with the receive thread running, 0 failed (socket closed).
  int32_t connect(const char* host, int32_t port);
  // Always 1. Closes the connection if open (a connect in progress on another
  // thread fails) and ends the receive thread.
  int32_t close();
  // Any thread, never waits: shuts down the connection being made or held, so
  // that a connect, a send or the receive thread blocked on it returns at once.
  // The owner still closes the socket.
  void shutdown();
  // As shutdown, and every later connect fails at once: the owner is being
  // destroyed.
  void cancel();

  // Sends the whole block under the send lock; false when the socket is
  // closed, the send failed or the camera took less than all of it within the
  // send time limit. The last two shut the connection down, as a framing
  // error does: part of the block may have gone out, so the byte stream is
  // broken. The receive thread then ends and the owner reconnects.
  bool send(const void* data, size_t length);

  bool isOpen() const { return connection_.isOpen(); }

  // Tells a receive thread that its connection is over: the stop flag is set,
  // or a newer connection (a connect from inside the delivery) replaced it.
  struct StopCheck {
    const std::atomic<int32_t>* stopFlag = nullptr;
    const std::atomic<uint32_t>* generation = nullptr;
    uint32_t mine = 0;
    bool stopped() const {
      return (stopFlag != nullptr && stopFlag->load() != 0) ||
             (generation != nullptr && generation->load() != mine);
    }
  };

  enum class CutResult { NeedMore, FramingError, Stopped };
  // Delivers every whole frame at the start of buffer[0, filled) and moves the
  // remainder to the front; filled is updated. Returns Stopped, leaving the
  // buffer untouched, as soon as stop.stopped() after a delivery.
  static CutResult cutFrames(uint8_t* buffer, int32_t& filled, DeliverFn deliver, void* owner,
                             const StopCheck& stop);
  const char* host() const { return connection_.host(); }
  int32_t port() const { return connection_.port(); }

 private:
  void receiveThreadMain(platform::SocketHandle s, uint32_t generation);
  // Returns false when the connection ended or the socket was closed here.
  bool receiveStep(platform::SocketHandle s, const StopCheck& stop);
  void closeFromReceiveThread(platform::SocketHandle s);
  void joinReceiveThread();
  // Closes a socket taken out of the connection once no send can be using it.
  void closeReleased(platform::SocketHandle s);

  PlainConnection connection_;
  std::mutex sendLock_;  // held around every send, and around the close of a descriptor
  uint32_t sendLimitMs_ = kSendTimeLimitMs;
  DeliverFn deliver_ = nullptr;
  void* owner_ = nullptr;
  std::atomic<int32_t> stopFlag_{0};
  std::atomic<uint32_t> generation_{0};  // one per connect
  // Guards receiveThread_ against two closers, and the hand-over of a new
  // connection's socket from connect to its receive thread against a close.
  std::mutex threadLock_;
  std::thread receiveThread_;
  platform::Event stopEvent_{platform::Event::Reset::Auto};
  int32_t filled_ = 0;  // receive thread only
  std::array<uint8_t, kBufferSize> buffer_;
};

}  // namespace tavolen
