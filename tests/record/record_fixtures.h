#pragma once
// Shared pieces of the recording tests: scratch folders, real media made by
// the ffmpeg command-line tool, ffprobe as the independent reader, and the
// clock and disk seams driven by the test.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk.h"
#include "platform/time_source.h"
#include "support/manual_clock.h"
#include "tavolen/types.h"

namespace tavolen::test {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the build's temporary area, removed with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs a shell command; returns its standard output, and its exit status in
// *status when given.
std::string run(const std::string& command, int* status = nullptr);

// Real H.264 access units (Annex B, one picture each) of a test pattern, and
// JPEG pictures of it; made once per size and count, then reused.
const std::vector<Bytes>& h264AccessUnits(int width, int height, int frames);
const std::vector<Bytes>& jpegPictures(int width, int height, int frames);

// 1024 samples from one 512-byte ADPCM block encoded from a tone.
std::vector<int16_t> decodedSoundBlock(int index);

struct ProbedStream {
  std::string type;  // video / audio
  std::string codec;
  std::string tag;
  std::string frameRate;
  int sampleRate = 0;
  int channels = 0;
  int width = 0;
  int height = 0;
};
std::vector<ProbedStream> probeStreams(const std::string& file);
// Sizes of the packets of stream "v" or "a", in file order (ffmpeg passes
// over empty samples, so each packet also carries its sample number).
std::vector<int64_t> packetSizes(const std::string& file, const std::string& stream);
struct Packet {
  int64_t sample;
  int64_t size;
  bool operator==(const Packet&) const = default;
};
std::vector<Packet> packets(const std::string& file, const std::string& stream);
// A frame of exactly size bytes: a real access unit followed by zero bytes
// (trailing zeros are allowed between H.264 units).
Bytes paddedAccessUnit(uint32_t size);
// Exit status of a full decode that stops at the first error.
int decodeStatus(const std::string& file);
// Pictures produced by decoding the video stream.
int decodedPictures(const std::string& file);

RecordStartParams recordParams(const std::string& root, const std::string& device, uint32_t fileLen = 0,
                               uint32_t timeLen = 0, uint32_t reserved = 0, uint32_t cover = 0);

// All files below dir, recursively, sorted.
std::vector<std::string> filesUnder(const std::string& dir);

// The recorder's clock in a test: moves only when told; waits on it (the
// storage thread's) block until advance() carries it past their limit.
class FakeTime : public platform::TimeSource {
 public:
  uint32_t tickCount() override { return clock_.tickCount(); }
  int poll(pollfd* fds, int count, uint32_t timeoutMs) override {
    return clock_.poll(fds, count, timeoutMs);
  }
  uint32_t multimediaTime() override { return mm_.load(); }
  platform::LocalTime localTime() override;
  // Returns once a thread waiting on this clock has seen the new time.
  void advance(uint32_t ms) {
    mm_ += ms;
    clock_.advance(ms);
  }
  int sleepers() { return clock_.sleepers(); }
  bool waitForSleepers(int n) { return clock_.waitForSleepers(n); }
  void setLocal(const platform::LocalTime& t);

 private:
  ManualClock clock_{false, 5000000};  // this recorder's alone, not the process's
  std::atomic<uint32_t> mm_{7000000};
  std::mutex localLock_;
  platform::LocalTime local_{2023, 7, 4, 18, 5, 9, 42};
};

// Free space and creation times set by the test; everything else is real.
class FakeDisk : public platform::Disk {
 public:
  std::optional<uint64_t> freeBytes(const std::string& path) override;
  int64_t creationTime(const std::string& path) override;
  void setFreeMB(std::optional<uint64_t> mb);
  void setCreationTime(const std::string& path, int64_t seconds);
  int queries() const { return queries_.load(); }

 private:
  std::mutex lock_;
  std::optional<uint64_t> freeMB_ = 100000;
  std::map<std::string, int64_t> created_;
  std::atomic<int> queries_{0};
};

}  // namespace tavolen::test
