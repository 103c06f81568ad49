#pragma once
// The one way in from C. Every exported function runs its body through
// guardedCall, so nothing thrown inside the library (a thread that could not
// start, an allocation that failed, anything an object lets out) ever unwinds
// into a host's C frames: the export returns its failure result instead.
//
// pinnedCall adds the handle check every handle-taking export makes first:
// the handle is looked up in its table and the object pinned for the call; a
// handle that finds nothing gives the failure result and calls nothing.

#include <utility>

#include "platform/handle_table.h"

namespace tavolen::platform {

template <typename R, typename Fn>
R guardedCall(R failure, Fn&& body) noexcept {
  try {
    return std::forward<Fn>(body)();
  } catch (...) {
    return failure;
  }
}

template <typename T, typename R, typename Fn>
R pinnedCall(HandleTable<T>& table, const void* handle, R failure, Fn&& call) noexcept {
  return guardedCall(failure, [&]() -> R {
    typename HandleTable<T>::Pin pin = table.find(handle);
    if (!pin) return failure;
    return static_cast<R>(call(*pin));
  });
}

}  // namespace tavolen::platform
