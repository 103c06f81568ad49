#pragma once
// PlainConnection: a bare connected socket for one request/response exchange;
// no thread of its own. The caller closes an open connection before reuse.
//
// The socket is kept where other threads can reach it from the moment it is
// created until its owner closes it, so that shutdown() (a stop) and cancel()
// (the owner is being destroyed) make a connect, a receive or a send blocked
// on it return at once, without ever touching a descriptor that has been
// closed and perhaps reused meanwhile.
//
// Threads: connectPlain, close and release on the owner's thread; shutdown,
// cancel, isOpen and socket from any thread. lock_ guards connecting_,
// cancelled_ and every change of socket_; a descriptor is closed only after it
// has left both fields under lock_.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/socket.h"

namespace tavolen {

// A camera that has not accepted a connection within 3 s is taken to be away.
inline constexpr int kConnectWaitMs = 3000;

// The longest a request or a talk packet may wait for the camera to take its
// bytes. A camera on a poor link drains a few kilobytes within a second or
// so; one that takes nothing for as long as we would wait for it to accept a
// connection has stopped reading, and a talk call blocked longer than that is
// already a gap the user hears.
inline constexpr uint32_t kSendTimeLimitMs = 3000;

class PlainConnection {
 public:
  PlainConnection() = default;
  ~PlainConnection();
  PlainConnection(const PlainConnection&) = delete;
  PlainConnection& operator=(const PlainConnection&) = delete;

  bool isOpen() const { return socket_.load() != platform::kInvalidSocket; }
  // The connected socket, for the owner's own sends and receives.
  platform::SocketHandle socket() const { return socket_.load(); }
  // Dotted IPv4 address and port last connected to.
  const char* host() const { return host_; }
  int32_t port() const { return port_; }

  // Shuts down both directions and closes; a closed connection is left as is.
  void close();
  // Takes the connected socket out of the connection without closing it; the
  // caller closes it once nothing uses it any more. kInvalidSocket when closed.
  platform::SocketHandle release();
  // As release, but only while s is still the connected socket.
  bool releaseIf(platform::SocketHandle s);

  // Shuts down the socket being connected or connected now, both directions;
  // the owner still closes it. Later connects work as before.
  void shutdown();
  // As shutdown, and every later connect fails at once.
  void cancel();

 private:
  friend int32_t connectPlain(const char* host, PlainConnection& connection, int32_t port);
  // False when the connection was cancelled; s is then not listed.
  bool beginConnect(platform::SocketHandle s);
  // Lists s as connected when the connect succeeded and no cancel came.
  bool endConnect(platform::SocketHandle s, bool connected);

  mutable std::mutex lock_;
  platform::SocketHandle connecting_ = platform::kInvalidSocket;
  bool cancelled_ = false;
  std::atomic<platform::SocketHandle> socket_{platform::kInvalidSocket};
  char host_[128] = {};
  int32_t port_ = 0;
};

// 1: connected, in blocking mode. 0: lookup, socket, option, connect or its
// 3 s wait failed, or the connection was shut down or cancelled meanwhile; the
// connection stays closed.
int32_t connectPlain(const char* host, PlainConnection& connection, int32_t port);

}  // namespace tavolen
