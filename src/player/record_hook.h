#pragma once
// The recording side of a player: the embedded recorder, the kept start
// parameters and the record lock, with the per-frame rules of both player
// kinds and the restart of the file after a refused write.
//
// Every operation takes the record lock for its whole duration and holds no
// other lock; frames arrive on the link's thread, start and stop on callers'.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "media/adpcm_codec.h"
#include "record/avi_recorder.h"
#include "tavolen/types.h"

namespace tavolen {

class RecordHook {
 public:
  // codecKind: CAviRecorder::kCodecH264 (key and delta frames are video) or
  // CAviRecorder::kCodecJpeg.
  explicit RecordHook(int32_t codecKind);
  RecordHook(const RecordHook&) = delete;
  RecordHook& operator=(const RecordHook&) = delete;

  int32_t start(const RecordStartParams& params, int32_t width, int32_t height);
  int32_t stop();
  int32_t status() const { return recording_.load(); }

  // One input frame (whole, checked): written if this kind records it; a
  // refused write restarts the file with the given picture size.
  void onFrame(const uint8_t* frame, int32_t width, int32_t height);
  // Starts a new file now if recording (JPEG: size or sound change).
  void restartIfRecording(int32_t width, int32_t height);

  uint32_t restarts() const { return restarts_.load(); }

 private:
  void restartLocked(int32_t width, int32_t height);

  const int32_t codecKind_;
  std::mutex lock_;
  std::atomic<int32_t> recording_{0};
  CAviRecorder recorder_;
  RecordStartParams params_;
  AdpcmState adpcm_;
  std::atomic<uint32_t> restarts_{0};
};

}  // namespace tavolen
