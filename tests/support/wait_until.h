#pragma once
// Waiting for something another thread does: polls until pred holds or
// timeoutMs of real time pass (a guard against a hang, not a time limit under
// test); true when it held.

#include <chrono>
#include <functional>
#include <thread>

namespace tavolen::test {

inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace tavolen::test
