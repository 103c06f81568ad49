#pragma once
// The process-wide list of controls behind the tavolen_control_* handles. A
// handle is the control's address. A call through a handle holds the control
// for its duration; removal refuses new holds and waits for the calls in
// flight, so a control is never used after its destroy has begun tearing it
// down. The list's lock is held only for a walk, an append or a removal.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tavolen {

class CTavolenCtrl;

class ControlRegistry {
 public:
  static ControlRegistry& instance();

  // Lists the control; the registry owns it from now on.
  void* add(std::unique_ptr<CTavolenCtrl> control);

  class Pin {
   public:
    Pin() = default;
    Pin(Pin&& other) noexcept : registry_(other.registry_), control_(other.control_) {
      other.control_ = nullptr;
    }
    Pin& operator=(Pin&&) = delete;
    ~Pin();
    explicit operator bool() const { return control_ != nullptr; }
    CTavolenCtrl* operator->() const { return control_; }
    CTavolenCtrl& operator*() const { return *control_; }

   private:
    friend class ControlRegistry;
    Pin(ControlRegistry* r, CTavolenCtrl* c) : registry_(r), control_(c) {}
    ControlRegistry* registry_ = nullptr;
    CTavolenCtrl* control_ = nullptr;
  };
  // Empty for a null, unknown or departing handle.
  Pin find(const void* handle);
  // Unlists the control once no call holds it and hands it back; null when
  // the handle is not listed.
  std::unique_ptr<CTavolenCtrl> remove(const void* handle);

 private:
  struct Entry {
    CTavolenCtrl* control;
    int32_t pins;
    bool removing;
  };
  void unpin(CTavolenCtrl* control);

  std::mutex lock_;
  std::condition_variable unpinned_;
  std::vector<Entry> entries_;
};

}  // namespace tavolen
