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

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/event.h"
#include "platform/socket.h"

namespace tavolen {

class CTcpSocket {
 public:
  using DeliverFn = void (*)(const uint8_t* frame, int32_t length, void* owner);

  static constexpr size_t kBufferSize = 0x80000;
  static constexpr int kConnectWaitMs = 3000;
  static constexpr int kReceiveSliceMs = 200;
  static constexpr int kSocketBufferBytes = 8192;
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

  // 1 connected with the receive thread running, 0 failed (socket closed).
  int32_t connect(const char* host, int32_t port);
  // Always 1. Closes the connection if open and ends the receive thread; the
  // descriptor goes only once a send in flight on it has returned, so not
  // while holding sendLock().
  int32_t close();

  // One send call of the whole block under the send lock; the count sent (or
  // -1) is returned for diagnostics, the stream protocol does not check it.
  long send(const void* data, size_t length);
  std::mutex& sendLock() { return sendLock_; }
  // Sends while the caller already holds sendLock().
  long sendLocked(const void* data, size_t length);

  bool isOpen() const { return socket_.load() != platform::kInvalidSocket; }

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
  const char* host() const { return host_; }
  int32_t port() const { return port_; }

 private:
  void receiveThreadMain(platform::SocketHandle s, uint32_t generation);
  // Returns false when the connection ended or the socket was closed here.
  bool receiveStep(platform::SocketHandle s, const StopCheck& stop);
  void closeFromReceiveThread(platform::SocketHandle s);
  void closeAfterSends(platform::SocketHandle s);
  void joinReceiveThread();

  std::atomic<platform::SocketHandle> socket_{platform::kInvalidSocket};
  char host_[128] = {};
  int32_t port_ = 0;
  std::mutex sendLock_;
  DeliverFn deliver_ = nullptr;
  void* owner_ = nullptr;
  std::atomic<int32_t> stopFlag_{0};
  std::atomic<uint32_t> generation_{0};  // one per connect
  std::mutex threadLock_;  // guards receiveThread_ against two closers
  std::thread receiveThread_;
  platform::Event stopEvent_{platform::Event::Reset::Auto};
  int32_t filled_ = 0;  // receive thread only
  std::array<uint8_t, kBufferSize> buffer_;
};

}  // namespace tavolen
