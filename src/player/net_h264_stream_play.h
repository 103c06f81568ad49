#pragma once
// The H.264 stream player: a bounded video queue paced by the 30 ms timer, a
// decode thread that decodes one access unit per tick and shows it through
// the embedded renderer, and an audio thread that plays queued sound blocks.
//
// Threads and locks:
// - callers: every operation; start, stop and the sound switches are
//   serialised by control_ (never taken by the player's own threads);
// - the link's thread: inputNetFrame (video queue lock, audio queue lock,
//   the record hook's lock, one at a time);
// - the timer thread: onTick only (signals wake_);
// - the decode thread: takes frames under videoLock_, decodes without a lock,
//   copies, renders and presents under renderLock_;
// - the audio thread: takes blocks under audioLock_, waits on audioWake_ while
//   there are none, and queues PCM to waveOut_.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/event.h"
#include "platform/h264_decoder.h"
#include "media/adpcm_codec.h"
#include "player/frame_copy.h"
#include "player/net_stream_play.h"
#include "player/pacing_timer.h"
#include "player/record_hook.h"
#include "player/wave_out.h"
#include "render/ddraw_renderer.h"

namespace tavolen {

class CNetH264StreamPlay : public CNetStreamPlay {
 public:
  // Queue limits: beyond kQueueLimit drop mode starts; in drop mode only a key
  // frame is taken, and only below kDropModeLimit.
  static constexpr int32_t kQueueLimit = 10;
  static constexpr int32_t kDropModeLimit = 20;
  // The picture buffer holds the largest picture the renderer takes.
  static constexpr size_t kPictureBufferBytes = kMaxPictureBytes;
  // With more than this many frames still queued after a picture, the decode
  // thread pauses (in real time, whatever the clock) before waiting again.
  static constexpr int32_t kBacklogPauseFrames = 5;
  static constexpr uint32_t kBacklogPauseMs = 10;

  CNetH264StreamPlay();
  ~CNetH264StreamPlay() override;

  int32_t startPlay() override;
  int32_t stopPlay() override;
  int32_t setPlayWnd(void* window) override;
  intptr_t getPlayWnd() override;
  int32_t refreshLastPicture() override;
  int32_t inputNetFrame(const uint8_t* frame, int32_t length) override;
  int32_t getListFrameNum() override;
  int32_t openSound() override;
  int32_t closeSound() override;
  int32_t setOsdString(int32_t index, const OsdItem* item) override;
  int32_t removeOsdstring(int32_t index) override;
  int32_t capturePicture(const char* fileName) override;
  int32_t capturePictureBuf(uint8_t* buffer) override;
  int32_t getPlayPicSize(int32_t* width, int32_t* height) override;
  int32_t adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom) override;
  int32_t setRenderEffect(int32_t effect) override;
  int32_t renderActualProportion(int32_t on) override;
  int32_t startlocalrecord(RecordStartParams params) override;
  int32_t stoplocalrecord() override;
  int32_t getrecordstatus() override;
  int32_t getCounters(PlayerCounters* counters) override;

 private:
  static void onTick(void* self);
  void decodeLoop();
  void audioLoop();
  bool takeUsableFrame(MediaFrame& out);
  void queueVideo(const uint8_t* frame, int32_t length, uint8_t type);
  // Undoes a startPlay that threw half way; control_ held.
  void abandonStart();
  void startAudioThread();
  void joinAudioThread();
  int32_t closeSoundLocked();

  std::mutex control_;
  std::atomic<int32_t> playing_{0};
  std::atomic<void*> window_{nullptr};
  PacingTimer timer_;
  std::unique_ptr<platform::Event> wake_;
  std::thread decodeThread_;

  std::mutex videoLock_;
  std::deque<MediaFrame> videoQueue_;
  bool dropMode_ = false;  // guarded by videoLock_
  bool keySeen_ = false;   // decode thread only

  std::mutex audioLock_;
  std::deque<MediaFrame> audioQueue_;
  std::atomic<int32_t> soundOn_{0};
  std::thread audioThread_;
  // Signalled when a block is queued and when the thread should look at
  // playing_ and soundOn_ again.
  platform::Event audioWake_{platform::Event::Reset::Auto};
  AdpcmState playbackAdpcm_;
  CWaveOut waveOut_;

  platform::H264DecHandle decoder_ = nullptr;  // decode thread only while playing
  // The last picture decoded, shared with the decoder's buffer pool rather
  // than copied; what refreshLastPicture shows. Guarded by renderLock_.
  std::shared_ptr<const platform::HeldPicture> lastPicture_;
  std::atomic<int32_t> picWidth_{0};
  std::atomic<int32_t> picHeight_{0};
  std::mutex renderLock_;
  CDDrawRenderer renderer_;

  RecordHook record_{CAviRecorder::kCodecH264};
  PlayerCounterSet counters_;
};

}  // namespace tavolen
