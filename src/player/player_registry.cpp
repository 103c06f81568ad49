#include "player/player_registry.h"

#include <new>

#include "player/net_h264_stream_play.h"
#include "player/net_jpeg_stream_play.h"

namespace tavolen {

PlayerRegistry& PlayerRegistry::instance() {
  // Never destroyed: players may still be listed while the process exits.
  static PlayerRegistry* registry = new PlayerRegistry;
  return *registry;
}

CNetStreamPlay* PlayerRegistry::create(int32_t kind) {
  CNetStreamPlay* player = nullptr;
  if (kind == 0)
    player = new (std::nothrow) CNetH264StreamPlay;
  else if (kind == 1)
    player = new (std::nothrow) CNetJpegStreamPlay;
  if (player != nullptr) add(player);
  return player;
}

void PlayerRegistry::add(CNetStreamPlay* player) {
  std::lock_guard lock(lock_);
  entries_.push_back(Entry{player, 0, false});
}

bool PlayerRegistry::destroy(const void* handle) {
  CNetStreamPlay* player = nullptr;
  {
    std::unique_lock lock(lock_);
    auto it = entries_.begin();
    for (; it != entries_.end(); ++it)
      if (it->player == handle && !it->removing) break;
    if (it == entries_.end()) return false;
    it->removing = true;
    player = it->player;
    callsEnded_.wait(lock, [&] {
      for (const Entry& e : entries_)
        if (e.player == player) return e.calls == 0;
      return true;
    });
    std::erase_if(entries_, [&](const Entry& e) { return e.player == player; });
  }
  player->stopPlay();
  delete player;
  return true;
}

PlayerRegistry::Pin PlayerRegistry::find(const void* handle) {
  if (handle == nullptr) return {};
  std::lock_guard lock(lock_);
  for (Entry& e : entries_) {
    if (e.player == handle && !e.removing) {
      ++e.calls;
      return Pin(this, e.player);
    }
  }
  return {};
}

void PlayerRegistry::unpin(CNetStreamPlay* player) {
  std::lock_guard lock(lock_);
  for (Entry& e : entries_) {
    if (e.player == player) {
      if (--e.calls == 0 && e.removing) callsEnded_.notify_all();
      return;
    }
  }
}

PlayerRegistry::Pin::~Pin() {
  if (player_ != nullptr) registry_->unpin(player_);
}

size_t PlayerRegistry::size() {
  std::lock_guard lock(lock_);
  return entries_.size();
}

}  // namespace tavolen
