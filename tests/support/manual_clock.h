#pragma once
// A clock that moves only when the test moves it (platform/clock.h). Timed
// waits on it block until advance() carries the clock past their limit, or
// until one of their descriptors is ready, so a test proves a time limit by
// moving the clock and looking at who is still waiting:
//
//   ManualClock clock;                 // installed for the scope
//   std::thread t([&] { stopThatWaits(); });
//   clock.waitForSleepers(1);          // it is inside its timed wait
//   clock.advance(499);
//   EXPECT_EQ(clock.sleepers(), 1);    // still waiting at 499 ms
//   clock.advance(1);                  // its 500 ms are up: it goes on
//
// Waits without a limit do not count as sleepers and never time out.
// callThroughLimit() does the usual round in one call.

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"

namespace tavolen::test {

class ManualClock : public platform::Clock {
 public:
  // install: make it the process's clock until destruction.
  explicit ManualClock(bool install = true, uint32_t start = 1000000) : now_(start), install_(install) {
    if (install_) platform::installClock(this);
  }
  ~ManualClock() override {
    if (install_) platform::installClock(nullptr);
  }
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  uint32_t tickCount() override { return now_.load(); }

  int poll(pollfd* fds, int count, uint32_t timeoutMs) override {
    if (timeoutMs == 0 || timeoutMs == platform::kWaitForever) {
      for (;;) {
        const int n = ::poll(fds, static_cast<nfds_t>(count), timeoutMs == 0 ? 0 : -1);
        if (n >= 0 || errno != EINTR) return n;
      }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const uint32_t start = now_.load();
    uint64_t epoch = epoch_;
    std::shared_ptr<platform::Event> moved = moved_;
    ++asleep_[epoch];
    changed_.notify_all();
    std::vector<pollfd> all(fds, fds + count);
    all.push_back(pollfd{moved->fd(), POLLIN, 0});
    for (;;) {
      if (now_.load() - start >= timeoutMs) {
        leave(epoch);
        return 0;
      }
      lock.unlock();
      for (pollfd& p : all) p.revents = 0;
      const int n = ::poll(all.data(), static_cast<nfds_t>(all.size()), -1);
      const int error = errno;
      lock.lock();
      int ready = 0;
      for (int i = 0; i < count; ++i) {
        fds[i].revents = all[static_cast<size_t>(i)].revents;
        if (fds[i].revents != 0) ++ready;
      }
      if (ready > 0 || (n < 0 && error != EINTR)) {
        leave(epoch);
        errno = error;
        return n < 0 ? -1 : ready;
      }
      // The clock moved: wait on with the current epoch, counted as asleep
      // again before advance() hears that this wait has seen the new time.
      --asleep_[epoch];
      epoch = epoch_;
      moved = moved_;
      ++asleep_[epoch];
      all.back().fd = moved->fd();
      changed_.notify_all();
    }
  }

  // Moves the clock on by ms and returns once every timed wait that was
  // blocked has seen the new time: it has either returned or gone back to
  // waiting.
  void advance(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    now_ += ms;
    const uint64_t old = epoch_++;
    std::shared_ptr<platform::Event> wake = std::move(moved_);
    moved_ = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
    wake->signal();
    changed_.wait_for(lock, kGuard, [&] { return asleep_[old] == 0; });
    asleep_.erase(old);
  }

  // Runs call on a thread of its own. Once `waiting` timed waits (the call's
  // among them, every one with a limit of at least limitMs) sleep on the
  // clock, moves the clock limitMs - 1 on and checks that the call still
  // waits, then one more millisecond; returns what the call returned once it
  // has.
  int64_t callThroughLimit(uint32_t limitMs, int waiting, const std::function<int64_t()>& call) {
    std::atomic<bool> returned{false};
    int64_t result = 0;
    std::thread caller([&] {
      result = call();
      returned = true;
    });
    EXPECT_TRUE(waitForSleepers(waiting));
    advance(limitMs - 1);
    EXPECT_EQ(sleepers(), waiting) << "a wait ended before its " << limitMs << " ms";
    EXPECT_FALSE(returned.load()) << "returned before its " << limitMs << " ms";
    advance(1);
    caller.join();
    return result;
  }

  // Timed waits blocked on this clock now.
  int sleepers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleepersLocked();
  }

  // Blocks until at least n timed waits are blocked on this clock; false if
  // that has not happened after a generous real-time guard, so that a broken
  // test fails rather than hangs.
  bool waitForSleepers(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kGuard, [&] { return sleepersLocked() >= n; });
  }

 private:
  static constexpr std::chrono::seconds kGuard{20};

  int sleepersLocked() const {
    int total = 0;
    for (const auto& [epoch, count] : asleep_) total += count;
    return total;
  }
  void leave(uint64_t epoch) {
    --asleep_[epoch];
    changed_.notify_all();
  }

  std::atomic<uint32_t> now_;
  const bool install_;
  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  uint64_t epoch_ = 0;
  std::map<uint64_t, int> asleep_;  // timed waits per epoch they last saw
  std::shared_ptr<platform::Event> moved_ = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
};

}  // namespace tavolen::test
