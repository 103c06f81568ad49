#pragma once
// A TCP listener on 127.0.0.1 with an ephemeral port for tests: each accepted
// connection runs the test's script on a thread of its own. Raw POSIX calls,
// so that the peer of the code under test shares none of its code.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavolen::test {

class LoopbackServer {
 public:
  using Script = std::function<void(int fd)>;

  explicit LoopbackServer(Script script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }

  ~LoopbackServer() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    for (auto& t : connections_) t.join();
  }

  int port() const { return port_; }
  int accepted() const { return accepted_.load(); }

  // Writes all bytes; false when the peer went away.
  static bool writeAll(int fd, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
      const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
      if (k <= 0) return false;
      p += k;
      n -= static_cast<size_t>(k);
    }
    return true;
  }
  static bool writeAll(int fd, const std::string& s) { return writeAll(fd, s.data(), s.size()); }

  // Reads until the peer closes or timeoutMs passes with no data; returns what came.
  static std::string readUntilClosed(int fd, int timeoutMs) {
    std::string out;
    char buf[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) return out;
      const ssize_t k = ::recv(fd, buf, sizeof buf, 0);
      if (k <= 0) return out;
      out.append(buf, static_cast<size_t>(k));
    }
  }

  // True when the peer closed the connection within timeoutMs (data is skipped).
  static bool peerClosesWithin(int fd, int timeoutMs) {
    char buf[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) return false;
      const ssize_t k = ::recv(fd, buf, sizeof buf, 0);
      if (k <= 0) return true;
    }
  }

 private:
  void acceptLoop() {
    while (!stop_) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      ++accepted_;
      connections_.emplace_back([this, fd] {
        script_(fd);
        ::close(fd);
      });
    }
  }

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread acceptor_;
  std::vector<std::thread> connections_;
};

// A port on 127.0.0.1 with nothing listening: bound once, then released.
inline int closedLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  return ntohs(addr.sin_port);
}

// Builds one frame: header with the magic, type and payload length, then payload.
inline std::string makeFrame(uint8_t type, const std::string& payload, uint32_t magic = 0xA815AA55u) {
  std::string f(32, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put32(0, magic);
  f[4] = static_cast<char>(type);
  put32(16, static_cast<uint32_t>(payload.size()));
  return f + payload;
}

// A listener whose accept queue is full: further connects neither succeed nor
// fail, they wait out the link's 3 s connect limit.
class FullListener {
 public:
  FullListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 0);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    // Fill the queue with connections nobody accepts.
    for (int i = 0; i < 3; ++i) {
      const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
      fillers_.push_back(c);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the handshakes settle
  }
  ~FullListener() {
    for (int c : fillers_) ::close(c);
    ::close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace tavolen::test
