#pragma once
// The process-wide list of camera-link handles. A handle is the link's
// address. Every call through a handle holds a reference for its duration;
// removal waits until no call is in flight and refuses new ones meanwhile, so
// a link is never touched after its destroy has returned.
//
// The list's lock is held only for a walk, an append or a removal, never
// across a call into a link.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tavolen {

class CNetDevice;

class DeviceList {
 public:
  static DeviceList& instance();

  void add(CNetDevice* device);

  // A checked handle: true while the link is listed and held.
  class Ref {
   public:
    Ref() = default;
    Ref(Ref&& other) noexcept : list_(other.list_), device_(other.device_) { other.device_ = nullptr; }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref& operator=(Ref&&) = delete;
    ~Ref();
    explicit operator bool() const { return device_ != nullptr; }
    CNetDevice* operator->() const { return device_; }
    CNetDevice* get() const { return device_; }

   private:
    friend class DeviceList;
    Ref(DeviceList* list, CNetDevice* device) : list_(list), device_(device) {}
    DeviceList* list_ = nullptr;
    CNetDevice* device_ = nullptr;
  };

  // Null or unlisted handles (or one being removed) give an empty Ref.
  Ref acquire(const void* handle);
  // Takes the first matching entry out of the list once its calls in flight
  // have ended; null when the handle is not listed (or already being removed).
  CNetDevice* remove(const void* handle);

  size_t size() const;

 private:
  struct Entry {
    CNetDevice* device;
    int32_t calls;
    bool removing;
  };
  void release(CNetDevice* device);

  mutable std::mutex lock_;
  std::condition_variable drained_;
  std::vector<Entry> entries_;
};

}  // namespace tavolen
