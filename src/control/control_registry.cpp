#include "control/control_registry.h"

#include <algorithm>

#include "control/tavolen_ctrl.h"

namespace tavolen {

ControlRegistry& ControlRegistry::instance() {
  static ControlRegistry* registry = new ControlRegistry;  // outlives static destructors
  return *registry;
}

void* ControlRegistry::add(std::unique_ptr<CTavolenCtrl> control) {
  std::lock_guard guard(lock_);
  CTavolenCtrl* c = control.release();
  entries_.push_back(Entry{c, 0, false});
  return c;
}

ControlRegistry::Pin ControlRegistry::find(const void* handle) {
  if (!handle) return {};
  std::lock_guard guard(lock_);
  for (Entry& e : entries_) {
    if (e.control == handle && !e.removing) {
      ++e.pins;
      return Pin(this, e.control);
    }
  }
  return {};
}

void ControlRegistry::unpin(CTavolenCtrl* control) {
  std::lock_guard guard(lock_);
  for (Entry& e : entries_) {
    if (e.control == control) {
      if (--e.pins == 0 && e.removing) unpinned_.notify_all();
      return;
    }
  }
}

ControlRegistry::Pin::~Pin() {
  if (control_) registry_->unpin(control_);
}

std::unique_ptr<CTavolenCtrl> ControlRegistry::remove(const void* handle) {
  if (!handle) return nullptr;
  std::unique_lock guard(lock_);
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.control == handle && !e.removing; });
  if (it == entries_.end()) return nullptr;
  it->removing = true;
  CTavolenCtrl* control = it->control;
  unpinned_.wait(guard, [&] {
    for (const Entry& e : entries_)
      if (e.control == control) return e.pins == 0;
    return true;
  });
  std::erase_if(entries_, [&](const Entry& e) { return e.control == control; });
  return std::unique_ptr<CTavolenCtrl>(control);
}

}  // namespace tavolen
