#pragma once
// The process-wide list of live players. A handle is a player's address and
// follows the rule of platform/handle_table.h: every call on a handle first
// finds and pins it; a destroy unlists the handle, waits for the calls in
// flight on it, then stops and deletes the player. A player is never used
// after its destroy returns and never deleted under a running call.

#include <cstdint>

#include "platform/handle_table.h"
#include "player/net_stream_play.h"

namespace tavolen {

class PlayerRegistry : public platform::HandleTable<CNetStreamPlay> {
 public:
  // Never destroyed: players may still be listed while the process exits.
  static PlayerRegistry& instance();

  // Creates a player of kind PlayerKindH264 or PlayerKindJpeg, lists it and
  // returns it; nullptr for any other kind.
  CNetStreamPlay* create(int32_t kind);
  // Unlists the handle, waits for calls in progress on it, stops and deletes
  // the player. False (nothing touched) for a handle that is not listed.
  bool destroy(const void* handle);
};

}  // namespace tavolen
