// Viewer-side CPU per second of live video: the substitute camera (its own
// process) streams a pre-encoded 1080p25 and a 720p25 main-profile file into
// link + H.264 player + off-screen window of the picture's size; the peer is
// `ffmpeg -threads 1` decoding the same file to nowhere, in the same run.
#include <cstdio>

#include "view_rig.h"

namespace {

constexpr int kSeconds = 10;     // length of each encoded file
constexpr double kMeasure = 10;  // seconds of viewing measured per size

struct Result {
  double ours;  // CPU seconds per second of video shown
  double peer;  // CPU seconds per second of video decoded
  uint32_t shown;
  uint32_t dropped;
};

Result run(int w, int h) {
  const std::string file = bench::encodeStream(w, h, kSeconds);
  Result r{};
  {
    const std::string profile = "0=" + std::to_string(w) + "x" + std::to_string(h) + "@25";
    bench::Camsim camsim({"--profile", profile, "--video-file", file});
    bench::View view(camsim.port, 0, w, h);
    // Start counting once pictures flow, so that connecting is not measured.
    while (view.counters().picturesPresented < 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const PlayerCounters c0 = view.counters();
    const double cpu0 = bench::processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(kMeasure));
    const double cpu1 = bench::processCpuSeconds();
    const PlayerCounters c1 = view.counters();
    r.shown = c1.picturesPresented - c0.picturesPresented;
    r.dropped = (c1.droppedOverflow - c0.droppedOverflow) + (c1.droppedFlushed - c0.droppedFlushed);
    r.ours = (cpu1 - cpu0) / (r.shown / 25.0);
  }
  const double peerCpu = bench::childCpuSeconds({"ffmpeg", "-nostdin", "-v", "error", "-threads",
                                                 "1", "-f", "h264", "-i", file, "-f", "null", "-"});
  r.peer = peerCpu / kSeconds;
  std::printf("%dx%d: ours %.4f cpu-s per video-s (%u pictures shown, %u dropped), ffmpeg %.4f, ratio %.3f\n",
              w, h, r.ours, r.shown, r.dropped, r.peer, r.ours / r.peer);
  std::fflush(stdout);
  return r;
}

}  // namespace

int main() {
  x_player_initPlayLib();
  device_net_work_init();
  const Result fullHd = run(1920, 1080);
  const Result hd = run(1280, 720);
  device_net_work_deInit();
  bench::removeScratch();
  std::printf("{\"bench\":\"live\",\"unit\":\"cpu_s_per_video_s\",\"ours\":%.4f,\"peer\":%.4f,"
              "\"ratio\":%.3f,\"ours_720p\":%.4f,\"peer_720p\":%.4f,\"ratio_720p\":%.3f,"
              "\"better\":\"lower\"}\n",
              fullHd.ours, fullHd.peer, fullHd.ours / fullHd.peer, hd.ours, hd.peer,
              hd.ours / hd.peer);
  return 0;
}
