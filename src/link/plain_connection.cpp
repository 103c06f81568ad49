#include "link/plain_connection.h"

#include <cstdio>
#include <string>

#include "link/host_address.h"

namespace tavolen {

using platform::kInvalidSocket;
using platform::SocketHandle;

PlainConnection::~PlainConnection() { close(); }

void PlainConnection::close() {
  const SocketHandle s = release();
  if (s == kInvalidSocket) return;
  platform::shutdownBoth(s);
  platform::closeSocket(s);
}

SocketHandle PlainConnection::release() {
  std::lock_guard<std::mutex> guard(lock_);
  return socket_.exchange(kInvalidSocket);
}

bool PlainConnection::releaseIf(SocketHandle s) {
  std::lock_guard<std::mutex> guard(lock_);
  SocketHandle expected = s;
  return socket_.compare_exchange_strong(expected, kInvalidSocket);
}

void PlainConnection::shutdown() {
  std::lock_guard<std::mutex> guard(lock_);
  if (connecting_ != kInvalidSocket) platform::shutdownBoth(connecting_);
  const SocketHandle s = socket_.load();
  if (s != kInvalidSocket) platform::shutdownBoth(s);
}

void PlainConnection::cancel() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    cancelled_ = true;
  }
  shutdown();
}

bool PlainConnection::beginConnect(SocketHandle s) {
  std::lock_guard<std::mutex> guard(lock_);
  if (cancelled_) return false;
  connecting_ = s;
  return true;
}

bool PlainConnection::endConnect(SocketHandle s, bool connected) {
  std::lock_guard<std::mutex> guard(lock_);
  connecting_ = kInvalidSocket;
  if (!connected || cancelled_) return false;
  socket_ = s;
  return true;
}

int32_t connectPlain(const char* host, PlainConnection& connection, int32_t port) {
  std::string dotted;
  if (!resolveHostText(host, dotted)) return 0;
  std::snprintf(connection.host_, sizeof connection.host_, "%s", dotted.c_str());
  connection.port_ = port;
  const SocketHandle s = openConfiguredTcpSocket();
  if (s == kInvalidSocket) return 0;
  if (!connection.beginConnect(s)) {
    platform::closeSocket(s);
    return 0;
  }
  const bool connected = connectWithWait(s, connection.host_, port, kConnectWaitMs);
  if (!connection.endConnect(s, connected)) {
    platform::shutdownBoth(s);
    platform::closeSocket(s);
    return 0;
  }
  return 1;
}

}  // namespace tavolen
