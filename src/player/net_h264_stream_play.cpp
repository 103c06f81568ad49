#include "player/net_h264_stream_play.h"

#include <cstring>

#include "platform/thread.h"
#include "platform/tick.h"

namespace tavolen {

namespace {

// Attribute record the decoder is created with: 4:2:0 output, byte stream,
// at most 160 x 128 macroblocks (2560 x 2048), 8 reference pictures.
platform::H264DecAttr decoderAttributes() {
  return platform::H264DecAttr{0, 0, 160, 128, 8, 0x10, 0, 0};
}

// The picture just decoded, kept as the last picture: the decoder's own buffer
// where it can be shared, else a packed copy of the output record's planes.
// Null when memory ran out.
std::shared_ptr<const platform::HeldPicture> keepPicture(platform::H264DecHandle decoder,
                                                        const platform::H264DecOutput& out) {
  if (auto held = platform::Hi264DecHoldPicture(decoder)) return held;
  struct Copy {
    platform::HeldPicture planes;
    std::unique_ptr<uint8_t[]> bytes;
  };
  const size_t lumaBytes = static_cast<size_t>(out.lumaStride) * out.height;
  const size_t chromaBytes = static_cast<size_t>(out.chromaStride) * ((out.height + 1) / 2);
  auto copy = std::shared_ptr<Copy>(new (std::nothrow) Copy, std::default_delete<Copy>(),
                                    std::allocator<Copy>());
  if (!copy) return nullptr;
  copy->bytes.reset(new (std::nothrow) uint8_t[lumaBytes + 2 * chromaBytes]);
  if (!copy->bytes) return nullptr;
  uint8_t* p = copy->bytes.get();
  std::memcpy(p, out.luma, lumaBytes);
  std::memcpy(p + lumaBytes, out.u, chromaBytes);
  std::memcpy(p + lumaBytes + chromaBytes, out.v, chromaBytes);
  copy->planes = {p, p + lumaBytes, p + lumaBytes + chromaBytes, out.lumaStride, out.chromaStride,
                  out.width, out.height};
  return std::shared_ptr<const platform::HeldPicture>(copy, &copy->planes);
}

PlanarPicture planesOf(const platform::HeldPicture& p) {
  return {p.luma, p.u, p.v, static_cast<ptrdiff_t>(p.lumaStride),
          static_cast<ptrdiff_t>(p.chromaStride), static_cast<int32_t>(p.width),
          static_cast<int32_t>(p.height)};
}

}  // namespace

CNetH264StreamPlay::CNetH264StreamPlay() = default;

CNetH264StreamPlay::~CNetH264StreamPlay() {
  stopPlay();
  closeSound();
  stoplocalrecord();
  stopPacingTimer(timer_);
  joinAudioThread();
}

void CNetH264StreamPlay::onTick(void* self) {
  auto* p = static_cast<CNetH264StreamPlay*>(self);
  if (p->playing_.load()) p->wake_->signal();
}

int32_t CNetH264StreamPlay::startPlay() {
  std::lock_guard control(control_);
  if (playing_.load()) return 1;
  // What the threads need is made before anything starts, so that a start
  // that throws (no memory, a thread that cannot start) leaves the player
  // stopped as it was.
  auto wake = std::make_unique<platform::Event>(platform::Event::Reset::Auto, false);
  playing_.store(1);
  {
    std::lock_guard lock(videoLock_);
    dropMode_ = false;
  }
  keySeen_ = false;
  picWidth_.store(0);
  picHeight_.store(0);
  const platform::H264DecAttr attr = decoderAttributes();
  decoder_ = platform::Hi264DecCreate(&attr);
  wake_ = std::move(wake);
  try {
    startPacingTimer(timer_, this, &CNetH264StreamPlay::onTick);
    decodeThread_ = platform::startThread([this] { decodeLoop(); },
                                          platform::ThreadPriority::TimeCritical);
    // Sound switched on while stopped: its thread ended at once, so playing
    // starts it again rather than leaving accepted blocks unplayed.
    if (soundOn_.load()) startAudioThread();
  } catch (...) {
    abandonStart();
    throw;
  }
  return 1;
}

void CNetH264StreamPlay::abandonStart() {
  stopPacingTimer(timer_);
  playing_.store(0);
  wake_->signal();
  if (decodeThread_.joinable()) decodeThread_.join();
  joinAudioThread();
  wake_.reset();
  platform::Hi264DecDestroy(decoder_);
  decoder_ = nullptr;
  std::lock_guard render(renderLock_);
  lastPicture_.reset();
}

int32_t CNetH264StreamPlay::stopPlay() {
  std::lock_guard control(control_);
  if (!playing_.load()) return 1;
  record_.stop();
  closeSoundLocked();
  picWidth_.store(0);
  picHeight_.store(0);
  stopPacingTimer(timer_);
  playing_.store(0);
  wake_->signal();
  if (decodeThread_.joinable()) decodeThread_.join();
  wake_.reset();
  {
    std::lock_guard render(renderLock_);
    renderer_.reset();
    lastPicture_.reset();
  }
  joinAudioThread();
  platform::Hi264DecDestroy(decoder_);
  decoder_ = nullptr;
  std::lock_guard lock(videoLock_);
  videoQueue_.clear();
  return 1;
}

int32_t CNetH264StreamPlay::setPlayWnd(void* window) {
  if (window == nullptr) return 0;
  window_.store(window);
  return 1;
}

intptr_t CNetH264StreamPlay::getPlayWnd() { return reinterpret_cast<intptr_t>(window_.load()); }

int32_t CNetH264StreamPlay::refreshLastPicture() {
  std::lock_guard render(renderLock_);
  if (picWidth_.load() == 0 || lastPicture_ == nullptr) return 0;
  if (renderer_.renderPicture(planesOf(*lastPicture_), window_.load())) {
    renderer_.present();
    counters_.picturesPresented.fetch_add(1);
  }
  return 1;
}

int32_t CNetH264StreamPlay::inputNetFrame(const uint8_t* frame, int32_t length) {
  if (length < 0 || !isWholeFrame(frame, static_cast<size_t>(length))) return 0;
  record_.onFrame(frame, picWidth_.load(), picHeight_.load());
  if (!playing_.load()) return 0;
  counters_.framesIn.fetch_add(1);
  const FrameHeader h = parseFrameHeader(frame);
  if (h.frameType == FRAME_AUDIO_ADPCM || h.frameType == FRAME_AUDIO_ALAW) {
    if (isValidAudioBlock(h.frameType, h.payloadLength) && soundOn_.load()) {
      MediaFrame copy = copyFrame(frame, length);
      {
        std::lock_guard lock(audioLock_);
        audioQueue_.push_back(std::move(copy));
      }
      counters_.audioQueued.fetch_add(1);
      audioWake_.signal();
    } else {
      counters_.droppedAudio.fetch_add(1);
    }
    return 1;
  }
  queueVideo(frame, length, h.frameType);
  return 1;
}

void CNetH264StreamPlay::queueVideo(const uint8_t* frame, int32_t length, uint8_t type) {
  // The copy is made before the lock; a frame that is then dropped costs one
  // allocation but the link's thread never copies while holding the lock.
  MediaFrame copy = copyFrame(frame, length);
  std::deque<MediaFrame> discarded;
  {
    std::lock_guard lock(videoLock_);
    const int32_t n = static_cast<int32_t>(videoQueue_.size());
    const bool key = type == FRAME_H264_KEY;
    if (!dropMode_) {
      if (n < kQueueLimit) {
        videoQueue_.push_back(std::move(copy));
      } else if (!key) {
        dropMode_ = true;
        counters_.droppedOverflow.fetch_add(1);
        return;
      } else {
        discarded.swap(videoQueue_);
        counters_.droppedFlushed.fetch_add(static_cast<uint32_t>(n));
        videoQueue_.push_back(std::move(copy));
      }
    } else if (key && n < kDropModeLimit) {
      videoQueue_.push_back(std::move(copy));
      dropMode_ = false;
    } else {
      counters_.droppedOverflow.fetch_add(1);
      return;
    }
    counters_.videoQueued.fetch_add(1);
  }
  // discarded frames are freed here, outside the lock
}

int32_t CNetH264StreamPlay::getListFrameNum() {
  std::lock_guard lock(videoLock_);
  return static_cast<int32_t>(videoQueue_.size());
}

bool CNetH264StreamPlay::takeUsableFrame(MediaFrame& out) {
  std::lock_guard lock(videoLock_);
  const size_t n = videoQueue_.size();
  for (size_t i = 0; i < n; ++i) {
    MediaFrame f = std::move(videoQueue_.front());
    videoQueue_.pop_front();
    const uint8_t type = f.type();
    if (type != FRAME_H264_KEY && type != FRAME_H264_DELTA) {
      counters_.droppedUnusable.fetch_add(1);
      continue;
    }
    if (keySeen_ || type == FRAME_H264_KEY) {
      keySeen_ = true;
      out = std::move(f);
      return true;
    }
    counters_.droppedUnusable.fetch_add(1);
  }
  return false;
}

void CNetH264StreamPlay::decodeLoop() {
  for (;;) {
    wake_->wait(platform::kWaitForever);
    if (!playing_.load()) return;
    MediaFrame frame;
    if (takeUsableFrame(frame)) {
      platform::H264DecOutput out;
      std::memset(&out, 0, sizeof out);
      const int32_t rc = platform::Hi264DecAU(decoder_, frame.payload(), frame.payloadLength(), 0,
                                              &out, 0);
      const size_t w = out.width, h = out.height;
      const size_t lumaBytes = static_cast<size_t>(out.lumaStride) * h;
      const size_t chromaBytes = static_cast<size_t>(out.chromaStride) * ((h + 1) / 2);
      // A picture that would not fit the picture buffer counts as a decode
      // error; the thread goes on with the next frame.
      if (rc != 0 || out.error != 0 || lumaBytes + 2 * chromaBytes > kPictureBufferBytes) {
        counters_.decodeErrors.fetch_add(1);
      } else {
        std::shared_ptr<const platform::HeldPicture> kept = keepPicture(decoder_, out);
        picWidth_.store(static_cast<int32_t>(w));
        picHeight_.store(static_cast<int32_t>(h));
        std::lock_guard render(renderLock_);
        renderer_.setPictureTime(static_cast<int64_t>(frame.header().timestamp),
                                 frame.header().timeZone);
        // Counted once the picture is the last picture, so a refresh seen
        // after the count shows it.
        lastPicture_ = std::move(kept);
        counters_.picturesDecoded.fetch_add(1);
        if (lastPicture_ != nullptr &&
            renderer_.renderPicture(planesOf(*lastPicture_), window_.load())) {
          renderer_.present();
          counters_.picturesPresented.fetch_add(1);
        }
      }
    }
    if (getListFrameNum() > kBacklogPauseFrames) platform::sleepMs(kBacklogPauseMs, platform::systemClock());
  }
}

int32_t CNetH264StreamPlay::openSound() {
  std::lock_guard control(control_);
  if (soundOn_.load()) return 0;
  if (waveOut_.openOutput() == 0) return 0;
  playbackAdpcm_ = AdpcmState{};
  soundOn_.store(1);
  try {
    startAudioThread();
  } catch (...) {
    soundOn_.store(0);
    waveOut_.closeOutput();
    throw;
  }
  return 0;
}

int32_t CNetH264StreamPlay::closeSound() {
  std::lock_guard control(control_);
  return closeSoundLocked();
}

int32_t CNetH264StreamPlay::closeSoundLocked() {
  if (!soundOn_.load()) return 1;
  soundOn_.store(0);
  joinAudioThread();
  waveOut_.closeOutput();
  std::deque<MediaFrame> left;
  {
    std::lock_guard lock(audioLock_);
    left.swap(audioQueue_);
  }
  return 1;
}

void CNetH264StreamPlay::startAudioThread() {
  joinAudioThread();
  audioThread_ = platform::startThread([this] { audioLoop(); });
}

void CNetH264StreamPlay::joinAudioThread() {
  if (!audioThread_.joinable()) return;
  audioWake_.signal();  // it looks at playing_ and soundOn_ again
  audioThread_.join();
}

void CNetH264StreamPlay::audioLoop() {
  int16_t pcm[ALAW_BLOCK_BYTES > 2 * ADPCM_BLOCK_BYTES ? ALAW_BLOCK_BYTES : 2 * ADPCM_BLOCK_BYTES];
  while (playing_.load() && soundOn_.load()) {
    MediaFrame block;
    {
      std::lock_guard lock(audioLock_);
      if (!audioQueue_.empty()) {
        block = std::move(audioQueue_.front());
        audioQueue_.pop_front();
      }
    }
    if (block.bytes == nullptr) {
      audioWake_.wait(platform::kWaitForever);
      continue;
    }
    if (block.type() == FRAME_AUDIO_ADPCM && block.payloadLength() == ADPCM_BLOCK_BYTES) {
      adpcmDecode(playbackAdpcm_, block.payload(), ADPCM_BLOCK_BYTES, pcm);
      waveOut_.queuePcm(2 * 2 * ADPCM_BLOCK_BYTES, pcm);
    } else if (block.type() == FRAME_AUDIO_ALAW && block.payloadLength() == ALAW_BLOCK_BYTES) {
      alawExpand(block.payload(), ALAW_BLOCK_BYTES, pcm);
      waveOut_.queuePcm(2 * ALAW_BLOCK_BYTES, pcm);
    }
  }
}

int32_t CNetH264StreamPlay::setOsdString(int32_t index, const OsdItem* item) {
  if (item == nullptr) return 0;
  std::lock_guard render(renderLock_);
  return renderer_.setOsdString(index, item);
}

int32_t CNetH264StreamPlay::removeOsdstring(int32_t index) {
  std::lock_guard render(renderLock_);
  return renderer_.removeOsdstring(index);
}

int32_t CNetH264StreamPlay::capturePicture(const char* fileName) {
  if (!playing_.load() || fileName == nullptr) return 0;
  return renderer_.capturePicture(fileName);
}

int32_t CNetH264StreamPlay::capturePictureBuf(uint8_t* buffer) {
  if (!playing_.load() || buffer == nullptr) return 0;
  return renderer_.capturePictureBuf(buffer);
}

int32_t CNetH264StreamPlay::getPlayPicSize(int32_t* width, int32_t* height) {
  if (!playing_.load() || width == nullptr || height == nullptr) return 0;
  renderer_.getPlayPicSize(width, height);
  return 1;
}

int32_t CNetH264StreamPlay::adjustViewArea(int32_t left, int32_t right, int32_t top,
                                           int32_t bottom) {
  std::lock_guard render(renderLock_);
  return renderer_.adjustViewArea(left, right, top, bottom);
}

int32_t CNetH264StreamPlay::setRenderEffect(int32_t effect) {
  std::lock_guard render(renderLock_);
  return renderer_.setRenderEffect(effect);
}

int32_t CNetH264StreamPlay::renderActualProportion(int32_t on) {
  std::lock_guard render(renderLock_);
  return renderer_.renderActualProportion(on);
}

int32_t CNetH264StreamPlay::startlocalrecord(RecordStartParams params) {
  return record_.start(params, picWidth_.load(), picHeight_.load());
}

int32_t CNetH264StreamPlay::stoplocalrecord() { return record_.stop(); }

int32_t CNetH264StreamPlay::getrecordstatus() { return record_.status(); }

int32_t CNetH264StreamPlay::getCounters(PlayerCounters* counters) {
  if (counters == nullptr) return 0;
  counters_.snapshot(*counters);
  counters->queueDepth = static_cast<uint32_t>(getListFrameNum());
  counters->width = static_cast<uint32_t>(picWidth_.load());
  counters->height = static_cast<uint32_t>(picHeight_.load());
  counters->recordRestarts = record_.restarts();
  return 1;
}

}  // namespace tavolen
