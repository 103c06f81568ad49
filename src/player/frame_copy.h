#pragma once
// Copies of media frames as the players queue them, and the players' counters.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

#include "media/media_frame.h"
#include "tavolen/player.h"
#include "tavolen/types.h"

namespace tavolen {

// One whole frame (header first), owned by whichever queue or thread holds it.
struct MediaFrame {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t length = 0;

  FrameHeader header() const { return parseFrameHeader(bytes.get()); }
  const uint8_t* payload() const { return bytes.get() + FRAME_HEADER_SIZE; }
  uint32_t payloadLength() const { return readLe32(bytes.get() + 16); }
  uint8_t type() const { return bytes[4]; }
};

// Only the bytes the frame has are allocated, not a MAX_FRAME_SIZE block:
// the copy behaves the same and a queue of small frames stays small.
inline MediaFrame copyFrame(const uint8_t* frame, int32_t length) {
  MediaFrame f;
  f.length = static_cast<uint32_t>(length);
  f.bytes.reset(new uint8_t[f.length]);
  std::memcpy(f.bytes.get(), frame, f.length);
  return f;
}

// Counters written by several threads, read as one snapshot.
struct PlayerCounterSet {
  std::atomic<uint32_t> framesIn{0}, videoQueued{0}, audioQueued{0}, droppedOverflow{0},
      droppedFlushed{0}, droppedAudio{0}, droppedUnusable{0}, picturesDecoded{0},
      decodeErrors{0}, picturesPresented{0};

  void snapshot(PlayerCounters& out) const {
    std::memset(&out, 0, sizeof out);
    out.framesIn = framesIn.load();
    out.videoQueued = videoQueued.load();
    out.audioQueued = audioQueued.load();
    out.droppedOverflow = droppedOverflow.load();
    out.droppedFlushed = droppedFlushed.load();
    out.droppedAudio = droppedAudio.load();
    out.droppedUnusable = droppedUnusable.load();
    out.picturesDecoded = picturesDecoded.load();
    out.decodeErrors = decodeErrors.load();
    out.picturesPresented = picturesPresented.load();
  }
};

}  // namespace tavolen
