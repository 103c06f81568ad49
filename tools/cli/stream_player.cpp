#include "stream_player.h"

#include <chrono>
#include <thread>

#include "waits.h"

namespace tavolen::cli {

namespace {

// How long the first picture may take to decode before recording starts
// without its size.
constexpr auto kFirstPictureWait = std::chrono::seconds(3);
constexpr int32_t kWindowSide = 64;

bool isStartingFrame(uint8_t type) { return type == FRAME_H264_KEY || type == FRAME_JPEG; }

}  // namespace

StreamPlayer::StreamPlayer(Options options) : options_(options) {
  if (options_.kind != Kind::FromStream) create(options_.kind == Kind::Jpeg);
}

StreamPlayer::~StreamPlayer() {
  release();
  if (PlayerHandle p = player_.load()) {
    x_player_stoplocalrecord(p);
    x_player_closeSound(p);
    x_player_destroyPlayInstance(p);
  }
  if (window_ != nullptr) tavolen_window_destroy(window_);
}

void StreamPlayer::create(bool jpeg) {
  PlayerHandle p = x_player_createPlayInstance(jpeg ? PlayerKindJpeg : PlayerKindH264);
  if (p == nullptr) return;
  if (options_.window) {
    window_ = tavolen_window_create_offscreen(kWindowSide, kWindowSide);
    x_player_setPlayWnd(p, window_);
  }
  x_player_startPlay(p);
  if (options_.sound) x_player_openSound(p);
  jpeg_ = jpeg;
  player_ = p;
}

void StreamPlayer::feed(const uint8_t* frame, int32_t length) {
  if (length < FRAME_HEADER_SIZE || released_.load()) return;
  const uint8_t type = frame[4];
  if (player_.load() == nullptr) {
    // Only a video frame tells the kind; nothing before it can be shown.
    if (type == FRAME_H264_KEY || type == FRAME_H264_DELTA) create(false);
    else if (type == FRAME_JPEG) create(true);
    if (player_.load() == nullptr) return;
  }
  if (isStartingFrame(type)) {
    std::unique_lock<std::mutex> lock(recordLock_);
    bool waiting;
    {
      std::lock_guard<std::mutex> state(Waits::mutex());
      waiting = recording_ == Recording::Waiting;
    }
    if (waiting) {
      startRecording(frame, length);
      return;
    }
  }
  x_player_inputNetFrame(player_.load(), frame, length);
}

void StreamPlayer::startRecording(const uint8_t* frame, int32_t length) {
  PlayerHandle p = player_.load();
  PlayerCounters c{};
  x_player_getCounters(p, &c);
  if (c.picturesDecoded == 0) {
    x_player_inputNetFrame(p, frame, length);  // shown, so that its size is known
    waitForPicture();
  }
  const bool started = x_player_startlocalrecord(p, params_) == 1;
  {
    std::lock_guard<std::mutex> state(Waits::mutex());
    recording_ = started ? Recording::On : Recording::Failed;
  }
  Waits::notify();
  if (started) x_player_inputNetFrame(p, frame, length);
}

bool StreamPlayer::waitForPicture() {
  const auto end = std::chrono::steady_clock::now() + kFirstPictureWait;
  while (!released_.load() && std::chrono::steady_clock::now() < end) {
    PlayerCounters c{};
    x_player_getCounters(player_.load(), &c);
    if (c.picturesDecoded > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void StreamPlayer::recordFrom(const RecordStartParams& params) {
  std::lock_guard<std::mutex> lock(recordLock_);
  params_ = params;
  {
    std::lock_guard<std::mutex> state(Waits::mutex());
    recording_ = Recording::Waiting;
  }
  Waits::notify();
}

void StreamPlayer::stopRecording() {
  std::lock_guard<std::mutex> lock(recordLock_);
  {
    std::lock_guard<std::mutex> state(Waits::mutex());
    recording_ = Recording::Off;
  }
  if (PlayerHandle p = player_.load()) x_player_stoplocalrecord(p);
}

void StreamPlayer::release() { released_ = true; }

PlayerCounters StreamPlayer::counters() const {
  PlayerCounters c{};
  if (PlayerHandle p = player_.load()) x_player_getCounters(p, &c);
  return c;
}

bool StreamPlayer::soundRefused() const {
  const PlayerCounters c = counters();
  return c.audioQueued == 0 && c.droppedAudio > 0;
}

}  // namespace tavolen::cli
