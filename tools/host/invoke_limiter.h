#pragma once
// Bounds how fast one page may call into its control: a bucket of kBurst calls
// refilled at kPerSecond. Time comes in from the caller, so tests drive it.

#include <cstdint>

namespace tavolen::host {

class InvokeLimiter {
 public:
  static constexpr int kBurst = 200;
  static constexpr int kPerSecond = 100;

  // True when a call at nowMs (any monotonic milliseconds) may run; it then
  // uses one token. Called on the connection's network thread only.
  bool allow(int64_t nowMs);

 private:
  int64_t tokensMilli_ = int64_t{kBurst} * 1000;  // thousandths of a call
  int64_t lastMs_ = -1;
};

}  // namespace tavolen::host
