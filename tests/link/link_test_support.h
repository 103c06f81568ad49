#pragma once
// Shared by the camera-link suites: a camsim on loopback, shortened link
// timing, and thread-safe logs of what the link's callbacks saw.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "link/link_state.h"
#include "link/tcp_net_device.h"
#include "platform/tick.h"
#include "support/loopback_server.h"
#include "support/manual_clock.h"
#include "support/wait_until.h"
#include "tavolen/tavolen.h"

namespace tavolen::test {

// Watchdog and resolver cycles a tenth of the real ones: the silence limit is
// 500 ms and the watchdog looks every 300 ms, so a dead camera is retried every
// 600 ms (the real 5 s and 3 s give 6 s).
inline LinkTiming fastTiming() {
  LinkTiming t;
  t.silenceMs = 500;
  t.watchdogPeriodMs = 300;
  t.resolverPeriodMs = 100;
  return t;
}

struct Event {
  int32_t code;
  uint32_t tick;
  size_t framesSeen;  // by the frame counter given to EventLog::countFrames, 0 without one
};

class EventLog {
 public:
  static void callback(int32_t code, void* user) { static_cast<EventLog*>(user)->add(code); }

  // Each event then notes how many frames had been delivered when it came:
  // what a connection delivered is told apart from what the next one did.
  void countFrames(std::function<size_t()> counter) {
    std::lock_guard<std::mutex> guard(lock_);
    counter_ = std::move(counter);
  }

  void add(int32_t code) {
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back({code, platform::tickCount(), counter_ ? counter_() : 0});
    changed_.notify_all();
  }
  std::vector<int32_t> codes() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<int32_t> out;
    for (const Event& e : events_) out.push_back(e.code);
    return out;
  }
  std::vector<Event> events() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
  }
  size_t count(int32_t code) const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t n = 0;
    for (const Event& e : events_) n += e.code == code;
    return n;
  }
  // Waits until code has been seen at least n times.
  bool waitFor(int32_t code, size_t n = 1, int timeoutMs = 5000) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
      size_t k = 0;
      for (const Event& e : events_) k += e.code == code;
      return k >= n;
    });
  }
  size_t size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_.size();
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<Event> events_;
  std::function<size_t()> counter_;
};

class FrameLog {
 public:
  static int32_t callback(const uint8_t* frame, int32_t length, void* user) {
    static_cast<FrameLog*>(user)->add(frame, length);
    return 0;
  }
  void add(const uint8_t* frame, int32_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    types_.push_back(frame[4]);
    uint32_t payload;
    std::memcpy(&payload, frame + 16, 4);
    whole_ = whole_ && length == static_cast<int32_t>(32 + payload);
    changed_.notify_all();
  }
  size_t size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return types_.size();
  }
  std::vector<uint8_t> types() const {
    std::lock_guard<std::mutex> guard(lock_);
    return types_;
  }
  bool allWhole() const {
    std::lock_guard<std::mutex> guard(lock_);
    return whole_;
  }
  bool waitFor(size_t n, int timeoutMs = 5000) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return types_.size() >= n; });
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<uint8_t> types_;
  bool whole_ = true;
};

inline camsim::Config smallCamera() {
  camsim::Config c;
  c.user = "viewer";
  c.password = "secret";
  c.profiles = {{1, 160, 96, 25, true, 0}};
  return c;
}

inline DeviceConnectParams connectParams(const char* host, int port, const char* user = "viewer",
                                         const char* password = "secret") {
  DeviceConnectParams p;
  std::memset(&p, 0, sizeof p);
  std::snprintf(p.user, sizeof p.user, "%s", user);
  std::snprintf(p.password, sizeof p.password, "%s", password);
  std::snprintf(p.host, sizeof p.host, "%s", host);
  p.port = port;
  return p;
}

// A camsim plus the links a test made; every link is destroyed at the end.
class LinkFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    setLinkTiming(fastTiming());
    startCamera(smallCamera());
  }
  void TearDown() override {
    for (DeviceHandle h : links_) device_net_work_destroyInstance(h);
    links_.clear();
    camera_.reset();
    setLinkTiming(LinkTiming{});
    clock_.reset();  // after the links: their threads wait on it
  }
  // Puts the rest of the test on a clock that moves only when told; links
  // made from here on wait on it (their watchdog, resolver, connects).
  ManualClock& manualClock() {
    if (!clock_) clock_ = std::make_unique<ManualClock>();
    return *clock_;
  }
  void startCamera(camsim::Config config) {
    camera_.reset();
    camera_ = std::make_unique<camsim::Server>(std::move(config));
    ASSERT_TRUE(camera_->start());
  }
  DeviceHandle link(const char* user = "viewer", const char* password = "secret") {
    return linkTo("127.0.0.1", camera_->port(), user, password);
  }
  DeviceHandle linkTo(const char* host, int port, const char* user = "viewer",
                      const char* password = "secret") {
    DeviceHandle h = device_net_work_createInstance(connectParams(host, port, user, password));
    if (h != nullptr) links_.push_back(h);
    return h;
  }
  static CTcpNetDevice* device(DeviceHandle h) {
    return static_cast<CTcpNetDevice*>(static_cast<CNetDevice*>(h));
  }
  void destroy(DeviceHandle h) {
    std::erase(links_, h);
    device_net_work_destroyInstance(h);
  }
  // Live requests camsim has received so far.
  size_t liveRequests() const {
    size_t n = 0;
    for (const auto& r : camera_->requests()) n += r.find("livestream.cgi") != std::string::npos;
    return n;
  }

  std::unique_ptr<ManualClock> clock_;  // declared first: goes last
  std::unique_ptr<camsim::Server> camera_;
  std::vector<DeviceHandle> links_;
  // Logs live as long as the fixture, so that links still running until
  // TearDown never call into a log that has gone.
  EventLog& newEvents() { return eventLogs_.emplace_back(); }
  FrameLog& newFrames() { return frameLogs_.emplace_back(); }
  std::deque<EventLog> eventLogs_;
  std::deque<FrameLog> frameLogs_;
  FrameLog ignored_;  // frames a test does not look at
};

}  // namespace tavolen::test
