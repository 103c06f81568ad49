// CPU cost of recording: a 1080p H.264 stream's access units plus 8 kHz sound
// written through CAviRecorder, against `ffmpeg -c copy -f avi` remuxing the
// same stream and sound in the same run. Both sides read the stream from the
// same file; ours also splits it into access units, as ffmpeg's parser does.
// Figure: CPU seconds (user + system) per second of video; lower is better.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "record/avi_recorder.h"

namespace {

using namespace tavolen;
namespace fs = std::filesystem;

constexpr int kSeconds = 20;
constexpr int kFps = 25;
constexpr int kRuns = 3;

// Advances 40 ms per frame, so the recorder keeps its per-second sync rhythm
// while the benchmark runs as fast as it can.
class StepTime : public platform::TimeSource {
 public:
  uint32_t tickCount() override { return now.load(); }
  uint32_t multimediaTime() override { return now.load(); }
  std::atomic<uint32_t> now{1000};
};

double cpuSeconds(const rusage& r) {
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double selfCpu() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return cpuSeconds(r);
}

// Runs argv to completion; returns its CPU seconds, or -1 when it failed.
double childCpu(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage r{};
  if (wait4(pid, &status, 0, &r) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return cpuSeconds(r);
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::vector<uint8_t> data;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  std::fseek(f, 0, SEEK_END);
  data.resize(static_cast<size_t>(std::max(0L, std::ftell(f))));
  std::fseek(f, 0, SEEK_SET);
  data.resize(std::fread(data.data(), 1, data.size(), f));
  std::fclose(f);
  return data;
}

// Access units of an Annex B stream that opens each with a delimiter.
std::vector<std::pair<size_t, size_t>> splitUnits(const std::vector<uint8_t>& s) {
  std::vector<std::pair<size_t, size_t>> units;
  size_t start = 0;
  bool open = false;
  const uint8_t* base = s.data();
  size_t i = 0;
  while (i + 4 < s.size()) {
    const void* one = std::memchr(base + i + 3, 1, s.size() - i - 4);
    if (!one) break;
    const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(one) - base) - 3;
    if (base[at] == 0 && base[at + 1] == 0 && base[at + 2] == 0 && (base[at + 4] & 0x1F) == 9) {
      if (open) units.emplace_back(start, at - start);
      start = at;
      open = true;
    }
    i = at + 1;
  }
  if (open) units.emplace_back(start, s.size() - start);
  return units;
}

double recordOnce(const std::string& stream, const std::string& sound, const std::string& root, size_t& framesOut) {
  StepTime time;
  CAviRecorder rec(time);
  RecordStartParams params{};
  std::snprintf(params.recordPath, sizeof params.recordPath, "%s", root.c_str());
  std::snprintf(params.deviceFolder, sizeof params.deviceFolder, "bench");
  params.fileLen = 4000;
  params.timeLen = 60;
  const double start = selfCpu();
  const std::vector<uint8_t> h264 = readFile(stream);
  const std::vector<uint8_t> pcm = readFile(sound);
  const auto units = splitUnits(h264);
  if (rec.startRecord(params, 1920, 1080, CAviRecorder::kCodecH264) != 1) return -1;
  const size_t blockBytes = CAviRecorder::kAudioBlockSamples * 2;
  size_t soundAt = 44;  // past the WAVE header
  framesOut = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    if (rec.writeVideo(h264.data() + units[i].first, static_cast<uint32_t>(units[i].second)) != 1) return -1;
    ++framesOut;
    // Sound keeps pace: 8000 samples per 25 frames.
    while (soundAt + blockBytes <= pcm.size() && (soundAt - 44) / 2 <= (i + 1) * 8000 / kFps) {
      int16_t block[CAviRecorder::kAudioBlockSamples];
      std::memcpy(block, pcm.data() + soundAt, blockBytes);
      if (rec.writeAudio(block) != 1) return -1;
      soundAt += blockBytes;
    }
    time.now += 1000 / kFps;
  }
  rec.stopRecord();
  return selfCpu() - start;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/tavolen-bench-record-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string stream = dir + "/in.h264";
  const std::string sound = dir + "/in.wav";
  const std::string peerOut = dir + "/peer.avi";
  const std::string frames = std::to_string(kSeconds * kFps);
  const std::string seconds = std::to_string(kSeconds);

  // Inputs: a 1080p test pattern with a delimiter before every access unit
  // (what the camera sends), and a tone as 8 kHz mono 16-bit sound.
  if (childCpu({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25",
                "-frames:v", frames, "-c:v", "libx264", "-preset", "veryfast", "-x264-params", "aud=1:keyint=50",
                "-pix_fmt", "yuv420p", "-f", "h264", stream}) < 0 ||
      childCpu({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000",
                "-t", seconds, "-ac", "1", "-c:a", "pcm_s16le", sound}) < 0) {
    std::fprintf(stderr, "could not make the input stream with ffmpeg\n");
    return 1;
  }
  std::printf("input: %s bytes of 1080p H.264, %d s\n", std::to_string(fs::file_size(stream)).c_str(), kSeconds);

  double ours = 1e9;
  double peer = 1e9;
  size_t written = 0;
  for (int run = 0; run < kRuns; ++run) {
    const double o = recordOnce(stream, sound, dir + "/ours" + std::to_string(run), written);
    const double p = childCpu({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "h264", "-framerate", "25", "-i",
                               stream, "-i", sound, "-map", "0:v", "-map", "1:a", "-c", "copy", "-f", "avi", peerOut});
    if (o < 0 || p < 0) {
      std::fprintf(stderr, "run %d failed (ours %.3f, ffmpeg %.3f)\n", run, o, p);
      return 1;
    }
    std::printf("run %d: CAviRecorder %.4f s CPU, ffmpeg -c copy -f avi %.4f s CPU (%zu frames)\n", run, o, p,
                written);
    ours = std::min(ours, o);
    peer = std::min(peer, p);
  }
  // For reading the figure: what starting ffmpeg costs before any remuxing.
  const double startup = childCpu({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "nullsrc=s=16x16",
                                   "-frames:v", "1", "-f", "null", "-"});
  std::printf("ffmpeg start-up alone: %.4f s CPU (included in its figure)\n", startup);
  std::error_code ec;
  fs::remove_all(dir, ec);

  const double oursPerSecond = ours / kSeconds;
  const double peerPerSecond = peer / kSeconds;
  const double ratio = peerPerSecond > 0 ? oursPerSecond / peerPerSecond : 0;
  std::printf("best of %d: CAviRecorder %.6f, ffmpeg %.6f CPU s per s of video\n", kRuns, oursPerSecond,
              peerPerSecond);
  std::printf("{\"bench\":\"record\",\"metric\":\"cpu_s_per_video_s\",\"ours\":%.6f,\"peer\":%.6f,"
              "\"peer_name\":\"ffmpeg -c copy -f avi\",\"peer_startup_s\":%.4f,\"ratio\":%.4f,\"better\":\"lower\"}\n",
              oursPerSecond, peerPerSecond, startup, ratio);
  return 0;
}
