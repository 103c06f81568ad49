#include "link/host_address.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace tavolen {

using platform::SocketHandle;
using platform::SocketOption;

namespace {

std::atomic<int> gSendBuffer{SocketBufferSizes{}.send};
std::atomic<int> gReceiveBuffer{SocketBufferSizes{}.receive};

}  // namespace

SocketBufferSizes linkSocketBuffers() { return SocketBufferSizes{gSendBuffer.load(), gReceiveBuffer.load()}; }

void setLinkSocketBuffers(const SocketBufferSizes& sizes) {
  gSendBuffer = sizes.send;
  gReceiveBuffer = sizes.receive;
}

bool resolveHostText(const char* host, std::string& dotted) {
  if (host == nullptr) return false;
  if (platform::isDottedIPv4(host)) {
    dotted.assign(host, std::min<size_t>(std::char_traits<char>::length(host), 127));
    return true;
  }
  return platform::resolveIPv4(host, dotted);
}

SocketHandle openConfiguredTcpSocket() {
  const SocketHandle s = platform::createTcpSocket();
  if (s == platform::kInvalidSocket) {
    std::printf("create socket failed, errno=%ld\n", static_cast<long>(platform::lastSocketError()));
    std::fflush(stdout);
    return platform::kInvalidSocket;
  }
  if (!platform::setSocketOption(s, SocketOption::ReuseAddress, 1)) {
    const long error = platform::lastSocketError();
    platform::shutdownBoth(s);
    platform::closeSocket(s);
    std::printf("Error in setsockopt(SO_REUSEADDR), errno=%ld\n", error);
    std::fflush(stdout);
    return platform::kInvalidSocket;
  }
  struct Option {
    SocketOption option;
    int value;
    const char* line;
  };
  const SocketBufferSizes buffers = linkSocketBuffers();
  const Option options[] = {
      {SocketOption::NoDelay, 1, "Error in setsockopt(TCP_NODELAY), errno=%ld\n"},
      {SocketOption::SendBuffer, buffers.send, "Error in setsockopt(SO_SNDBUF), errno=%ld\n"},
      {SocketOption::ReceiveBuffer, buffers.receive, "Error in setsockopt(SO_RCVBUF), errno=%ld\n"},
  };
  for (const auto& o : options) {
    if (o.value == 0) continue;
    if (!platform::setSocketOption(s, o.option, o.value)) {
      std::printf(o.line, static_cast<long>(platform::lastSocketError()));
      std::fflush(stdout);
    }
  }
  return s;
}

bool connectWithWait(SocketHandle s, const char* dottedHost, int32_t port, int waitMs) {
  bool ok = platform::setNonBlocking(s, true);
  if (ok) {
    switch (platform::startConnect(s, dottedHost, port)) {
      case platform::ConnectStart::Done: break;
      case platform::ConnectStart::InProgress:
        ok = platform::waitConnected(s, waitMs) == platform::WaitResult::Ready;
        break;
      case platform::ConnectStart::Failed: ok = false; break;
    }
  }
  return ok && platform::setNonBlocking(s, false);
}

}  // namespace tavolen
