#include "player/record_hook.h"

#include <cstring>

#include "player/frame_copy.h"

namespace tavolen {

RecordHook::RecordHook(int32_t codecKind) : codecKind_(codecKind) {
  std::memset(&params_, 0, sizeof params_);
}

int32_t RecordHook::start(const RecordStartParams& params, int32_t width, int32_t height) {
  std::lock_guard lock(lock_);
  if (recording_.load()) return 1;
  std::memset(&params_, 0, sizeof params_);
  std::memcpy(&params_, &params, sizeof params_);
  if (recorder_.startRecord(params_, width, height, codecKind_) == 0) return 0;
  recording_.store(1);
  return 1;
}

int32_t RecordHook::stop() {
  std::lock_guard lock(lock_);
  if (recording_.load()) {
    recording_.store(0);
    recorder_.stopRecord();
  }
  return 1;
}

void RecordHook::onFrame(const uint8_t* frame, int32_t width, int32_t height) {
  if (!recording_.load()) return;
  const FrameHeader h = parseFrameHeader(frame);
  const uint8_t* payload = frame + FRAME_HEADER_SIZE;
  std::lock_guard lock(lock_);
  if (!recording_.load()) return;
  int32_t written = 1;
  const bool video = codecKind_ == CAviRecorder::kCodecH264
                         ? (h.frameType == FRAME_H264_KEY || h.frameType == FRAME_H264_DELTA)
                         : h.frameType == FRAME_JPEG;
  if (video) {
    written = recorder_.writeVideo(payload, h.payloadLength);
  } else if (h.frameType == FRAME_AUDIO_ADPCM && h.payloadLength == ADPCM_BLOCK_BYTES) {
    int16_t pcm[ADPCM_BLOCK_BYTES * 2];
    adpcmDecode(adpcm_, payload, ADPCM_BLOCK_BYTES, pcm);
    written = recorder_.writeAudio(pcm);
  } else {
    return;
  }
  if (written == 0) restartLocked(width, height);
}

void RecordHook::restartIfRecording(int32_t width, int32_t height) {
  std::lock_guard lock(lock_);
  if (recording_.load()) restartLocked(width, height);
}

void RecordHook::restartLocked(int32_t width, int32_t height) {
  // The result is not looked at: the flag stays set and the next refused
  // write tries again.
  recorder_.stopRecord();
  (void)recorder_.startRecord(params_, width, height, codecKind_);
  restarts_.fetch_add(1);
}

}  // namespace tavolen
