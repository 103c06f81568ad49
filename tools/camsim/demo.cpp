#include "demo.h"

#include <unistd.h>

namespace camsim {

void runDemo(Server&, int, const std::atomic<bool>& stop) {
  while (!stop) ::usleep(100 * 1000);
}

}  // namespace camsim
