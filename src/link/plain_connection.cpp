#include "link/plain_connection.h"

#include <cstdio>
#include <string>

#include "link/host_address.h"
#include "link/tcp_socket.h"

namespace tavolen {

void PlainConnection::close() {
  if (socket == platform::kInvalidSocket) return;
  platform::shutdownBoth(socket);
  platform::closeSocket(socket);
  socket = platform::kInvalidSocket;
}

int32_t connectPlain(const char* host, PlainConnection& connection, int32_t port) {
  std::string dotted;
  if (!resolveHostText(host, dotted)) return 0;
  std::snprintf(connection.host, sizeof connection.host, "%s", dotted.c_str());
  connection.port = port;
  const platform::SocketHandle s = openConfiguredTcpSocket();
  if (s == platform::kInvalidSocket) return 0;
  if (!connectWithWait(s, connection.host, port, CTcpSocket::kConnectWaitMs)) return 0;
  connection.socket = s;
  return 1;
}

}  // namespace tavolen
