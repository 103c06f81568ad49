#include "link/tun_wire.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

namespace tavolen::test {

namespace {

using Clock = std::chrono::steady_clock;

int openTun(const std::string& name) {
  const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  if (::ioctl(fd, TUNSETIFF, &request) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct Packet {
  Clock::time_point due;
  std::vector<uint8_t> bytes;
};

// One direction of the wire: what waits to leave, and when the emulated line
// is free again.
struct Lane {
  std::deque<Packet> queue;
  Clock::time_point lineFree{};
};

}  // namespace

TunWire::TunWire(const std::string& nameA, const std::string& nameB)
    : fdA_(openTun(nameA)), fdB_(openTun(nameB)), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TunWire::~TunWire() {
  stop_ = true;
  if (wake_ >= 0) {
    const uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  for (int fd : {fdA_, fdB_, wake_})
    if (fd >= 0) ::close(fd);
}

void TunWire::start() { thread_ = std::thread([this] { run(); }); }

void TunWire::shape(bool fromA, const LinkShape& shape) {
  std::lock_guard<std::mutex> guard(lock_);
  shapes_[fromA ? 0 : 1] = shape;
}

void TunWire::setOutage(bool on) { outage_ = on; }

WireCounters TunWire::counters(bool fromA) const {
  std::lock_guard<std::mutex> guard(lock_);
  return counters_[fromA ? 0 : 1];
}

void TunWire::run() {
  std::mt19937_64 random(0x5eedu);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Lane lanes[2];
  const int in[2] = {fdA_, fdB_};
  const int out[2] = {fdB_, fdA_};
  std::vector<uint8_t> buffer(65536);
  while (!stop_) {
    const auto now = Clock::now();
    int timeoutMs = 100;
    for (const Lane& lane : lanes) {
      if (lane.queue.empty()) continue;
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(lane.queue.front().due - now);
      timeoutMs = std::clamp(static_cast<int>(wait.count()) + 1, 0, timeoutMs);
    }
    pollfd fds[3] = {{fdA_, POLLIN, 0}, {fdB_, POLLIN, 0}, {wake_, POLLIN, 0}};
    ::poll(fds, 3, timeoutMs);
    for (int side = 0; side < 2; ++side) {
      if ((fds[side].revents & POLLIN) == 0) continue;
      LinkShape shape;
      {
        std::lock_guard<std::mutex> guard(lock_);
        shape = shapes_[side];
      }
      for (;;) {
        const ssize_t n = ::read(in[side], buffer.data(), buffer.size());
        if (n <= 0) break;
        const auto arrived = Clock::now();
        Lane& lane = lanes[side];
        std::lock_guard<std::mutex> guard(lock_);
        WireCounters& count = counters_[side];
        if (outage_) {
          ++count.cut;
          continue;
        }
        if (shape.loss > 0 && uniform(random) < shape.loss) {
          ++count.lost;
          continue;
        }
        if (lane.queue.size() >= shape.limitPackets) {
          ++count.overflowed;
          continue;
        }
        auto sent = arrived;
        if (shape.rateBitsPerS > 0) {
          const auto start = std::max(arrived, lane.lineFree);
          const auto serialise = std::chrono::nanoseconds(
              static_cast<int64_t>(static_cast<double>(n) * 8e9 / static_cast<double>(shape.rateBitsPerS)));
          lane.lineFree = start + std::chrono::duration_cast<Clock::duration>(serialise);
          sent = lane.lineFree;
        }
        lane.queue.push_back(
            Packet{sent + std::chrono::milliseconds(shape.delayMs), std::vector<uint8_t>(buffer.begin(), buffer.begin() + n)});
      }
    }
    if (fds[2].revents & POLLIN) {
      uint64_t drained;
      (void)!::read(wake_, &drained, sizeof drained);
    }
    const auto later = Clock::now();
    for (int side = 0; side < 2; ++side) {
      Lane& lane = lanes[side];
      while (!lane.queue.empty() && lane.queue.front().due <= later) {
        const Packet& p = lane.queue.front();
        // A full device queue on the far side loses the packet, as a full
        // interface queue would.
        (void)!::write(out[side], p.bytes.data(), p.bytes.size());
        lane.queue.pop_front();
        std::lock_guard<std::mutex> guard(lock_);
        ++counters_[side].forwarded;
      }
    }
  }
}

}  // namespace tavolen::test
