#include "platform/video_window.h"

namespace tavolen::platform {

WindowTable& windowHandles() {
  // Never destroyed: hosts may destroy windows during process exit.
  static WindowTable* table = new WindowTable([](VideoWindow& window) { window.close(); });
  return *table;
}

}  // namespace tavolen::platform
