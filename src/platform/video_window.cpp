#include "platform/video_window.h"

#include <mutex>
#include <unordered_map>

namespace tavolen::platform {

namespace {
std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::unordered_map<const void*, std::shared_ptr<VideoWindow>>& registry() {
  static auto* r = new std::unordered_map<const void*, std::shared_ptr<VideoWindow>>;
  return *r;
}
}  // namespace

void* registerWindow(std::shared_ptr<VideoWindow> window) {
  if (!window) return nullptr;
  void* handle = window.get();
  std::lock_guard lock(registryMutex());
  registry()[handle] = std::move(window);
  return handle;
}

bool unregisterWindow(const void* handle) {
  std::shared_ptr<VideoWindow> last;  // released outside the lock
  std::lock_guard lock(registryMutex());
  auto it = registry().find(handle);
  if (it == registry().end()) return false;
  last = std::move(it->second);
  registry().erase(it);
  return true;
}

std::shared_ptr<VideoWindow> lookupWindow(const void* handle) {
  if (!handle) return nullptr;
  std::lock_guard lock(registryMutex());
  auto it = registry().find(handle);
  return it == registry().end() ? nullptr : it->second;
}

}  // namespace tavolen::platform
