// Resident memory per live view, against ffmpeg decoding the same stream.
// For 640x360 and 1080p camera streams (H.264, 25 frames/s, one key unit a
// second, served by the substitute camera in a process of its own), a child
// process of this bench opens one live view and then four (link, H.264
// player, off-screen window of the picture's size; with and without local
// recording) and reports its peak resident memory; `ffmpeg -i FILE -f null -`
// decodes the same file once and four times in one process. Per view is the
// growth from one to four, divided by three, for both: what each further
// stream costs, with the program's own libraries and start-up left out on
// both sides. Last line: JSON for the worst case (highest ratio).
//
// Options: --seconds N, how long each child plays (default 8).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "view_rig.h"

namespace {

// Peak resident memory of this process so far, KiB.
long peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// Child: `views` live views of the camera for `seconds`, recording when asked.
int runViews(int port, int w, int h, int views, bool record, double seconds) {
  device_net_work_init();
  std::vector<std::unique_ptr<bench::View>> open;
  for (int i = 0; i < views; ++i) {
    open.push_back(std::make_unique<bench::View>(port, 1, w, h));
    if (record) {
      RecordStartParams params{};
      std::snprintf(params.recordPath, sizeof params.recordPath, "%s", bench::scratch().c_str());
      std::snprintf(params.deviceFolder, sizeof params.deviceFolder, "view%d", i);
      params.fileLen = 100;
      params.timeLen = 5;
      params.reserved = 0;
      x_player_startlocalrecord(open.back()->player, params);
    }
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  uint32_t pictures = 0;
  for (auto& v : open) pictures += v->counters().picturesDecoded;
  const long peak = peakResidentKiB();
  for (auto& v : open)
    if (record) x_player_stoplocalrecord(v->player);
  open.clear();
  device_net_work_deInit();
  std::printf("%ld %u\n", peak, pictures);
  return 0;
}

// Runs a command and returns its peak resident memory (KiB), -1 on failure;
// its standard output goes to `out` when given.
long childPeakKiB(const std::vector<std::string>& args, std::string* out = nullptr) {
  int pipeFd[2];
  if (::pipe(pipeFd) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFd[1], STDOUT_FILENO);
    ::close(pipeFd[0]);
    ::close(pipeFd[1]);
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::_Exit(127);
  }
  ::close(pipeFd[1]);
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(pipeFd[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(pipeFd[0]);
  int status = 0;
  rusage ru{};
  if (::wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  if (out != nullptr) *out = text;
  return ru.ru_maxrss;
}

// Our peak with `views` views: the child's own report (after the views ran),
// and how many pictures they decoded.
long oursKiB(int port, int w, int h, int views, bool record, double seconds, uint32_t& pictures) {
  std::string out;
  const std::string self = bench::selfDir() + "/bench_soak_memory";
  if (childPeakKiB({self, "--child", std::to_string(port), std::to_string(w), std::to_string(h),
                    std::to_string(views), record ? "1" : "0", std::to_string(seconds)},
                   &out) < 0)
    return -1;
  long peak = -1;
  if (std::sscanf(out.c_str(), "%ld %u", &peak, &pictures) != 2) return -1;
  return peak;
}

long ffmpegKiB(const std::string& file, int streams) {
  std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error"};
  for (int i = 0; i < streams; ++i) {
    args.push_back("-i");
    args.push_back(file);
  }
  for (int i = 0; i < streams; ++i) {
    args.push_back("-map");
    args.push_back(std::to_string(i) + ":v");
    args.push_back("-f");
    args.push_back("null");
    args.push_back("-");
  }
  return childPeakKiB(args);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 8 && std::strcmp(argv[1], "--child") == 0)
    return runViews(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                    std::strcmp(argv[6], "1") == 0, std::atof(argv[7]));
  double seconds = 8;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[++i]);

  struct Size {
    int w, h;
  };
  const Size sizes[] = {{640, 360}, {1920, 1080}};
  std::printf("resident memory per further live view, KiB (peak with 4 views - peak with 1, / 3)\n");
  std::printf("%-10s %-10s %12s %12s %8s %10s\n", "stream", "recording", "ours", "ffmpeg", "ratio", "pictures");
  double worstRatio = 0;
  long worstOurs = 0, worstPeer = 0;
  for (const Size& s : sizes) {
    const std::string file = bench::encodeStream(s.w, s.h, 10);
    const std::string profile = "1=" + std::to_string(s.w) + "x" + std::to_string(s.h) + "@25";
    bench::Camsim camera({"--profile", profile, "--video-file", file});
    const long peer1 = ffmpegKiB(file, 1), peer4 = ffmpegKiB(file, 4);
    const double peer = (peer4 - peer1) / 3.0;
    for (const bool record : {false, true}) {
      uint32_t pictures1 = 0, pictures4 = 0;
      const long ours1 = oursKiB(camera.port, s.w, s.h, 1, record, seconds, pictures1);
      const long ours4 = oursKiB(camera.port, s.w, s.h, 4, record, seconds, pictures4);
      if (ours1 < 0 || ours4 < 0 || peer1 < 0 || peer4 < 0) {
        std::fprintf(stderr, "bench: a run failed\n");
        return 1;
      }
      const double ours = (ours4 - ours1) / 3.0;
      const double ratio = peer > 0 ? ours / peer : 0;
      std::printf("%4dx%-5d %-10s %12.0f %12.0f %8.2f %10u\n", s.w, s.h, record ? "yes" : "no", ours, peer,
                  ratio, pictures4);
      std::fflush(stdout);
      if (ratio > worstRatio) {
        worstRatio = ratio;
        worstOurs = static_cast<long>(ours);
        worstPeer = static_cast<long>(peer);
      }
    }
  }
  bench::removeScratch();
  std::printf("{\"bench\":\"memory\",\"unit\":\"KiB per view\",\"ours\":%ld,\"peer\":%ld,\"ratio\":%.3f,"
              "\"better\":\"lower\"}\n",
              worstOurs, worstPeer, worstRatio);
  return 0;
}
