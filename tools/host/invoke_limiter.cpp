#include "invoke_limiter.h"

#include <algorithm>

namespace tavolen::host {

bool InvokeLimiter::allow(int64_t nowMs) {
  if (lastMs_ >= 0 && nowMs > lastMs_)
    tokensMilli_ = std::min<int64_t>(int64_t{kBurst} * 1000, tokensMilli_ + (nowMs - lastMs_) * kPerSecond);
  if (lastMs_ < 0 || nowMs > lastMs_) lastMs_ = nowMs;
  if (tokensMilli_ < 1000) return false;
  tokensMilli_ -= 1000;
  return true;
}

}  // namespace tavolen::host
