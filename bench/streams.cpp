// How many 640x360 live views (camsim -> link -> H.264 player -> off-screen
// window) this machine sustains at full frame rate with no queue drops,
// against how many concurrent `ffmpeg -re -threads 1` decodes of the same
// stream keep real time. Both counts come from the same search: doubling,
// then halving the gap between the last success and the first failure.
#include <memory>

#include "view_rig.h"

namespace {

constexpr double kTrialSeconds = 3.0;
constexpr int kMaxCount = 96;

// Every view shows at least 95% of the stream's 25 pictures a second, and no
// queue rule dropped anything.
bool oursSustains(int count, int port) {
  std::vector<std::unique_ptr<bench::View>> views;
  for (int i = 0; i < count; ++i) views.push_back(std::make_unique<bench::View>(port, 1, 640, 360));
  // Warm-up: every view has its first pictures.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (auto& v : views)
    while (v->counters().picturesPresented < 5 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::vector<PlayerCounters> before;
  for (auto& v : views) before.push_back(v->counters());
  std::this_thread::sleep_for(std::chrono::duration<double>(kTrialSeconds));
  bool ok = true;
  uint32_t worst = UINT32_MAX, drops = 0;
  for (size_t i = 0; i < views.size(); ++i) {
    const PlayerCounters c = views[i]->counters();
    const uint32_t shown = c.picturesPresented - before[i].picturesPresented;
    const uint32_t dropped = (c.droppedOverflow - before[i].droppedOverflow) +
                             (c.droppedFlushed - before[i].droppedFlushed);
    worst = std::min(worst, shown);
    drops += dropped;
    if (shown < 0.95 * 25 * kTrialSeconds || dropped > 0) ok = false;
  }
  std::printf("  ours %3d views: slowest showed %u of %d pictures, %u dropped -> %s\n", count,
              worst, static_cast<int>(25 * kTrialSeconds), drops, ok ? "real time" : "behind");
  std::fflush(stdout);
  return ok;
}

// ffmpeg's own figure: the last "speed=" of its statistics, output time
// over the wall time since decoding began (its start-up excluded).
double lastSpeed(const std::string& statsFile) {
  FILE* f = std::fopen(statsFile.c_str(), "r");
  if (f == nullptr) return 0;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  const size_t at = text.rfind("speed=");
  return at == std::string::npos ? 0 : std::atof(text.c_str() + at + 6);
}

bool peerSustains(int count, const std::string& file) {
  std::vector<pid_t> pids;
  const std::string seconds = std::to_string(kTrialSeconds);
  for (int i = 0; i < count; ++i) {
    const std::string stats = bench::scratch() + "/stats" + std::to_string(i);
    pids.push_back(bench::spawn({"/bin/sh", "-c",
                                 "exec ffmpeg -nostdin -v error -stats -re -threads 1 -f h264 -i '" +
                                     file + "' -t " + seconds + " -f null - 2> '" + stats + "'"}));
  }
  bool ok = true;
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ok = false;
  }
  double slowest = 10;
  for (int i = 0; i < count; ++i)
    slowest = std::min(slowest, lastSpeed(bench::scratch() + "/stats" + std::to_string(i)));
  ok = ok && slowest >= 0.95;
  std::printf("  ffmpeg %3d decodes: slowest at %.3fx real time -> %s\n", count, slowest,
              ok ? "real time" : "behind");
  std::fflush(stdout);
  return ok;
}

template <typename Trial>
int search(Trial trial) {
  int good = 0, bad = 0;
  for (int n = 12; n <= kMaxCount; n *= 2) {
    if (trial(n)) {
      good = n;
    } else {
      bad = n;
      break;
    }
  }
  if (bad == 0) return good;  // sustained the largest count tried
  if (good == 0) {
    for (int n = bad - 1; n >= 1; --n)
      if (trial(n)) return n;
    return 0;
  }
  while (bad - good > std::max(1, good / 8)) {
    const int mid = (good + bad) / 2;
    (trial(mid) ? good : bad) = mid;
  }
  return good;
}

}  // namespace

int main() {
  x_player_initPlayLib();
  device_net_work_init();
  const std::string file = bench::encodeStream(640, 360, 10);
  int ours = 0;
  {
    bench::Camsim camsim({"--profile", "1=640x360@25", "--video-file", file});
    ours = search([&](int n) { return oursSustains(n, camsim.port); });
  }
  const int peer = search([&](int n) { return peerSustains(n, file); });
  device_net_work_deInit();
  bench::removeScratch();
  std::printf("640x360@25: %d live views sustained, %d concurrent ffmpeg decodes\n", ours, peer);
  std::printf("{\"bench\":\"streams\",\"unit\":\"streams\",\"ours\":%d,\"peer\":%d,\"ratio\":%.3f,"
              "\"better\":\"higher\"}\n",
              ours, peer, peer > 0 ? static_cast<double>(ours) / peer : 0.0);
  return 0;
}
