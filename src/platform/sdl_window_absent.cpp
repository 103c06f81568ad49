// A build without SDL: there is no desktop window, as on a machine without a
// display; the off-screen window serves headless hosts.
#include "platform/sdl_window.h"

namespace tavolen::platform {

std::shared_ptr<VideoWindow> createSdlWindow(const std::string&, int32_t, int32_t) { return nullptr; }

int32_t pumpSdlWindow(VideoWindow&, int32_t) { return 0; }

int32_t nextSdlKey(VideoWindow&) { return 0; }

}  // namespace tavolen::platform
