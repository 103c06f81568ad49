#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/tick.h"

namespace tavolen::platform {

namespace {
bool toAddress(const char* dotted, int port, sockaddr_in& out) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<uint16_t>(port));
  return inet_pton(AF_INET, dotted, &out.sin_addr) == 1;
}

uint32_t waitLimit(int timeoutMs) { return timeoutMs < 0 ? kWaitForever : static_cast<uint32_t>(timeoutMs); }

int pollOne(SocketHandle s, short events, int timeoutMs, short& revents) {
  pollfd p{s, events, 0};
  const int n = currentClock().poll(&p, 1, waitLimit(timeoutMs));
  revents = p.revents;
  return n;
}
}  // namespace

int lastSocketError() { return errno; }
const char* errorText(int error) { return std::strerror(error); }

bool isDottedIPv4(const char* text) {
  in_addr addr;
  return text != nullptr && inet_pton(AF_INET, text, &addr) == 1;
}

bool resolveIPv4(const char* name, std::string& dottedOut) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) return false;
  char text[INET_ADDRSTRLEN] = {};
  const auto* in = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  const bool ok = inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr;
  freeaddrinfo(result);
  if (ok) dottedOut = text;
  return ok;
}

SocketHandle createTcpSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
SocketHandle createUdpSocket() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

bool setSocketOption(SocketHandle s, SocketOption option, int value) {
  int level = SOL_SOCKET;
  int name = 0;
  switch (option) {
    case SocketOption::ReuseAddress: name = SO_REUSEADDR; break;
    case SocketOption::NoDelay: level = IPPROTO_TCP; name = TCP_NODELAY; break;
    case SocketOption::SendBuffer: name = SO_SNDBUF; break;
    case SocketOption::ReceiveBuffer: name = SO_RCVBUF; break;
    case SocketOption::Broadcast: name = SO_BROADCAST; break;
  }
  return ::setsockopt(s, level, name, &value, sizeof value) == 0;
}

bool setNonBlocking(SocketHandle s, bool on) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0) return false;
  return ::fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

ConnectStart startConnect(SocketHandle s, const char* dottedHost, int port) {
  sockaddr_in addr;
  if (!toAddress(dottedHost, port, addr)) {
    errno = EINVAL;
    return ConnectStart::Failed;
  }
  if (::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return ConnectStart::Done;
  return errno == EINPROGRESS ? ConnectStart::InProgress : ConnectStart::Failed;
}

WaitResult waitConnected(SocketHandle s, int timeoutMs) {
  short revents = 0;
  const int n = pollOne(s, POLLOUT, timeoutMs, revents);
  if (n == 0) return WaitResult::Timeout;
  if (n < 0) return WaitResult::Error;
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
    if (error != 0) errno = error;
    return WaitResult::Error;
  }
  return WaitResult::Ready;
}

WaitResult waitReadable(SocketHandle s, int timeoutMs) {
  short revents = 0;
  const int n = pollOne(s, POLLIN, timeoutMs, revents);
  if (n == 0) return WaitResult::Timeout;
  if (n < 0 || (revents & POLLNVAL)) {
    if (revents & POLLNVAL) errno = EBADF;
    return WaitResult::Error;
  }
  return WaitResult::Ready;  // readable, hung up or in error: the receive tells which
}

SocketOrEvent waitSocketOrEvent(SocketHandle s, int eventFd, int timeoutMs, Clock& on) {
  pollfd p[2] = {{s, POLLIN, 0}, {eventFd, POLLIN, 0}};
  const int n = on.poll(p, 2, waitLimit(timeoutMs));
  if (n == 0) return SocketOrEvent::Timeout;
  if (n < 0) return SocketOrEvent::Error;
  if (p[1].revents & POLLIN) return SocketOrEvent::Event;
  if (p[0].revents & POLLNVAL) return SocketOrEvent::NotASocket;
  if (p[0].revents & POLLIN) return SocketOrEvent::Socket;
  if (p[0].revents & (POLLHUP | POLLERR)) return SocketOrEvent::SocketClosed;
  return SocketOrEvent::Timeout;
}

long sendOnce(SocketHandle s, const void* data, size_t length) {
  long n;
  do {
    n = ::send(s, data, length, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n;
}

SendResult sendAll(SocketHandle s, const void* data, size_t length, uint32_t timeoutMs) {
  const auto* p = static_cast<const uint8_t*>(data);
  const uint32_t start = tickCount();
  while (length > 0) {
    const long n = ::send(s, p, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || !wouldBlock(errno)) return SendResult::Failed;
    const uint32_t spent = tickCount() - start;
    if (spent >= timeoutMs) return SendResult::TimedOut;
    short revents = 0;
    const int ready = pollOne(s, POLLOUT, static_cast<int>(timeoutMs - spent), revents);
    if (ready < 0) return SendResult::Failed;
    if (ready == 0) return SendResult::TimedOut;
  }
  return SendResult::Sent;
}

long receiveOnce(SocketHandle s, void* data, size_t length) {
  long n;
  do {
    n = ::recv(s, data, length, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

long receiveNow(SocketHandle s, void* data, size_t length) {
  long n;
  do {
    n = ::recv(s, data, length, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

bool bindAny(SocketHandle s, uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  return ::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

bool bindAddress(SocketHandle s, const char* dottedHost, uint16_t port) {
  sockaddr_in addr;
  if (!toAddress(dottedHost, port, addr)) return false;
  return ::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

long sendTo(SocketHandle s, const void* data, size_t length, const char* dottedHost, uint16_t port) {
  sockaddr_in addr;
  if (!toAddress(dottedHost, port, addr)) return -1;
  return ::sendto(s, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

long receiveFrom(SocketHandle s, void* data, size_t length) {
  long n;
  do {
    n = ::recvfrom(s, data, length, 0, nullptr, nullptr);
  } while (n < 0 && errno == EINTR);
  return n;
}

uint16_t localPort(SocketHandle s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

void shutdownBoth(SocketHandle s) { ::shutdown(s, SHUT_RDWR); }
void shutdownReceive(SocketHandle s) { ::shutdown(s, SHUT_RD); }
void closeSocket(SocketHandle s) { ::close(s); }

}  // namespace tavolen::platform
