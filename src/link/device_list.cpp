#include "link/device_list.h"

namespace tavolen {

DeviceList& DeviceList::instance() {
  // Never destroyed: links may be destroyed by hosts during process exit.
  static DeviceList* list = new DeviceList;
  return *list;
}

void DeviceList::add(CNetDevice* device) {
  if (device == nullptr) return;
  std::lock_guard<std::mutex> guard(lock_);
  entries_.push_back(Entry{device, 0, false});
}

DeviceList::Ref::~Ref() {
  if (device_ != nullptr) list_->release(device_);
}

DeviceList::Ref DeviceList::acquire(const void* handle) {
  if (handle == nullptr) return Ref();
  std::lock_guard<std::mutex> guard(lock_);
  for (Entry& e : entries_) {
    if (e.device == handle && !e.removing) {
      ++e.calls;
      return Ref(this, e.device);
    }
  }
  return Ref();
}

void DeviceList::release(CNetDevice* device) {
  std::lock_guard<std::mutex> guard(lock_);
  for (Entry& e : entries_) {
    if (e.device == device && e.calls > 0) {
      if (--e.calls == 0 && e.removing) drained_.notify_all();
      return;
    }
  }
}

CNetDevice* DeviceList::remove(const void* handle) {
  if (handle == nullptr) return nullptr;
  std::unique_lock<std::mutex> guard(lock_);
  auto find = [&] {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->device == handle && !it->removing) return it;
    }
    return entries_.end();
  };
  auto it = find();
  if (it == entries_.end()) return nullptr;
  it->removing = true;
  CNetDevice* device = it->device;
  drained_.wait(guard, [&] {
    for (const Entry& e : entries_) {
      if (e.device == device && e.removing) return e.calls == 0;
    }
    return true;
  });
  for (auto e = entries_.begin(); e != entries_.end(); ++e) {
    if (e->device == device && e->removing) {
      entries_.erase(e);
      break;
    }
  }
  return device;
}

size_t DeviceList::size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}

}  // namespace tavolen
