#include "player/pacing_timer.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "platform/tick.h"

namespace tavolen {

namespace {

int64_t monotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

constexpr int64_t kPeriodNs = static_cast<int64_t>(kPacingPeriodMs) * 1000000;

class TimerService {
 public:
  static TimerService& instance() {
    static TimerService service;
    return service;
  }

  void start(PacingTimer& timer, void* owner, void (*tick)(void*)) {
    std::lock_guard lock(mutex_);
    removeLocked(timer);
    timer.owner = owner;
    timer.tick = tick;
    const uint32_t id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    timer.timerId.store(id);
    entries_.push_back(Entry{&timer, monotonicNs() + kPeriodNs});
    if (!thread_.joinable())
      thread_ = platform::startThread([this] { run(); }, platform::ThreadPriority::TimeCritical);
    wake_.notify_all();
  }

  void stop(PacingTimer& timer) {
    std::lock_guard lock(mutex_);
    removeLocked(timer);
  }

  void hold(bool held) {
    std::lock_guard lock(mutex_);
    held_ = held;
  }

  void fireNow() {
    std::lock_guard lock(mutex_);
    for (Entry& e : entries_) fire(*e.timer);
  }

  int32_t running() {
    std::lock_guard lock(mutex_);
    return static_cast<int32_t>(entries_.size());
  }

 private:
  struct Entry {
    PacingTimer* timer;
    int64_t deadline;
  };

  TimerService() = default;
  ~TimerService() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
      wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  }

  void removeLocked(PacingTimer& timer) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.timer == &timer; }),
                   entries_.end());
    timer.timerId.store(0);
    timer.tick = nullptr;
  }

  static void fire(PacingTimer& t) {
    if (t.tick != nullptr) t.tick(t.owner);
    t.lastTickTime.store(platform::tickCount());
  }

  void run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
      if (entries_.empty()) {
        wake_.wait(lock);
        continue;
      }
      int64_t next = entries_.front().deadline;
      for (const Entry& e : entries_) next = std::min(next, e.deadline);
      // A timer started meanwhile is due one period from its start, never
      // before the deadline already chosen, so sleeping unlocked is safe.
      lock.unlock();
      timespec ts{static_cast<time_t>(next / 1000000000), static_cast<long>(next % 1000000000)};
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
      }
      lock.lock();
      const int64_t now = monotonicNs();
      for (Entry& e : entries_) {
        if (e.deadline > now) continue;
        if (!held_) fire(*e.timer);
        e.deadline += kPeriodNs;
        // After a stall the missed ticks collapse into the one just given.
        if (e.deadline <= now) e.deadline = now + kPeriodNs;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Entry> entries_;
  std::thread thread_;
  uint32_t nextId_ = 1;
  bool held_ = false;
  bool quit_ = false;
};

}  // namespace

void startPacingTimer(PacingTimer& timer, void* owner, void (*tick)(void*)) {
  TimerService::instance().start(timer, owner, tick);
}
void stopPacingTimer(PacingTimer& timer) { TimerService::instance().stop(timer); }
void holdPacingTimers(bool held) { TimerService::instance().hold(held); }
void firePacingTimersNow() { TimerService::instance().fireNow(); }
int32_t runningPacingTimers() { return TimerService::instance().running(); }

}  // namespace tavolen
