#pragma once
// A player fed by a camera stream, for the subcommands that take a picture
// from it, record it, or play its sound. The kind of player follows the
// stream: the first video frame decides (H.264 key or delta frames make an
// H.264 player, JPEG pictures a JPEG player), unless the kind is given.
//
// Recording starts at a starting frame (an H.264 key frame or a JPEG picture)
// once the player knows the picture size, so that the file opens with a
// picture its reader can decode and its header carries the size. If no
// picture has been decoded yet, that starting frame is shown first, the
// delivering thread waits (bounded) until it is decoded, then the recording
// starts and the same frame is given again, this time to the recorder: no
// frame is lost to the file.
//
// Threads: feed() runs on the link's receive threads (live video, sound, or
// SD-card playback), everything else on the main thread. recordLock_ covers
// the start and stop of a recording (feed holds it while it waits for the
// first picture, which release() cuts short); recording_ is guarded by
// Waits::mutex(). The player handle is published once, by the first video
// frame, and then stays.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "tavolen/player.h"
#include "tavolen/window.h"

namespace tavolen::cli {

class StreamPlayer {
 public:
  enum class Kind { FromStream, H264, Jpeg };
  enum class Recording { Off, Waiting, On, Failed };

  struct Options {
    Kind kind = Kind::FromStream;
    // H.264 pictures reach a snapshot only through a window.
    bool window = false;
    bool sound = false;
  };

  explicit StreamPlayer(Options options);
  // Stops recording and playing. Stop whatever feeds the player first.
  ~StreamPlayer();
  StreamPlayer(const StreamPlayer&) = delete;
  StreamPlayer& operator=(const StreamPlayer&) = delete;

  // One whole frame from a stream. Receive threads.
  void feed(const uint8_t* frame, int32_t length);

  // The next starting frame starts a recording with these parameters.
  void recordFrom(const RecordStartParams& params);
  // Read under Waits::mutex().
  Recording recording() const { return recording_; }
  void stopRecording();

  // Ends any wait inside feed(); call before stopping what feeds the player.
  void release();

  PlayerHandle handle() const { return player_.load(); }
  bool isJpeg() const { return jpeg_.load(); }
  PlayerCounters counters() const;
  // Whether the sound output opened (known once sound blocks were fed).
  bool soundRefused() const;

 private:
  void create(bool jpeg);
  void startRecording(const uint8_t* frame, int32_t length);
  bool waitForPicture();

  const Options options_;
  std::atomic<PlayerHandle> player_{nullptr};
  std::atomic<bool> jpeg_{false};
  std::atomic<bool> released_{false};
  TavolenWindow* window_ = nullptr;  // set with the player, destroyed after it
  std::mutex recordLock_;
  RecordStartParams params_{};  // guarded by recordLock_
  Recording recording_ = Recording::Off;
};

}  // namespace tavolen::cli
