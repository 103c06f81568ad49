#pragma once
// HandleTable<T>: the process-wide list behind one kind of C handle. Links,
// players, windows, talk instances and controls each have one table, and all
// follow the same lifetime rule:
//
// - A handle is the object's address. It is valid from add() until remove()
//   begins; null, stale and foreign handles find nothing.
// - find() pins a listed object for the length of one call. A pin lives on the
//   caller's stack and never outlives the call that took it.
// - remove() first marks the entry as removing (find() refuses it from then
//   on), then runs the table's cancel step on the object, then waits until no
//   pin is left, then unlists the object and hands it to the caller, who stops
//   and releases it. The cancel step is what lets that wait end: it makes
//   whatever a pinned call may be blocked in (a connect, a receive, a send)
//   return. It runs on the remover's thread while pinned calls may still be
//   running on others, so it must be safe against them, must not block for
//   long and must not wait for them.
// - remove() on the thread that itself holds a pin on the object (an object
//   destroyed from inside one of its own calls) would wait for itself: it is
//   refused instead, and the object stays listed.
// - share() gives a reference that outlives the call, for objects whose
//   operations fail safely once their cancel step has run (a window the host
//   destroyed draws nothing). Holders of such a reference are not waited for.
//
// Threads: every operation from any thread. lock_ guards entries_ and is held
// only for a walk, an append or a removal, never while the object's operations
// or its cancel step run.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace tavolen::platform {

template <typename T>
class HandleTable {
 public:
  using CancelFn = void (*)(T& object);

  explicit HandleTable(CancelFn cancel = nullptr) : cancel_(cancel) {}
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // A pinned object, or empty when the handle finds nothing.
  class Pin {
   public:
    Pin() = default;
    Pin(Pin&& other) noexcept : table_(other.table_), object_(other.object_) {
      other.object_ = nullptr;
    }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    Pin& operator=(Pin&&) = delete;
    ~Pin() {
      if (object_ != nullptr) table_->unpin(object_);
    }
    explicit operator bool() const { return object_ != nullptr; }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }

   private:
    friend class HandleTable;
    Pin(HandleTable* table, T* object) : table_(table), object_(object) {}
    HandleTable* table_ = nullptr;
    T* object_ = nullptr;
  };

  // Lists the object; returns its handle, or null for a null object.
  void* add(std::shared_ptr<T> object) {
    if (!object) return nullptr;
    T* raw = object.get();
    std::lock_guard<std::mutex> guard(lock_);
    entries_.push_back(Entry{std::move(object), 0, false});
    return raw;
  }

  Pin find(const void* handle) {
    if (handle == nullptr) return Pin();
    std::lock_guard<std::mutex> guard(lock_);
    Entry* e = listed(handle);
    if (e == nullptr) return Pin();
    heldHere().push_back(e->object.get());  // first: it may throw
    ++e->pins;
    return Pin(this, e->object.get());
  }

  std::shared_ptr<T> share(const void* handle) {
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    Entry* e = listed(handle);
    return e != nullptr ? e->object : nullptr;
  }

  // Null when the handle finds nothing, is already being removed, or is
  // pinned by this very thread.
  std::shared_ptr<T> remove(const void* handle) {
    if (handle == nullptr) return nullptr;
    T* object = nullptr;
    {
      std::lock_guard<std::mutex> guard(lock_);
      Entry* e = listed(handle);
      if (e == nullptr || pinnedHere(e->object.get())) return nullptr;
      e->removing = true;
      object = e->object.get();
    }
    // A cancel step that throws still leaves the object unlisted and released;
    // the exception goes on to the remover afterwards.
    std::exception_ptr failed;
    try {
      if (cancel_ != nullptr) cancel_(*object);
    } catch (...) {
      failed = std::current_exception();
    }
    std::unique_lock<std::mutex> guard(lock_);
    auto it = entries_.begin();
    unpinned_.wait(guard, [&] {
      it = std::find_if(entries_.begin(), entries_.end(),
                        [&](const Entry& e) { return e.object.get() == object && e.removing; });
      return it->pins == 0;
    });
    std::shared_ptr<T> out = std::move(it->object);
    entries_.erase(it);
    if (failed) {
      guard.unlock();
      out.reset();
      std::rethrow_exception(failed);
    }
    return out;
  }

  size_t size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
  }

 private:
  struct Entry {
    std::shared_ptr<T> object;
    int32_t pins;   // calls in flight
    bool removing;  // remove() under way: no new pins
  };

  // The objects this thread has pinned, innermost last.
  static std::vector<const T*>& heldHere() {
    thread_local std::vector<const T*> held;
    return held;
  }
  static bool pinnedHere(const T* object) {
    const std::vector<const T*>& held = heldHere();
    return std::find(held.begin(), held.end(), object) != held.end();
  }

  // Under lock_.
  Entry* listed(const void* handle) {
    for (Entry& e : entries_)
      if (e.object.get() == handle && !e.removing) return &e;
    return nullptr;
  }

  void unpin(T* object) {
    std::vector<const T*>& held = heldHere();
    auto mine = std::find(held.rbegin(), held.rend(), object);
    if (mine != held.rend()) held.erase(std::next(mine).base());
    std::lock_guard<std::mutex> guard(lock_);
    for (Entry& e : entries_) {
      if (e.object.get() != object) continue;
      if (--e.pins == 0 && e.removing) unpinned_.notify_all();
      return;
    }
  }

  const CancelFn cancel_;
  mutable std::mutex lock_;
  std::condition_variable unpinned_;
  std::vector<Entry> entries_;  // in the order added
};

}  // namespace tavolen::platform
