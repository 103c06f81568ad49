// Live-link throughput: camsim streams a 1080p H.264 profile (a looped run of
// frames, unpaced) as fast as the reader takes it. Ours: the camera link, with
// frames counted in its frame callback. Peer: a bare socket reader of the same
// stream with the same socket settings, cutting frames by their headers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "link/http_exchange.h"
#include "media/media_frame.h"
#include "platform/thread.h"
#include "tavolen/tavolen.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStreamId = 10;
constexpr uint64_t kWarmupFrames = 30;
constexpr uint64_t kMeasuredFrames = 3000;

struct Result {
  double framesPerSecond = 0;
  double megabytesPerSecond = 0;
};

struct Counter {
  std::atomic<uint64_t> frames{0};
  std::atomic<uint64_t> bytes{0};
  Clock::time_point start;
  uint64_t startBytes = 0;
  Clock::time_point end;
  uint64_t endBytes = 0;
  std::atomic<bool> done{false};

  void count(int32_t length) {
    const uint64_t n = frames.fetch_add(1) + 1;
    const uint64_t b = bytes.fetch_add(static_cast<uint64_t>(length)) + static_cast<uint64_t>(length);
    if (n == kWarmupFrames) {
      start = Clock::now();
      startBytes = b;
    } else if (n == kWarmupFrames + kMeasuredFrames) {
      end = Clock::now();
      endBytes = b;
      done = true;
    }
  }
  Result result() const {
    const double s = std::chrono::duration<double>(end - start).count();
    return {static_cast<double>(kMeasuredFrames) / s, static_cast<double>(endBytes - startBytes) / s / 1e6};
  }
};

int32_t onFrame(const uint8_t*, int32_t length, void* user) {
  static_cast<Counter*>(user)->count(length);
  return 0;
}

Result ours(uint16_t port) {
  DeviceConnectParams p;
  std::memset(&p, 0, sizeof p);
  std::snprintf(p.user, sizeof p.user, "admin");
  std::snprintf(p.host, sizeof p.host, "127.0.0.1");
  p.port = port;
  Counter counter;
  DeviceHandle h = device_net_work_createInstance(p);
  device_net_work_startStream(h, kStreamId, onFrame, &counter);
  while (!counter.done) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  device_net_work_destroyInstance(h);
  return counter.result();
}

Result peerReader(uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1, size = 8192;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return {};
  char block[tavolen::kHeaderBlockSize];
  tavolen::buildHeaderBlock(block, "127.0.0.1", port);
  char request[tavolen::kStreamRequestSize];
  size_t length = 0;
  tavolen::buildRequest(request, sizeof request, length, block,
                        "GET /livestream.cgi?user=%s&pwd=%s&streamid=%d&audio=%d&filename= HTTP/1.1\r\n",
                        "admin", "", kStreamId, 0);
  ::send(s, request, length, 0);

  Counter counter;
  std::vector<uint8_t> buf(0x80000);
  size_t filled = 0;
  while (!counter.done) {
    const ssize_t n = recv(s, buf.data() + filled, buf.size() - filled, 0);
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
    size_t at = 0;
    while (filled - at >= 32) {
      const uint32_t payload = tavolen::readLe32(buf.data() + at + 16);
      if (filled - at < 32 + payload) break;
      counter.count(static_cast<int32_t>(32 + payload));
      at += 32 + payload;
    }
    std::memmove(buf.data(), buf.data() + at, filled - at);
    filled -= at;
  }
  ::close(s);
  return counter.result();
}

// The reader runs at the same priority as the link's receive thread.
Result peer(uint16_t port) {
  Result r;
  std::thread t = tavolen::platform::startThread([&] { r = peerReader(port); },
                                                 tavolen::platform::ThreadPriority::TimeCritical);
  t.join();
  return r;
}

}  // namespace

int main() {
  camsim::Config config;
  config.user = "admin";
  camsim::Server camera(config);
  if (!camera.start()) {
    std::fprintf(stderr, "camsim did not start\n");
    return 1;
  }
  // The machine is shared: rounds alternate which reader goes first, and the
  // median of each side is reported.
  constexpr int kRounds = 5;
  std::vector<Result> oursRuns, peerRuns;
  for (int round = 0; round < kRounds; ++round) {
    Result o, p;
    if (round % 2 == 0) {
      o = ours(camera.port());
      p = peer(camera.port());
    } else {
      p = peer(camera.port());
      o = ours(camera.port());
    }
    std::printf("round %d: link %.1f MB/s (%.0f frames/s), bare reader %.1f MB/s (%.0f frames/s)\n", round,
                o.megabytesPerSecond, o.framesPerSecond, p.megabytesPerSecond, p.framesPerSecond);
    std::fflush(stdout);
    oursRuns.push_back(o);
    peerRuns.push_back(p);
  }
  auto median = [](std::vector<Result> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const Result& a, const Result& b) { return a.megabytesPerSecond < b.megabytesPerSecond; });
    return runs[runs.size() / 2];
  };
  const Result bestOurs = median(oursRuns);
  const Result bestPeer = median(peerRuns);
  camera.stop();
  std::printf("1080p H.264, %llu frames per run, medians: link %.0f frames/s, bare reader %.0f frames/s\n",
              static_cast<unsigned long long>(kMeasuredFrames), bestOurs.framesPerSecond,
              bestPeer.framesPerSecond);
  std::printf("{\"bench\":\"link\",\"unit\":\"MB/s\",\"ours\":%.1f,\"peer\":%.1f,\"ratio\":%.3f,\"better\":\"higher\"}\n",
              bestOurs.megabytesPerSecond, bestPeer.megabytesPerSecond,
              bestOurs.megabytesPerSecond / bestPeer.megabytesPerSecond);
  return 0;
}
