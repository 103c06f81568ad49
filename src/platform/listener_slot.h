#pragma once
// One window's change listener: a function and its user value, replaced by
// the host and called by whichever thread changed the window.
//
// Lock: mutex_ guards the pair and is held across each call, so calls are
// serialised and set() returns only once no call of the previous listener is
// running. A listener therefore must not call set() or anything that calls
// notify() on the same slot.

#include <mutex>

#include "platform/video_window.h"

namespace tavolen::platform {

class ListenerSlot {
 public:
  void set(WindowListener listener, void* user) {
    std::lock_guard lock(mutex_);
    listener_ = listener;
    user_ = user;
  }
  void notify() {
    std::lock_guard lock(mutex_);
    if (listener_) listener_(user_);
  }

 private:
  std::mutex mutex_;
  WindowListener listener_ = nullptr;
  void* user_ = nullptr;
};

}  // namespace tavolen::platform
