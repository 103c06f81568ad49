#pragma once
// The UI thread of one control: the stand-in for the window procedure and
// message queue that a control's page once provided. Everything the control
// does runs here: automation calls carried over from other threads, posted
// reports of link and search threads, window timers 1023 and 1024, and the
// events it fires to its host.
//
// Rules:
// - Work runs one item at a time, in the order posted. Due timers run before
//   the next item (earliest first), so a call queued after the clock moved
//   finds the timers that became due already handled.
// - call() from another thread queues the function behind what is already
//   posted and waits for it; call() on the UI thread runs the function at
//   once (an event handler calling back into its control).
// - Timers are periodic until killed, with the period given (their handlers
//   here kill them on firing, which makes them single-shot). Their deadlines
//   are read from the ControlClock, so a test clock drives them.
// - post() never blocks, so any thread may post while holding its own locks.
//   At most kMaxQueued items wait; past that, posts are dropped (a UI thread
//   held up that long by a modal chooser loses reports, never memory).
// - stop() lets the running item finish, drops what is queued, and joins.
//   After it, post() and call() do nothing and return false.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "control/control_clock.h"

namespace tavolen {

class UiThread : private ControlClock::Listener {
 public:
  using Work = std::function<void()>;
  using TimerHandler = std::function<void(int32_t id)>;

  static constexpr size_t kMaxQueued = 65536;

  // Starts the thread. onTimer runs on it for every due timer.
  UiThread(ControlClock& clock, TimerHandler onTimer);
  ~UiThread();
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  // Any thread. False when dropped (stopped, or the queue is full).
  bool post(Work work);
  // Any thread. True once fn has run; false when the thread has stopped and
  // fn did not run.
  bool call(const Work& fn);
  bool onThread() const;

  // UI thread only.
  void setTimer(int32_t id, uint32_t periodMs);
  void killTimer(int32_t id);
  bool timerRunning(int32_t id) const;

  // Any thread but the UI thread itself.
  void stop();

  ControlClock& clock() const { return clock_; }

 private:
  // Where a carried call's caller waits; on its stack.
  struct Waiter {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool ran = false;
  };
  struct Item {
    Work work;
    Waiter* waiter = nullptr;  // set for call(): told when the item ran or was dropped
  };
  static void finish(Waiter* waiter, bool ran);

  struct Timer {
    uint32_t due = 0;  // clock tick
    uint32_t period = 0;
  };

  void run();
  void clockMoved() override;

  ControlClock& clock_;
  TimerHandler onTimer_;

  mutable std::mutex lock_;  // guards queue_, timers_, stopping_
  std::condition_variable wake_;
  std::deque<Item> queue_;
  std::map<int32_t, Timer> timers_;
  bool stopping_ = false;

  std::thread thread_;
  std::thread::id threadId_;
};

}  // namespace tavolen
