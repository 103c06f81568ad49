#include "player/net_jpeg_stream_play.h"

#include <cstdio>
#include <cstring>

#include "platform/thread.h"
#include "render/osd_text.h"

namespace tavolen {

CNetJpegStreamPlay::CNetJpegStreamPlay() = default;

CNetJpegStreamPlay::~CNetJpegStreamPlay() {
  stopPlay();
  closeSound();
  stoplocalrecord();
  stopPacingTimer(timer_);
}

void CNetJpegStreamPlay::onTick(void* self) {
  auto* p = static_cast<CNetJpegStreamPlay*>(self);
  if (p->playing_.load()) p->wake_->signal();
}

int32_t CNetJpegStreamPlay::startPlay() {
  std::lock_guard control(control_);
  if (playing_.load()) return 1;
  auto wake = std::make_unique<platform::Event>(platform::Event::Reset::Auto, false);
  playing_.store(1);
  {
    std::lock_guard draw(drawLock_);
    lastFrame_.clear();
  }
  picWidth_.store(0);
  picHeight_.store(0);
  wake_ = std::move(wake);
  try {
    startPacingTimer(timer_, this, &CNetJpegStreamPlay::onTick);
    displayThread_ = platform::startThread([this] { displayLoop(); },
                                           platform::ThreadPriority::TimeCritical);
  } catch (...) {
    // Nothing started but the timer: the player stays stopped as it was.
    stopPacingTimer(timer_);
    playing_.store(0);
    wake_.reset();
    throw;
  }
  return 1;
}

int32_t CNetJpegStreamPlay::stopPlay() {
  std::lock_guard control(control_);
  if (!playing_.load()) return 1;
  record_.stop();
  if (soundOn_.load()) {
    soundOn_.store(0);
    waveOut_.closeOutput();
  }
  stopPacingTimer(timer_);
  playing_.store(0);
  wake_->signal();
  if (displayThread_.joinable()) displayThread_.join();
  wake_.reset();
  {
    std::lock_guard draw(drawLock_);
    lastFrame_.clear();
  }
  std::deque<MediaFrame> left;
  std::lock_guard lock(queueLock_);
  left.swap(queue_);
  return 1;
}

int32_t CNetJpegStreamPlay::setPlayWnd(void* window) {
  window_.store(window);
  return 1;
}

intptr_t CNetJpegStreamPlay::getPlayWnd() { return reinterpret_cast<intptr_t>(window_.load()); }

int32_t CNetJpegStreamPlay::inputNetFrame(const uint8_t* frame, int32_t length) {
  if (length < 0 || !isWholeFrame(frame, static_cast<size_t>(length))) return 0;
  record_.onFrame(frame, picWidth_.load(), picHeight_.load());
  if (!playing_.load()) return 0;
  counters_.framesIn.fetch_add(1);
  const FrameHeader h = parseFrameHeader(frame);
  if (h.frameType == FRAME_AUDIO_ADPCM) {
    if (h.payloadLength == ADPCM_BLOCK_BYTES && soundOn_.load()) {
      // Every block decodes from the reset state, so a state of its own per
      // call is the same as the player's and cannot race a sound switch.
      int16_t pcm[2 * ADPCM_BLOCK_BYTES];
      AdpcmState state;
      adpcmDecode(state, frame + FRAME_HEADER_SIZE, ADPCM_BLOCK_BYTES, pcm);
      waveOut_.queuePcm(4 * ADPCM_BLOCK_BYTES, pcm);
      counters_.audioQueued.fetch_add(1);
    } else {
      counters_.droppedAudio.fetch_add(1);
    }
    return 1;
  }
  MediaFrame copy = copyFrame(frame, length);
  std::deque<MediaFrame> discarded;
  std::lock_guard lock(queueLock_);
  const int32_t n = static_cast<int32_t>(queue_.size());
  if (n >= kDropAt) {
    counters_.droppedOverflow.fetch_add(1);
    return 1;
  }
  if (n > kFlushAbove) {
    discarded.swap(queue_);
    counters_.droppedFlushed.fetch_add(static_cast<uint32_t>(n));
  }
  queue_.push_back(std::move(copy));
  counters_.videoQueued.fetch_add(1);
  return 1;
}

bool CNetJpegStreamPlay::takeJpeg(MediaFrame& out) {
  std::lock_guard lock(queueLock_);
  const size_t n = queue_.size();
  for (size_t i = 0; i < n; ++i) {
    MediaFrame f = std::move(queue_.front());
    queue_.pop_front();
    if (f.type() == FRAME_JPEG) {
      out = std::move(f);
      return true;
    }
    counters_.droppedUnusable.fetch_add(1);
  }
  return false;
}

void CNetJpegStreamPlay::displayLoop() {
  // One picture for the thread's life, so its pixels are not allocated anew
  // for every frame.
  platform::JpegPicture pic;
  for (;;) {
    wake_->wait(platform::kWaitForever);
    if (!playing_.load()) return;
    MediaFrame frame;
    if (!takeJpeg(frame)) continue;
    const FrameHeader header = frame.header();
    {
      std::lock_guard draw(drawLock_);
      lastFrame_.assign(frame.bytes.get(), frame.bytes.get() + frame.length);
    }
    if (snapshotPending_.load()) {
      std::string name;
      {
        std::lock_guard lock(snapshotLock_);
        name = snapshotFile_;
      }
      if (FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(frame.payload(), 1, frame.payloadLength(), f);
        std::fclose(f);
      }
      snapshotDone_.signal();
    }
    if (displayCodec_.decode(frame.payload(), frame.payloadLength(), pic))
      counters_.picturesDecoded.fetch_add(1);
    else
      counters_.decodeErrors.fetch_add(1);
    if (record_.status() && pic.width != picWidth_.load())
      record_.restartIfRecording(pic.width, pic.height);
    picWidth_.store(pic.width);
    picHeight_.store(pic.height);
    applyFlip(pic);
    std::lock_guard draw(drawLock_);
    drawPicture(pic, header, false);
  }
}

void CNetJpegStreamPlay::applyFlip(platform::JpegPicture& pic) const {
  platform::mirrorPicture(pic.pixels.data(), static_cast<ptrdiff_t>(pic.width) * 4, pic.width,
                          pic.height, platform::mirrorForEffect(flipMode_.load()));
}

void CNetJpegStreamPlay::drawPicture(const platform::JpegPicture& pic, const FrameHeader& header,
                                     bool refreshing) {
  // No window (or a window that is gone): nothing is drawn, pictures still
  // advance, the cached time text included.
  const bool drawing = surface_.begin(window_.load());
  const int32_t W = surface_.width(), H = surface_.height();
  if (drawing) surface_.drawPicture(pic);
  Slots slots;
  {
    std::lock_guard lock(slotsLock_);
    slots = slots_;
  }
  const std::string timeText =
      osdTimeText(header.timestamp, header.timeZone, OsdTimeRange::Unsigned32);
  for (int i = 0; i < OSD_SLOT_COUNT; ++i) {
    if (!slots.enabled[i]) continue;
    const OsdItem& item = slots.items[i];
    std::u32string text;
    if (item.kind == OsdKindTimeStamp) {
      if (!refreshing) cachedTimeText_ = osdItemText(item, timeText);
      text = cachedTimeText_;
    } else {
      text = osdItemText(item, {});
    }
    if (!drawing) continue;
    surface_.drawText(item, text, osdPlacement(item.position, item.rect, W, H, kJpegOsdBandHeight));
  }
  if (drawing && surface_.show()) counters_.picturesPresented.fetch_add(1);
}

int32_t CNetJpegStreamPlay::refreshLastPicture() {
  std::lock_guard draw(drawLock_);
  if (lastFrame_.size() < FRAME_HEADER_SIZE) return 0;
  const FrameHeader header = parseFrameHeader(lastFrame_.data());
  if (header.payloadLength == 0) return 0;
  platform::JpegPicture pic;
  refreshCodec_.decode(lastFrame_.data() + FRAME_HEADER_SIZE, header.payloadLength, pic);
  picWidth_.store(pic.width);
  picHeight_.store(pic.height);
  applyFlip(pic);
  if (platform::windowHandles().share(window_.load()) == nullptr) return 0;
  drawPicture(pic, header, true);
  return 1;
}

int32_t CNetJpegStreamPlay::openSound() {
  std::lock_guard control(control_);
  if (soundOn_.load()) return 1;
  if (waveOut_.openOutput() == 0) return 0;
  soundOn_.store(1);
  record_.restartIfRecording(picWidth_.load(), picHeight_.load());
  return 1;
}

int32_t CNetJpegStreamPlay::closeSound() {
  std::lock_guard control(control_);
  if (!soundOn_.load()) return 1;
  soundOn_.store(0);
  waveOut_.closeOutput();
  record_.restartIfRecording(picWidth_.load(), picHeight_.load());
  return 1;
}

int32_t CNetJpegStreamPlay::setOsdString(int32_t index, const OsdItem* item) {
  if (index < 0 || index >= OSD_SLOT_COUNT || item == nullptr) return 0;
  std::lock_guard lock(slotsLock_);
  std::memcpy(&slots_.items[index], item, sizeof(OsdItem));
  slots_.enabled[index] = true;
  return 1;
}

int32_t CNetJpegStreamPlay::removeOsdstring(int32_t index) {
  if (index < 0 || index >= OSD_SLOT_COUNT) return 0;
  std::lock_guard lock(slotsLock_);
  std::memset(&slots_.items[index], 0, sizeof(OsdItem));
  slots_.enabled[index] = false;
  return 1;
}

int32_t CNetJpegStreamPlay::capturePicture(const char* fileName) {
  if (fileName == nullptr) return 0;
  int32_t expected = 0;
  {
    std::lock_guard lock(snapshotLock_);
    if (snapshotPending_.load()) return 0;
    snapshotDone_.reset();
    snapshotFile_ = fileName;
    if (!snapshotPending_.compare_exchange_strong(expected, 1)) return 0;
  }
  const bool done = snapshotDone_.wait(kSnapshotWaitMs);
  snapshotPending_.store(0);
  return done ? 1 : 0;
}

int32_t CNetJpegStreamPlay::setRenderEffect(int32_t effect) {
  flipMode_.store(effect);
  return 1;
}

int32_t CNetJpegStreamPlay::startlocalrecord(RecordStartParams params) {
  return record_.start(params, picWidth_.load(), picHeight_.load());
}

int32_t CNetJpegStreamPlay::stoplocalrecord() { return record_.stop(); }

int32_t CNetJpegStreamPlay::getrecordstatus() { return record_.status(); }

int32_t CNetJpegStreamPlay::getCounters(PlayerCounters* counters) {
  if (counters == nullptr) return 0;
  counters_.snapshot(*counters);
  {
    std::lock_guard lock(queueLock_);
    counters->queueDepth = static_cast<uint32_t>(queue_.size());
  }
  counters->width = static_cast<uint32_t>(picWidth_.load());
  counters->height = static_cast<uint32_t>(picHeight_.load());
  counters->recordRestarts = record_.restarts();
  return 1;
}

}  // namespace tavolen
