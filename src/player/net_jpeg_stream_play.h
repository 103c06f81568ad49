#pragma once
// The JPEG stream player: a queue of at most 11 pictures paced by the 30 ms
// timer, a display thread that decodes each picture, flips it, stretches it
// over the whole client area of the window in an off-screen bitmap, draws the
// on-screen text over it and hands the bitmap to the window. Sound blocks are
// decoded at once on the caller's thread. Its snapshot is the JPEG as received.
//
// Threads and locks:
// - callers: every operation; start, stop and the sound switches are
//   serialised by control_ (never taken by the player's own threads);
// - the link's thread: inputNetFrame (queueLock_, then the record hook);
// - the timer thread: onTick only;
// - the display thread: takes frames under queueLock_, draws under drawLock_,
//   which refreshLastPicture also takes, so the two never draw at once.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/jpeg_codec.h"
#include "media/adpcm_codec.h"
#include "player/frame_copy.h"
#include "player/net_stream_play.h"
#include "player/pacing_timer.h"
#include "player/jpeg_surface.h"
#include "player/record_hook.h"
#include "player/wave_out.h"

namespace tavolen {

class CNetJpegStreamPlay : public CNetStreamPlay {
 public:
  // More than kFlushAbove queued: the queue is emptied before the new picture
  // goes in; at kDropAt or more the picture is dropped.
  static constexpr int32_t kFlushAbove = 10;
  static constexpr int32_t kDropAt = 20;
  static constexpr uint32_t kSnapshotWaitMs = 200;

  CNetJpegStreamPlay();
  ~CNetJpegStreamPlay() override;

  int32_t startPlay() override;
  int32_t stopPlay() override;
  int32_t setPlayWnd(void* window) override;
  intptr_t getPlayWnd() override;
  int32_t refreshLastPicture() override;
  int32_t inputNetFrame(const uint8_t* frame, int32_t length) override;
  int32_t openSound() override;
  int32_t closeSound() override;
  int32_t setOsdString(int32_t index, const OsdItem* item) override;
  int32_t removeOsdstring(int32_t index) override;
  int32_t capturePicture(const char* fileName) override;
  int32_t setRenderEffect(int32_t effect) override;
  int32_t startlocalrecord(RecordStartParams params) override;
  int32_t stoplocalrecord() override;
  int32_t getrecordstatus() override;
  int32_t getCounters(PlayerCounters* counters) override;

 private:
  struct Slots {
    std::array<OsdItem, OSD_SLOT_COUNT> items;
    std::array<bool, OSD_SLOT_COUNT> enabled;
  };

  static void onTick(void* self);
  void displayLoop();
  bool takeJpeg(MediaFrame& out);
  void applyFlip(platform::JpegPicture& pic) const;
  // Draws pic over the window's client area with the text items; time-stamp
  // items show the frame's time, or the cached text when refreshing.
  void drawPicture(const platform::JpegPicture& pic, const FrameHeader& header, bool refreshing);

  std::mutex control_;
  std::atomic<int32_t> playing_{0};
  std::atomic<void*> window_{nullptr};
  PacingTimer timer_;
  std::unique_ptr<platform::Event> wake_;
  std::thread displayThread_;

  std::mutex queueLock_;
  std::deque<MediaFrame> queue_;

  std::mutex drawLock_;
  std::vector<uint8_t> lastFrame_;  // whole frame; empty: none taken since start
  std::u32string cachedTimeText_;  // the last time stamp drawn, prefix and all
  JpegSurface surface_;
  platform::JpegCodec displayCodec_;
  platform::JpegCodec refreshCodec_;

  std::atomic<int32_t> flipMode_{0};
  std::atomic<int32_t> picWidth_{0};
  std::atomic<int32_t> picHeight_{0};

  std::mutex slotsLock_;
  Slots slots_{};

  std::mutex snapshotLock_;
  std::atomic<int32_t> snapshotPending_{0};
  std::string snapshotFile_;
  platform::Event snapshotDone_{platform::Event::Reset::Manual, false};

  std::atomic<int32_t> soundOn_{0};
  CWaveOut waveOut_;

  RecordHook record_{CAviRecorder::kCodecJpeg};
  PlayerCounterSet counters_;
};

}  // namespace tavolen
