#pragma once
// PlainConnection: a bare connected socket for one request/response exchange;
// no thread of its own. The caller closes an open connection before reuse.

#include <cstdint>

#include "platform/socket.h"

namespace tavolen {

struct PlainConnection {
  platform::SocketHandle socket = platform::kInvalidSocket;
  char host[128] = {};
  int32_t port = 0;

  bool isOpen() const { return socket != platform::kInvalidSocket; }
  // Shuts down both directions and closes; a closed connection is left as is.
  void close();
};

// 1: connected, in blocking mode. 0: lookup, socket, option, connect or its
// 3 s wait failed; the connection stays closed.
int32_t connectPlain(const char* host, PlainConnection& connection, int32_t port);

}  // namespace tavolen
