// Receive-path throughput: a local sender writes 100 KB frames over loopback;
// once into a CTcpSocket (reassembly and in-place delivery), once into a bare
// recv loop on a socket with the same options. Both run in this process, in
// alternation, and the best of three rounds counts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "link/tcp_socket.h"
#include "platform/tick.h"

namespace {

constexpr size_t kPayload = 100 * 1024;
constexpr int kFrames = 3000;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> makeFrame() {
  std::vector<uint8_t> f(32 + kPayload, 0x5A);
  const uint32_t magic = 0xA815AA55u, len = kPayload;
  std::memcpy(f.data(), &magic, 4);
  f[4] = 1;
  std::memcpy(f.data() + 16, &len, 4);
  return f;
}

struct Listener {
  int fd;
  int port;
  Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 4);
    socklen_t l = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &l);
    port = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd); }
};

// Accepts one connection and writes kFrames frames to it.
std::thread startSender(Listener& listener, const std::vector<uint8_t>& frame) {
  return std::thread([&listener, &frame] {
    const int c = accept(listener.fd, nullptr, nullptr);
    for (int i = 0; i < kFrames; ++i) {
      size_t at = 0;
      while (at < frame.size()) {
        const ssize_t n = send(c, frame.data() + at, frame.size() - at, MSG_NOSIGNAL);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
    }
    shutdown(c, SHUT_WR);
    char b;
    while (recv(c, &b, 1, 0) > 0) {
    }
    ::close(c);
  });
}

struct Count {
  std::atomic<int> frames{0};
  std::atomic<long long> bytes{0};
};

double ours(const std::vector<uint8_t>& frame) {
  Listener listener;
  std::thread sender = startSender(listener, frame);
  Count count;
  tavolen::CTcpSocket socket;
  socket.bindDelivery(
      [](const uint8_t*, int32_t length, void* o) {
        auto* c = static_cast<Count*>(o);
        c->bytes += length;
        ++c->frames;
      },
      &count);
  const auto start = Clock::now();
  if (socket.connect("127.0.0.1", listener.port) != 1) return 0;
  while (count.frames.load() < kFrames) std::this_thread::sleep_for(std::chrono::microseconds(200));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  socket.close();
  sender.join();
  return static_cast<double>(count.bytes.load()) / seconds / 1e6;
}

double peer(const std::vector<uint8_t>& frame) {
  Listener listener;
  std::thread sender = startSender(listener, frame);
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1, size = 8192;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(listener.port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto start = Clock::now();
  connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  std::vector<uint8_t> buf(0x80000);
  long long total = 0;
  const long long want = static_cast<long long>(frame.size()) * kFrames;
  while (total < want) {
    const ssize_t n = recv(s, buf.data(), buf.size(), 0);
    if (n <= 0) break;
    total += n;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(s);
  sender.join();
  return static_cast<double>(total) / seconds / 1e6;
}

}  // namespace

int main() {
  const std::vector<uint8_t> frame = makeFrame();
  double bestOurs = 0, bestPeer = 0;
  for (int round = 0; round < 3; ++round) {
    const double o = ours(frame);
    const double p = peer(frame);
    std::printf("round %d: CTcpSocket %.1f MB/s (%.0f frames/s), bare recv %.1f MB/s (%.0f frames/s)\n", round, o,
                o * 1e6 / frame.size(), p, p * 1e6 / frame.size());
    bestOurs = std::max(bestOurs, o);
    bestPeer = std::max(bestPeer, p);
  }
  std::printf("{\"bench\":\"transport\",\"unit\":\"MB/s\",\"ours\":%.1f,\"peer\":%.1f,\"ratio\":%.3f,\"better\":\"higher\"}\n",
              bestOurs, bestPeer, bestOurs / bestPeer);
  return 0;
}
