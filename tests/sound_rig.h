#pragma once
// What the sound tests need from the test rig (tests/rig/run.sh): the sink's
// monitor to record what was played, the pipe source to feed the microphone,
// the sound server's own view of streams, volumes and mutes, and the ALSA
// configuration without any card.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tavolen::test {

inline const char* rigValue(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

// Fails the calling test (rather than reaching for the machine's own sound
// devices) when the suite was started outside the rig.
#define TAVOLEN_REQUIRE_SOUND_RIG()                                                   \
  do {                                                                                \
    if (!::tavolen::test::rigValue("TAVOLEN_RIG_MIC") || !::tavolen::test::rigValue("PULSE_SERVER")) \
      FAIL() << "sound tests run inside the test rig: tests/rig/run.sh ctest ...";     \
  } while (0)

// Points ALSA at a configuration with no card at all. Call before the first
// ALSA use of the process (ALSA reads its configuration once).
inline void useAlsaWithoutCard() {
  const char* path = rigValue("TAVOLEN_RIG_NOCARD");
  setenv("ALSA_CONFIG_PATH", path ? path : TAVOLEN_NOCARD_CONF, 1);
}

// Output of a shell command (the server's own tools).
inline std::string commandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return out;
  char buf[1024];
  while (fgets(buf, sizeof buf, pipe)) out += buf;
  pclose(pipe);
  return out;
}

inline int countLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Streams the server currently plays from us (sink inputs) or records for us
// (source outputs).
inline int sinkInputCount() { return countLines(commandOutput("pactl list short sink-inputs")); }
inline int sourceOutputCount() { return countLines(commandOutput("pactl list short source-outputs")); }

// Polls until pred holds or ms pass.
template <typename Pred>
bool eventually(Pred pred, int ms = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Records the default sink's monitor (everything played) as 8000 Hz mono s16.
class MonitorRecorder {
 public:
  MonitorRecorder() {
    const char* monitor = rigValue("TAVOLEN_RIG_MONITOR");
    if (!monitor || pipe(fds_) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds_[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds_[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::string device = std::string("--device=") + monitor;
    const char* argv[] = {"parec", device.c_str(), "--raw", "--format=s16le", "--rate=8000",
                          "--channels=1", "--latency-msec=20", nullptr};
    if (posix_spawnp(&pid_, "parec", &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds_[1]);
    if (pid_ < 0) return;
    reader_ = std::thread([this] { readLoop(); });
  }
  ~MonitorRecorder() { stop(); }

  bool started() const { return pid_ > 0; }

  // Waits until at least n samples have been recorded.
  bool waitFor(size_t n, int ms) {
    return eventually([&] { return size() >= n; }, ms);
  }
  size_t size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return samples_.size();
  }
  std::vector<int16_t> samples() const {
    std::lock_guard<std::mutex> guard(lock_);
    return samples_;
  }

  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    if (fds_[0] >= 0) close(fds_[0]);
    fds_[0] = -1;
  }

 private:
  void readLoop() {
    uint8_t buf[4096];
    std::vector<uint8_t> carry;
    for (;;) {
      const ssize_t n = read(fds_[0], buf, sizeof buf);
      if (n <= 0) break;
      carry.insert(carry.end(), buf, buf + n);
      const size_t whole = carry.size() / 2;
      std::lock_guard<std::mutex> guard(lock_);
      for (size_t i = 0; i < whole; ++i)
        samples_.push_back(static_cast<int16_t>(carry[2 * i] | (carry[2 * i + 1] << 8)));
      carry.erase(carry.begin(), carry.begin() + static_cast<ptrdiff_t>(whole * 2));
    }
  }

  int fds_[2] = {-1, -1};
  pid_t pid_ = -1;
  std::thread reader_;
  mutable std::mutex lock_;
  std::vector<int16_t> samples_;
};

// Writes a signal into the microphone (the pipe source) at the pace it would
// be spoken, 512 samples every 64 ms, then silence until stopped.
class MicFeeder {
 public:
  explicit MicFeeder(std::vector<int16_t> signal) : signal_(std::move(signal)) {
    const char* mic = rigValue("TAVOLEN_RIG_MIC");
    if (mic) fd_ = open(mic, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) writer_ = std::thread([this] { run(); });
  }
  ~MicFeeder() { stop(); }

  bool started() const { return fd_ >= 0; }
  void stop() {
    stop_ = true;
    if (writer_.joinable()) writer_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  void run() {
    constexpr size_t kChunk = 512;
    std::vector<int16_t> silence(kChunk, 0);
    auto next = std::chrono::steady_clock::now();
    for (size_t at = 0; !stop_; at += kChunk) {
      const int16_t* from = at < signal_.size() ? signal_.data() + at : silence.data();
      const size_t n = at < signal_.size() ? std::min(kChunk, signal_.size() - at) : kChunk;
      const uint8_t* bytes = reinterpret_cast<const uint8_t*>(from);
      size_t left = n * 2;
      while (left > 0 && !stop_) {
        const ssize_t w = write(fd_, bytes, left);
        if (w > 0) {
          bytes += w;
          left -= static_cast<size_t>(w);
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
      }
      next += std::chrono::milliseconds(64);
      std::this_thread::sleep_until(next);
    }
  }

  std::vector<int16_t> signal_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread writer_;
};

// A deterministic test signal: a tone gliding from 300 to 1500 Hz with a little
// pseudo-random dither, so that every stretch of it occurs only once.
inline std::vector<int16_t> glidingTone(size_t n, uint32_t seed = 1) {
  std::vector<int16_t> out(n);
  double phase = 0;
  uint32_t lcg = seed;
  for (size_t i = 0; i < n; ++i) {
    const double f = 300 + 1200.0 * static_cast<double>(i) / static_cast<double>(n);
    phase += 2 * 3.14159265358979 * f / 8000.0;
    lcg = lcg * 1664525u + 1013904223u;
    const int dither = static_cast<int>(lcg >> 26) - 32;
    out[i] = static_cast<int16_t>(7000 * std::sin(phase) + dither);
  }
  return out;
}

// Index of needle's first occurrence in haystack, or -1.
inline long findRun(const std::vector<int16_t>& haystack, const int16_t* needle, size_t n) {
  if (n == 0 || haystack.size() < n) return -1;
  auto it = std::search(haystack.begin(), haystack.end(), needle, needle + n);
  return it == haystack.end() ? -1 : static_cast<long>(it - haystack.begin());
}

}  // namespace tavolen::test
