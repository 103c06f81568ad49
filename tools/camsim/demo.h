#pragma once
// Text-mode view of a camera link against a camsim: the link's events as they
// come and a frame counter once a second, until stop is set.

#include <atomic>

#include "camsim.h"

namespace camsim {

void runDemo(Server& server, int streamId, const std::atomic<bool>& stop);

}  // namespace camsim
