// The live stream over slow and lossy networks: a 1080p 4 Mbit/s stream from
// the substitute camera, reached through a shaped wire in network namespaces
// (tests/link/slow_link_lab.h): 50 and 200 ms round trips, with and without
// 1% loss, under an 8 Mbit/s cap. For each network the delivered frame rate
// and how far behind live the last frames arrived, with the link's socket
// buffers as the link sizes them, at 8192 bytes each way, and left to the
// kernel (the peer). Then the time to the first frame after a 30 s outage
// and after the camera moved to another address.
//
// Needs root (namespaces and TUN devices). --seconds N: measuring time per
// network and sizing (default 15).
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/host_address.h"
#include "link/slow_link_lab.h"
#include "view_rig.h"

namespace {

using Clock = std::chrono::steady_clock;
using tavolen::SocketBufferSizes;
using tavolen::test::LinkShape;
using tavolen::test::SlowLinkLab;

// Counts what one link delivers: video frames, how late the newest one was
// (its camera time stamp against this machine's clock: both are the same
// clock here), and the link's events.
struct Probe {
  std::atomic<uint32_t> frames{0};
  std::atomic<int64_t> lastLatenessMs{0};
  std::atomic<uint32_t> lost{0};
  std::atomic<uint32_t> connected{0};
  std::atomic<uint32_t> failed{0};
  std::atomic<int64_t> lastFrameAtMs{0};

  static int64_t wallMs() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
  }
  static int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
  }
  static int32_t onFrame(const uint8_t* frame, int32_t length, void* user) {
    auto* p = static_cast<Probe*>(user);
    if (length < 32 || frame[4] > 1) return 1;  // video only
    uint32_t seconds;
    uint16_t millis;
    std::memcpy(&seconds, frame + 8, 4);
    std::memcpy(&millis, frame + 6, 2);
    p->lastLatenessMs = wallMs() - (static_cast<int64_t>(seconds) * 1000 + millis);
    p->lastFrameAtMs = steadyMs();
    ++p->frames;
    return 1;
  }
  static void onEvent(int32_t event, void* user) {
    auto* p = static_cast<Probe*>(user);
    if (event == 0) ++p->lost;
    if (event == 100) ++p->connected;
    if (event == 101) ++p->failed;
  }
};

struct Link {
  DeviceHandle handle = nullptr;
  Link(const char* host, int port, Probe& probe) {
    DeviceConnectParams params;
    std::memset(&params, 0, sizeof params);
    std::snprintf(params.user, sizeof params.user, "admin");
    std::snprintf(params.host, sizeof params.host, "%s", host);
    params.port = port;
    handle = device_net_work_createInstance(params);
    device_net_work_set_event_callback(handle, Probe::onEvent, &probe);
    device_net_work_startStream(handle, 1, Probe::onFrame, &probe);
  }
  ~Link() {
    device_net_work_stopStream(handle);
    device_net_work_destroyInstance(handle);
  }
};

struct Cell {
  double fps = 0;
  int64_t latenessMs = 0;
  uint32_t reconnects = 0;
};

Cell measure(const SocketBufferSizes& sizes, int port, double seconds) {
  tavolen::setLinkSocketBuffers(sizes);
  Probe probe;
  Link link(SlowLinkLab::kCameraAddress, port, probe);
  // Warm-up: the connection is made and TCP has opened its window.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const uint32_t before = probe.frames;
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  Cell c;
  c.fps = (probe.frames - before) / elapsed;
  c.latenessMs = probe.lastLatenessMs;
  c.reconnects = probe.lost > 0 ? probe.lost - 1 : 0;  // the first event 0 opens the stream
  return c;
}

// Milliseconds from `from` until a frame arrives, or -1 after limitS seconds.
int64_t untilNextFrame(Probe& probe, int64_t fromMs, int limitS) {
  const auto end = Clock::now() + std::chrono::seconds(limitS);
  while (Clock::now() < end) {
    if (probe.lastFrameAtMs > fromMs) return probe.lastFrameAtMs - fromMs;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

bool waitFrames(Probe& probe, uint32_t n, int limitS) {
  const auto end = Clock::now() + std::chrono::seconds(limitS);
  while (probe.frames < n && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return probe.frames >= n;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 15;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[++i]);

  std::string whyNot;
  if (!SlowLinkLab::enter(whyNot)) {
    std::fprintf(stderr, "bench: %s\n", whyNot.c_str());
    return 1;
  }
  // 1080p at 4 Mbit/s, one key unit a second.
  const std::string file = bench::scratch() + "/1080p.h264";
  const std::string encode =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 -c:v libx264 "
      "-preset veryfast -profile:v main -bf 0 -g 25 -b:v 4M -maxrate 4M -bufsize 2M -pix_fmt yuv420p "
      "-f h264 '" + file + "'";
  if (std::system(encode.c_str()) != 0) {
    std::fprintf(stderr, "bench: ffmpeg could not encode the stream\n");
    return 1;
  }
  const int port = 8081;
  SlowLinkLab lab;
  if (!lab.startCamera({bench::selfDir() + "/../tools/camsim/tavolen-camsim", "--bind", "0.0.0.0",
                        "--port", std::to_string(port), "--profile", "1=1920x1080@25", "--video-file",
                        file, "--max-clients", "16"})) {
    std::fprintf(stderr, "bench: the camera did not come up behind the wire\n");
    return 1;
  }
  device_net_work_init();

  struct Network {
    const char* name;
    uint32_t rttMs;
    double loss;
  };
  const Network networks[] = {
      {"50 ms", 50, 0}, {"200 ms", 200, 0}, {"50 ms, 1% loss", 50, 0.01}, {"200 ms, 1% loss", 200, 0.01}};
  const SocketBufferSizes ours = SocketBufferSizes{};
  const SocketBufferSizes fixed8k{8192, 8192};
  const SocketBufferSizes kernel{0, 0};
  std::printf("1080p 4 Mbit/s at 25 frames/s through an 8 Mbit/s link; frames/s delivered "
              "(how far behind live the last frame came, reconnects)\n");
  std::printf("%-18s %-26s %-26s %-26s\n", "network", "ours", "8192-byte buffers", "kernel's sizing");
  double oursWorst = 1e9, peerWorst = 1e9;
  for (const Network& n : networks) {
    lab.shapeCameraSide(LinkShape{n.rttMs, n.loss, 8000000, 1000});
    const Cell cells[3] = {measure(ours, port, seconds), measure(fixed8k, port, seconds),
                           measure(kernel, port, seconds)};
    char text[3][64];
    for (int i = 0; i < 3; ++i)
      std::snprintf(text[i], sizeof text[i], "%5.1f (%6lld ms, %u)", cells[i].fps,
                    static_cast<long long>(cells[i].latenessMs), cells[i].reconnects);
    std::printf("%-18s %-26s %-26s %-26s\n", n.name, text[0], text[1], text[2]);
    std::fflush(stdout);
    if (n.loss == 0) {
      oursWorst = std::min(oursWorst, cells[0].fps);
      peerWorst = std::min(peerWorst, cells[2].fps);
    }
  }

  // Recovery, with the link's own buffers, on the 50 ms network.
  tavolen::setLinkSocketBuffers(ours);
  lab.shapeCameraSide(LinkShape{50, 0, 8000000, 1000});
  {
    Probe probe;
    Link link(SlowLinkLab::kCameraAddress, port, probe);
    waitFrames(probe, 50, 20);
    lab.setOutage(true);
    std::this_thread::sleep_for(std::chrono::seconds(30));
    const uint32_t lostDuring = probe.lost, failedDuring = probe.failed;
    const int64_t restored = Probe::steadyMs();
    lab.setOutage(false);
    const int64_t back = untilNextFrame(probe, restored, 30);
    std::printf("after a 30 s outage: first frame %lld ms after the network came back "
                "(%u stream-lost and %u failed-connect events during the outage)\n",
                static_cast<long long>(back), lostDuring, failedDuring);
  }
  {
    Probe probe;
    Link link(SlowLinkLab::kCameraName, port, probe);
    waitFrames(probe, 50, 30);
    const uint32_t connections = probe.connected;
    const int64_t moved = Probe::steadyMs();
    if (!lab.moveCamera("192.0.2.3")) std::fprintf(stderr, "bench: could not move the camera\n");
    // Frames already on their way may still arrive; what counts is the first
    // frame of a connection to the new address.
    const auto end = Clock::now() + std::chrono::seconds(40);
    while (probe.connected == connections && Clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int64_t back = untilNextFrame(probe, Probe::steadyMs(), 10);
    const int64_t total = back < 0 || probe.connected == connections ? -1 : Probe::steadyMs() - moved;
    std::printf("after the camera moved to another address: first frame %lld ms later "
                "(%u stream-lost, %u failed-connect events)\n",
                static_cast<long long>(total), probe.lost.load() - 1, probe.failed.load());
  }
  device_net_work_deInit();
  bench::removeScratch();
  std::printf("{\"bench\":\"slow_network\",\"unit\":\"frames/s\",\"ours\":%.1f,\"peer\":%.1f,"
              "\"ratio\":%.3f,\"better\":\"higher\"}\n",
              oursWorst, peerWorst, peerWorst > 0 ? oursWorst / peerWorst : 0.0);
  return 0;
}
