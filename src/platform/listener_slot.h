#pragma once
// One window's change listener: a function and its user value, replaced by
// the host and called by whichever thread changed the window.
//
// Lock: mutex_ guards the pair and is held across each call, so calls are
// serialised and set() returns only once no call of the previous listener is
// running. A listener that changes its own window or replaces itself would
// wait for itself: such nested calls are caught instead (the nested change
// calls nobody, the nested set() is refused).

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/video_window.h"

namespace tavolen::platform {

class ListenerSlot {
 public:
  // False when called from inside the listener itself.
  bool set(WindowListener listener, void* user) {
    if (calling_.load() == std::this_thread::get_id()) return false;
    std::lock_guard lock(mutex_);
    listener_ = listener;
    user_ = user;
    return true;
  }
  void notify() {
    if (calling_.load() == std::this_thread::get_id()) return;
    std::lock_guard lock(mutex_);
    if (!listener_) return;
    calling_ = std::this_thread::get_id();
    listener_(user_);
    calling_ = std::thread::id();
  }

 private:
  std::mutex mutex_;
  WindowListener listener_ = nullptr;
  void* user_ = nullptr;
  std::atomic<std::thread::id> calling_{};  // the thread inside the listener
};

}  // namespace tavolen::platform
