#include "control/ui_thread.h"

#include <chrono>
#include <future>
#include <optional>

#include "platform/thread.h"

namespace tavolen {

namespace {

// Signed distance from now to due, for ticks that wrap at 2^32.
int64_t until(uint32_t due, uint32_t now) { return static_cast<int32_t>(due - now); }

}  // namespace

UiThread::UiThread(ControlClock& clock, TimerHandler onTimer)
    : clock_(clock), onTimer_(std::move(onTimer)) {
  clock_.addListener(this);
  std::promise<void> started;
  auto ready = started.get_future();
  thread_ = platform::startThread([this, &started] {
    platform::setCurrentThreadName("tavolen-ui");
    threadId_ = std::this_thread::get_id();
    started.set_value();
    run();
  });
  ready.wait();
}

UiThread::~UiThread() { stop(); }

bool UiThread::onThread() const { return std::this_thread::get_id() == threadId_; }

bool UiThread::post(Work work) {
  {
    std::lock_guard guard(lock_);
    if (stopping_ || queue_.size() >= kMaxQueued) return false;
    queue_.push_back(Item{std::move(work), nullptr});
  }
  wake_.notify_one();
  return true;
}

bool UiThread::call(const Work& fn) {
  if (onThread()) {
    fn();
    return true;
  }
  Waiter waiter;
  {
    std::lock_guard guard(lock_);
    if (stopping_) return false;
    queue_.push_back(Item{fn, &waiter});
  }
  wake_.notify_one();
  std::unique_lock wait(waiter.m);
  waiter.cv.wait(wait, [&] { return waiter.done; });
  return waiter.ran;
}

void UiThread::finish(Waiter* waiter, bool ran) {
  if (!waiter) return;
  std::lock_guard guard(waiter->m);
  waiter->ran = ran;
  waiter->done = true;
  waiter->cv.notify_one();
}

void UiThread::setTimer(int32_t id, uint32_t periodMs) {
  std::lock_guard guard(lock_);
  timers_[id] = Timer{clock_.tickCount() + periodMs, periodMs};
}

void UiThread::killTimer(int32_t id) {
  std::lock_guard guard(lock_);
  timers_.erase(id);
}

bool UiThread::timerRunning(int32_t id) const {
  std::lock_guard guard(lock_);
  return timers_.count(id) != 0;
}

void UiThread::clockMoved() {
  // Taking the lock orders this after the loop's reading of the clock, so
  // the wake-up cannot fall between that reading and the wait.
  std::lock_guard guard(lock_);
  wake_.notify_all();
}

void UiThread::run() {
  std::unique_lock guard(lock_);
  while (!stopping_) {
    // Due timers first: a test (or a host) that moved the clock and then
    // queued a call finds the timers handled by the time its call runs.
    const uint32_t now = clock_.tickCount();
    std::optional<int32_t> earliest;
    int64_t nearest = INT64_MAX;
    for (auto& [id, timer] : timers_) {
      const int64_t left = until(timer.due, now);
      if (left < nearest) nearest = left, earliest = id;
    }
    if (earliest && nearest <= 0) {
      Timer& timer = timers_[*earliest];
      timer.due = now + timer.period;
      guard.unlock();
      onTimer_(*earliest);
      guard.lock();
      continue;
    }
    if (!queue_.empty()) {
      Item item = std::move(queue_.front());
      queue_.pop_front();
      guard.unlock();
      item.work();
      item.work = nullptr;  // its captures go before the caller is released
      finish(item.waiter, true);
      guard.lock();
      continue;
    }
    if (!earliest || !clock_.runsOnItsOwn())
      wake_.wait(guard);
    else
      wake_.wait_for(guard, std::chrono::milliseconds(nearest));
  }
}

void UiThread::stop() {
  std::deque<Item> dropped;
  {
    std::lock_guard guard(lock_);
    if (stopping_ && !thread_.joinable()) return;
    stopping_ = true;
    dropped.swap(queue_);
    timers_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  clock_.removeListener(this);
  for (Item& item : dropped) finish(item.waiter, false);
}

}  // namespace tavolen
