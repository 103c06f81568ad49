#include "player/player_registry.h"

#include <memory>

#include "player/net_h264_stream_play.h"
#include "player/net_jpeg_stream_play.h"

namespace tavolen {

PlayerRegistry& PlayerRegistry::instance() {
  static PlayerRegistry* registry = new PlayerRegistry;
  return *registry;
}

CNetStreamPlay* PlayerRegistry::create(int32_t kind) {
  std::shared_ptr<CNetStreamPlay> player;
  if (kind == PlayerKindH264)
    player = std::make_shared<CNetH264StreamPlay>();
  else if (kind == PlayerKindJpeg)
    player = std::make_shared<CNetJpegStreamPlay>();
  return static_cast<CNetStreamPlay*>(add(std::move(player)));
}

bool PlayerRegistry::destroy(const void* handle) {
  std::shared_ptr<CNetStreamPlay> player = remove(handle);
  if (!player) return false;
  player->stopPlay();
  return true;  // deleted here, as the last owner lets go
}

}  // namespace tavolen
