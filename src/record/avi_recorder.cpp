#include "record/avi_recorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/file.h"
#include "platform/thread.h"
#include "record/storage_manager.h"

namespace tavolen {

namespace {

// A fixed-width text field of the record, read up to its NUL or its width.
template <size_t N>
std::string fieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace

uint64_t CAviRecorder::sizeLimitFor(uint32_t fileLenMB) {
  return static_cast<uint64_t>(std::max(fileLenMB, kMinFileLenMB)) << 20;
}

uint32_t CAviRecorder::timeLimitFor(uint32_t timeLenMinutes) {
  if (timeLenMinutes < kMinTimeLenMinutes) return kMinTimeLenMinutes * 60000u;
  const uint64_t ms = static_cast<uint64_t>(timeLenMinutes) * 60000u;
  return static_cast<uint32_t>(std::min<uint64_t>(ms, 0xFFFFFFFFu));
}

uint32_t CAviRecorder::reserveFor(uint32_t reservedMB) { return std::max(reservedMB, kMinReservedMB); }

CAviRecorder::CAviRecorder(platform::TimeSource& time, platform::Disk& disk, uint64_t segmentLimit)
    : time_(time), disk_(disk), aviFile_(segmentLimit) {}

CAviRecorder::~CAviRecorder() { stopRecord(); }

bool CAviRecorder::measureFreeSpace() {
  const std::optional<uint64_t> bytes = disk_.freeBytes(diskRoot_);
  // A failed query keeps the last figure rather than guessing either way.
  if (!bytes) return false;
  freeMB_.store(static_cast<uint32_t>(std::min<uint64_t>(*bytes >> 20, 0xFFFFFFFFu)));
  return true;
}

int32_t CAviRecorder::startRecord(const RecordStartParams& params, int32_t width, int32_t height,
                                  uint32_t codecKind) {
  std::lock_guard<std::mutex> guard(lock_);
  stopRecordLocked();
  if (codecKind != kCodecH264 && codecKind != kCodecJpeg) return 0;

  std::memset(&params_, 0, sizeof params_);
  std::memcpy(&params_, &params, sizeof params_);
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  codecKind_ = codecKind;
  frameRate_ = 25;

  const platform::LocalTime t = time_.localTime();
  recordPath_ = fieldText(params_.recordPath);
  const std::string deviceFolder = fieldText(params_.deviceFolder);

  char day[16];
  std::snprintf(day, sizeof day, "%04d%02d%02d", t.year, t.month, t.day);
  const std::string folder = recordPath_ + "/RecordFiles/" + day + "/" + deviceFolder;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);  // a failure shows at the open

  char name[64];
  std::snprintf(name, sizeof name, "/%04d%02d%02d_%02d%02d%02d_%d.avi", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  fileName_ = folder + name;

  AviWriter::VideoFormat format;
  format.compression = codecKind_ == kCodecH264 ? avi::fourcc("h264") : avi::fourcc("mjpg");
  format.width = width_;
  format.height = height_;
  format.frameRate = frameRate_;
  if (!aviFile_.open(fileName_, format)) {
    // Nothing of ours lies at that name; keep stopRecord from touching it.
    fileName_.clear();
    width_ = height_ = 0;
    return 0;
  }
  markFileInUse(fileName_);

  diskRoot_ = disk_.mountRoot(recordPath_.empty() ? "/" : recordPath_);
  reservedMB_ = reserveFor(params_.reserved);
  sizeLimitBytes_ = sizeLimitFor(params_.fileLen);
  timeLimitMs_ = timeLimitFor(params_.timeLen);

  // Until the storage thread's first figure arrives freeMB would read 0 and
  // refuse the first frames of a recorder's first file; measure once here.
  if (!freeMeasured_) freeMeasured_ = measureFreeSpace();

  timeBase_ = time_.multimediaTime();
  fileStartTick_ = time_.tickCount();
  lastSyncTick_ = fileStartTick_;
  framesWritten_ = 0;
  coverMode_ = params_.cover != 0;
  stopStorage_.store(0);
  storageWake_.reset();
  storageThread_ = platform::startThread([this] { storageThreadMain(*this); });
  return 1;
}

void CAviRecorder::stopRecord() {
  std::lock_guard<std::mutex> guard(lock_);
  stopRecordLocked();
}

void CAviRecorder::stopRecordLocked() {
  aviFile_.close();
  width_ = height_ = 0;
  videoSampleNo_ = audioSampleNo_ = 0;
  fileStartTick_ = 0;
  bytesWritten_ = 0;
  stopStorage_.store(1);
  storageWake_.signal();
  if (storageThread_.joinable()) storageThread_.join();
  if (!fileName_.empty()) {
    unmarkFileInUse(fileName_);
    const int64_t length = platform::fileLength(fileName_);
    if (length >= 0 && length < kMinKeptFileBytes) platform::deleteFile(fileName_);
    fileName_.clear();
  }
}

void CAviRecorder::syncIfDue() {
  const uint32_t now = time_.tickCount();
  if (now - lastSyncTick_ < kSyncIntervalMs) return;
  lastSyncTick_ = now;
  aviFile_.sync();
}

int32_t CAviRecorder::writeVideo(const uint8_t* data, uint32_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!aviFile_.isOpen()) return 0;
  if (size > 0 && data == nullptr) return 0;
  if (reservedMB_ > freeMB_.load()) return 0;
  bytesWritten_ += size;
  if (bytesWritten_ > sizeLimitBytes_) return 0;
  if (time_.tickCount() - fileStartTick_ > timeLimitMs_) return 0;

  // Keep the stream on the wall clock: pad with empty samples up to the
  // number of 40 ms steps since the file began.
  const uint32_t now = time_.multimediaTime();
  if (timeBase_ == 0) {
    timeBase_ = now;
  } else {
    const uint32_t due = (now - timeBase_) / (1000u / frameRate_);
    if (framesWritten_ < due) {
      // A failed filler still takes its sample number.
      aviFile_.writeEmptyVideo(due - framesWritten_);
      videoSampleNo_ += due - framesWritten_;
      framesWritten_ = due;
    }
  }

  const bool ok = aviFile_.writeVideo(data, size);
  ++videoSampleNo_;
  if (!ok) return 0;
  ++framesWritten_;
  syncIfDue();
  return 1;
}

int32_t CAviRecorder::writeAudio(const int16_t* samples) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!aviFile_.isOpen() || samples == nullptr) return 0;
  if (!aviFile_.writeAudio(samples, kAudioBlockSamples)) return 0;
  audioSampleNo_ += kAudioBlockSamples;
  syncIfDue();
  return 1;
}

std::string CAviRecorder::currentFileName() const {
  std::lock_guard<std::mutex> guard(lock_);
  return fileName_;
}

bool CAviRecorder::isRecording() const {
  std::lock_guard<std::mutex> guard(lock_);
  return aviFile_.isOpen();
}

CAviRecorder::Limits CAviRecorder::limits() const {
  std::lock_guard<std::mutex> guard(lock_);
  return Limits{sizeLimitBytes_, timeLimitMs_, reservedMB_};
}

uint32_t CAviRecorder::nextVideoSample() const {
  std::lock_guard<std::mutex> guard(lock_);
  return videoSampleNo_;
}

uint32_t CAviRecorder::nextAudioSample() const {
  std::lock_guard<std::mutex> guard(lock_);
  return audioSampleNo_;
}

}  // namespace tavolen
