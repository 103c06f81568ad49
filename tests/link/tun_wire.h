#pragma once
// A network link emulated in user space between two TUN devices: every IP
// packet read from one device is written to the other after a delay, at a
// limited rate, with random loss, or not at all during an outage. It stands in
// for `tc netem` on kernels built without the netem queueing discipline, and
// behaves like `netem delay D loss L rate R limit N` on the sending side: a
// packet waits for the packets ahead of it to be serialised at the rate, then
// for the delay; a packet finding N packets waiting is dropped.
//
// Threads: one forwarding thread, started by start() and ended by the
// destructor. shape() and setOutage() may be called from any thread and apply
// to packets read after the call.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace tavolen::test {

struct LinkShape {
  uint32_t delayMs = 0;
  double loss = 0;            // probability of dropping each packet, 0..1
  uint64_t rateBitsPerS = 0;  // 0: unlimited
  uint32_t limitPackets = 1000;
};

struct WireCounters {
  uint64_t forwarded = 0;
  uint64_t lost = 0;        // random loss
  uint64_t overflowed = 0;  // queue limit
  uint64_t cut = 0;         // outage
};

class TunWire {
 public:
  // Two TUN devices of these names in the calling thread's network namespace;
  // the caller moves and addresses them (ip link set NAME netns ...).
  TunWire(const std::string& nameA, const std::string& nameB);
  ~TunWire();
  TunWire(const TunWire&) = delete;
  TunWire& operator=(const TunWire&) = delete;

  bool ok() const { return fdA_ >= 0 && fdB_ >= 0 && wake_ >= 0; }
  void start();
  // Shapes the packets travelling from A to B, or from B to A.
  void shape(bool fromA, const LinkShape& shape);
  // While on, every packet in either direction is dropped.
  void setOutage(bool on);
  WireCounters counters(bool fromA) const;

 private:
  void run();

  int fdA_ = -1;
  int fdB_ = -1;
  int wake_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> outage_{false};
  mutable std::mutex lock_;  // guards shapes_ and counters_
  LinkShape shapes_[2];
  WireCounters counters_[2];
  std::thread thread_;
};

}  // namespace tavolen::test
