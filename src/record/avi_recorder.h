#pragma once
// The recorder each player embeds: writes the camera's frames as received
// (H.264 access units or JPEG pictures) and the decoded sound into AVI files
// under <recordPath>/RecordFiles/<YYYYMMDD>/<deviceFolder>/, one file at a time,
// each ended by its size or time limit or by a shortage of free disk space.
//
// Threads: the player calls every operation under its record lock; writes come
// from the thread that delivers frames, start and stop from the caller's
// thread. lock_ serialises them again inside; stopRecord holds it while it
// joins the storage thread, which never takes it. While a file is open one
// storage thread (storage_manager.h) measures the free space into freeMB_ and,
// in cover mode, deletes the oldest day folder; it shares only freeMB_ and
// stopStorage_ with the writing side.
//
// Files are readable at every moment while they are written: a recording cut
// off by a crash keeps its frames (see AviWriter).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/disk.h"
#include "platform/event.h"
#include "platform/time_source.h"
#include "record/avi_writer.h"
#include "tavolen/types.h"

namespace tavolen {

class CAviRecorder {
 public:
  static constexpr uint32_t kCodecH264 = 0;
  static constexpr uint32_t kCodecJpeg = 1;
  static constexpr uint32_t kAudioBlockSamples = 1024;  // one decoded ADPCM block
  // A file that ends up shorter than this is deleted when it is closed.
  static constexpr int64_t kMinKeptFileBytes = 32768;
  static constexpr uint32_t kMinFileLenMB = 100;
  static constexpr uint32_t kMinTimeLenMinutes = 5;
  static constexpr uint32_t kMinReservedMB = 200;
  // The file's sizes and stream lengths are pushed to the disk this often.
  static constexpr uint32_t kSyncIntervalMs = 1000;

  // The clocks and the disk are seams for tests; players use the defaults.
  // segmentLimit: see AviWriter (continuation segments past it).
  explicit CAviRecorder(platform::TimeSource& time = platform::systemTimeSource(),
                        platform::Disk& disk = platform::systemDisk(),
                        uint64_t segmentLimit = AviWriter::kSegmentLimit);
  ~CAviRecorder();
  CAviRecorder(const CAviRecorder&) = delete;
  CAviRecorder& operator=(const CAviRecorder&) = delete;

  // Ends any current file and opens a new one. 1 started, 0 failed.
  int32_t startRecord(const RecordStartParams& params, int32_t width, int32_t height, uint32_t codecKind);
  // Closes the current file (deleting it when under kMinKeptFileBytes) and
  // waits for its storage thread.
  void stopRecord();
  // One video frame as received. 0 when refused (free space below the
  // reserve, size or time limit reached, no file) or when writing failed: the
  // caller then starts the next file and does not write this frame again.
  int32_t writeVideo(const uint8_t* data, uint32_t size);
  // kAudioBlockSamples PCM samples. 1 written, 0 failed (no limit applies).
  int32_t writeAudio(const int16_t* samples);

  // Observers, callable from any thread.
  std::string currentFileName() const;
  uint32_t currentFreeMB() const { return freeMB_.load(); }
  bool isRecording() const;
  struct Limits {
    uint64_t sizeLimitBytes;
    uint32_t timeLimitMs;
    uint32_t reservedMB;
  };
  Limits limits() const;
  uint32_t nextVideoSample() const;
  uint32_t nextAudioSample() const;

  // Effective limits for the fields of RecordStartParams.
  static uint64_t sizeLimitFor(uint32_t fileLenMB);
  static uint32_t timeLimitFor(uint32_t timeLenMinutes);
  static uint32_t reserveFor(uint32_t reservedMB);

 private:
  friend void storageThreadMain(CAviRecorder& recorder);

  void stopRecordLocked();
  void syncIfDue();
  bool measureFreeSpace();

  platform::TimeSource& time_;
  platform::Disk& disk_;

  // Set by startRecord, cleared by stopRecord; guarded by lock_ except where said.
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint32_t frameRate_ = 25;
  uint32_t codecKind_ = 0;
  RecordStartParams params_{};
  std::thread storageThread_;
  std::atomic<int32_t> stopStorage_{0};  // shared with the storage thread
  platform::Event storageWake_{platform::Event::Reset::Manual};  // signalled with stopStorage_
  // recordPath, diskRoot, coverMode and reservedMB are read by the storage
  // thread and change only while it is not running.
  std::string recordPath_;
  std::string diskRoot_;
  bool coverMode_ = false;
  uint32_t reservedMB_ = 0;
  std::atomic<uint32_t> freeMB_{0};  // written by the storage thread; outlives files
  bool freeMeasured_ = false;
  mutable std::mutex lock_;
  uint32_t timeLimitMs_ = 0;
  uint32_t fileStartTick_ = 0;
  uint64_t sizeLimitBytes_ = 0;
  uint64_t bytesWritten_ = 0;
  uint32_t timeBase_ = 0;
  uint32_t framesWritten_ = 0;
  std::string fileName_;
  AviWriter aviFile_;
  uint32_t videoSampleNo_ = 0;
  uint32_t audioSampleNo_ = 0;
  uint32_t lastSyncTick_ = 0;
};

}  // namespace tavolen
