#include "link/tcp_socket.h"

#include <cstring>

#include "media/media_frame.h"
#include "platform/thread.h"

namespace tavolen {

using platform::SocketHandle;
using platform::kInvalidSocket;

CTcpSocket::CTcpSocket() = default;

CTcpSocket::~CTcpSocket() {
  close();
  // A destroy from inside the delivery function leaves the thread to end by
  // itself; it no longer touches this object once close has run.
  std::lock_guard<std::mutex> guard(threadLock_);
  if (receiveThread_.joinable()) receiveThread_.detach();
}

void CTcpSocket::bindDelivery(DeliverFn deliver, void* owner) {
  deliver_ = deliver;
  owner_ = owner;
}

int32_t CTcpSocket::connect(const char* host, int32_t port) {
  close();
  if (connectPlain(host, connection_, port) != 1) return 0;
  const SocketHandle s = connection_.socket();

  std::lock_guard<std::mutex> guard(threadLock_);
  // A close on another thread took the new socket before its thread began:
  // the close has won, and it closes the descriptor.
  if (s == kInvalidSocket || connection_.socket() != s) return 0;
  // A connect from inside the delivery: the old thread is this one; it ends
  // as soon as the delivery returns, seeing its connection replaced.
  if (receiveThread_.joinable()) receiveThread_.detach();
  const uint32_t generation = ++generation_;
  stopFlag_ = 0;
  receiveThread_ = platform::startThread([this, s, generation] { receiveThreadMain(s, generation); },
                                         platform::ThreadPriority::TimeCritical);
  return 1;
}

int32_t CTcpSocket::close() {
  // A connect in progress on another thread gives up at once.
  connection_.shutdown();
  bool onReceiveThread = false;
  SocketHandle s = kInvalidSocket;
  {
    // Under the thread lock, so that a connect either has its thread running
    // for the socket taken here (and it is joined below) or sees it gone.
    std::lock_guard<std::mutex> guard(threadLock_);
    onReceiveThread = receiveThread_.joinable() && receiveThread_.get_id() == std::this_thread::get_id();
    s = connection_.release();
  }
  if (s != kInvalidSocket) {
    platform::shutdownBoth(s);
    stopFlag_ = 1;
  }
  if (onReceiveThread) {
    // The thread sees stopFlag after the delivery returns and ends without
    // touching the socket again; its handle is joined by the next connect or close.
    closeReleased(s);
    return 1;
  }
  joinReceiveThread();
  // Closed only after the thread is gone, so it can never poll a descriptor
  // number that has meanwhile been reused.
  closeReleased(s);
  return 1;
}

void CTcpSocket::shutdown() { connection_.shutdown(); }

void CTcpSocket::cancel() { connection_.cancel(); }

void CTcpSocket::closeReleased(SocketHandle s) {
  if (s == kInvalidSocket) return;
  // A sender that loaded s before it was released is still using it; the
  // shutdown has made its wait return, so this lock is not held for long.
  std::lock_guard<std::mutex> guard(sendLock_);
  platform::closeSocket(s);
}

void CTcpSocket::joinReceiveThread() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> guard(threadLock_);
    thread = std::move(receiveThread_);
  }
  if (!thread.joinable()) return;
  stopFlag_ = 1;
  stopEvent_.signal();
  thread.join();
  stopEvent_.reset();
}

bool CTcpSocket::send(const void* data, size_t length) {
  std::lock_guard<std::mutex> guard(sendLock_);
  const SocketHandle s = connection_.socket();
  if (s == kInvalidSocket) return false;
  if (platform::sendAll(s, data, length, sendLimitMs_) == platform::SendResult::Sent) return true;
  platform::shutdownBoth(s);
  return false;
}

void CTcpSocket::receiveThreadMain(SocketHandle s, uint32_t generation) {
  const StopCheck stop{&stopFlag_, &generation_, generation};
  filled_ = 0;
  while (!stop.stopped()) {
    // The slice only brings the stop flag to mind again: real time, whatever the clock.
    switch (platform::waitSocketOrEvent(s, stopEvent_.fd(), kReceiveSliceMs, platform::systemClock())) {
      case platform::SocketOrEvent::Timeout:
      case platform::SocketOrEvent::Error:
        break;
      // Each ending returns rather than raising the shared stop flag, which may
      // by now belong to a newer connection.
      case platform::SocketOrEvent::Event:
      case platform::SocketOrEvent::NotASocket:
      case platform::SocketOrEvent::SocketClosed:
        return;
      case platform::SocketOrEvent::Socket:
        if (!receiveStep(s, stop)) return;
        break;
    }
  }
}

bool CTcpSocket::receiveStep(SocketHandle s, const StopCheck& stop) {
  // A readiness event is followed by further receives while data is already
  // waiting: with 8 KB socket buffers a wait per receive would double the
  // system calls of a busy stream. Each receive still goes straight into the
  // reassembly buffer.
  for (int i = 0; i < kReceivesPerWakeup; ++i) {
    const size_t room = kBufferSize - static_cast<size_t>(filled_);
    const long n = i == 0 ? platform::receiveOnce(s, buffer_.data() + filled_, room)
                          : platform::receiveNow(s, buffer_.data() + filled_, room);
    if (n == 0) return false;  // the peer closed; the owner notices the silence
    if (n < 0) return true;
    filled_ += static_cast<int32_t>(n);

    switch (cutFrames(buffer_.data(), filled_, deliver_, owner_, stop)) {
      case CutResult::NeedMore: break;
      case CutResult::FramingError: closeFromReceiveThread(s); return false;
      // A close from inside the delivery ends the stream here: the rest of the
      // buffer belongs to a connection that no longer exists.
      case CutResult::Stopped: return false;
    }
    if (stop.stopped()) return false;
  }
  return true;
}

CTcpSocket::CutResult CTcpSocket::cutFrames(uint8_t* buffer, int32_t& filled, DeliverFn deliver, void* owner,
                                            const StopCheck& stop) {
  size_t start = 0;
  while (static_cast<size_t>(filled) - start >= kFrameHeaderSize) {
    const uint8_t* frame = buffer + start;
    const uint32_t payload = readLe32(frame + 16);
    if (readLe32(frame) != kFrameMagic || payload > kMaxAcceptedPayload) {
      filled = 0;
      return CutResult::FramingError;
    }
    const size_t total = kFrameHeaderSize + payload;
    if (static_cast<size_t>(filled) - start < total) break;
    if (deliver != nullptr) deliver(frame, static_cast<int32_t>(total), owner);
    start += total;
    // The buffer may already belong to a newer connection: leave it alone.
    if (stop.stopped()) return CutResult::Stopped;
  }
  if (start > 0) {
    filled -= static_cast<int32_t>(start);
    std::memmove(buffer, buffer + start, static_cast<size_t>(filled));
  }
  return CutResult::NeedMore;
}

void CTcpSocket::closeFromReceiveThread(SocketHandle s) {
  filled_ = 0;
  // Another thread's close may have taken the socket already; it then closes
  // the descriptor after joining this thread.
  if (connection_.releaseIf(s)) {
    platform::shutdownBoth(s);
    closeReleased(s);
  }
}

}  // namespace tavolen
