#pragma once
// The process-wide list of live players. A handle is a player's address; every
// call on a handle first finds it here. A found player is pinned for the call
// so that a destroy on another thread waits for the call to end before it
// stops and deletes the player: a player is never used after its destroy
// returns and never deleted under a running call.
//
// The registry lock is held only for the walk, append or removal, never while
// a player operation runs.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "player/net_stream_play.h"

namespace tavolen {

class PlayerRegistry {
 public:
  static PlayerRegistry& instance();

  // Creates a player of kind 0 (H.264) or 1 (JPEG), lists it and returns it;
  // nullptr for any other kind or when it cannot be made.
  CNetStreamPlay* create(int32_t kind);
  // Lists an existing player (the control's own creation path).
  void add(CNetStreamPlay* player);
  // Unlists the handle, waits for calls in progress on it, stops and deletes
  // the player. False (nothing touched) for a handle that is not listed.
  bool destroy(const void* handle);

  // A pinned player, or empty when the handle is not listed.
  class Pin {
   public:
    Pin() = default;
    Pin(Pin&& other) noexcept : registry_(other.registry_), player_(other.player_) {
      other.player_ = nullptr;
    }
    Pin& operator=(Pin&&) = delete;
    ~Pin();
    CNetStreamPlay* operator->() const { return player_; }
    explicit operator bool() const { return player_ != nullptr; }

   private:
    friend class PlayerRegistry;
    Pin(PlayerRegistry* r, CNetStreamPlay* p) : registry_(r), player_(p) {}
    PlayerRegistry* registry_ = nullptr;
    CNetStreamPlay* player_ = nullptr;
  };
  Pin find(const void* handle);

  size_t size();

 private:
  struct Entry {
    CNetStreamPlay* player;
    int calls;      // pins held now
    bool removing;  // destroy under way: no new pins
  };
  void unpin(CNetStreamPlay* player);

  std::mutex lock_;
  std::condition_variable callsEnded_;
  std::vector<Entry> entries_;  // creation order
};

}  // namespace tavolen
