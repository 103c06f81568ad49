#include "player/net_jpeg_stream_play.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/thread.h"
#include "render/osd_text.h"

namespace tavolen {

TextBand jpegTextBand(int32_t position, int32_t w, int32_t h, const OsdRect& r) {
  switch (position) {
    case 10: return {5, 5, w - 5, 29, 0};
    case 11: return {5, 5, w - 5, 29, 2};
    case 12: return {5, h - 29, w - 5, h - 5, 0};
    case 13: return {5, h - 29, w - 5, h - 5, 2};
    case 14: return {5, h / 2 - 12, w - 5, h / 2 + 12, 1};
    default: return {r.left, r.top, r.right, r.bottom, 0};
  }
}

std::string osdTimeText(const char* prefix, uint32_t timestamp, int8_t timeZone) {
  const uint32_t t = timestamp - static_cast<uint32_t>(static_cast<int32_t>(timeZone) * 3600);
  const time_t seconds = static_cast<time_t>(t);
  tm parts{};
  gmtime_r(&seconds, &parts);
  char buf[256];
  std::snprintf(buf, sizeof buf, "%.127s%04d-%02d-%02d %02d:%02d:%02d", prefix,
                parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                parts.tm_min, parts.tm_sec);
  return buf;
}

namespace {

// The item's text field, bounded by its width even without a terminator.
std::string itemText(const OsdItem& item) {
  return std::string(item.text, strnlen(item.text, sizeof item.text));
}

}  // namespace

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
  const int n = static_cast<int>(queue_.size());
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
  const int32_t mode = flipMode_.load();
  if (mode < 1 || mode > 3 || pic.width == 0) return;
  uint32_t* px = reinterpret_cast<uint32_t*>(pic.pixels.data());
  const int w = pic.width, h = pic.height;
  if (mode & 1)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w / 2; ++x) std::swap(px[y * w + x], px[y * w + (w - 1 - x)]);
  if (mode & 2)
    for (int y = 0; y < h / 2; ++y)
      std::swap_ranges(px + y * w, px + (y + 1) * w, px + (h - 1 - y) * w);
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
  for (int i = 0; i < 16; ++i) {
    if (!slots.enabled[i]) continue;
    const OsdItem& item = slots.items[i];
    std::string text;
    if (item.kind == 1) {
      if (!refreshing)
        cachedTimeText_ = osdTimeText(itemText(item).c_str(), header.timestamp, header.timeZone);
      text = cachedTimeText_;
    } else {
      text = itemText(item);
    }
    if (!drawing) continue;
    const TextBand band = jpegTextBand(item.position, W, H, item.rect);
    const platform::TextAlign align = band.format == 2   ? platform::TextAlign::Right
                                      : band.format == 1 ? platform::TextAlign::Centre
                                                         : platform::TextAlign::Left;
    surface_.drawText(item, decodeUtf8(text.data(), text.size()),
                      platform::WindowRect{band.left, band.top, band.right, band.bottom}, align);
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
  if (index < 0 || index > 15 || item == nullptr) return 0;
  std::lock_guard lock(slotsLock_);
  std::memcpy(&slots_.items[index], item, sizeof(OsdItem));
  slots_.enabled[index] = true;
  return 1;
}

int32_t CNetJpegStreamPlay::removeOsdstring(int32_t index) {
  if (index < 0 || index > 15) return 0;
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
