#pragma once
// What the viewing benchmarks share: pre-encoded H.264 files, the substitute
// camera as a separate process streaming such a file, and a live view (link
// + H.264 player + off-screen window of the picture's size) through the C API.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tavolen/tavolen.h"
#include "../tools/common/loopback_port.h"

namespace bench {

inline std::string selfDir() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  self[n] = '\0';
  std::string dir(self);
  return dir.substr(0, dir.rfind('/'));
}

inline std::string scratch() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/tavolen-bench-XXXXXX";
    const char* d = mkdtemp(tmpl);
    return std::string(d != nullptr ? d : "/tmp");
  }();
  return dir;
}

inline void removeScratch() {
  const std::string cmd = "rm -rf '" + scratch() + "'";
  if (scratch() != "/tmp") (void)std::system(cmd.c_str());
}

// seconds of the test pattern at 25/s, main profile, no B-frames, one key
// unit a second: the kind of stream a camera sends.
inline std::string encodeStream(int w, int h, int seconds) {
  const std::string out = scratch() + "/" + std::to_string(w) + "x" + std::to_string(h) + ".h264";
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" +
                          std::to_string(w) + "x" + std::to_string(h) + ":rate=25 -t " +
                          std::to_string(seconds) +
                          " -c:v libx264 -preset veryfast -profile:v main -bf 0 -g 25 "
                          "-pix_fmt yuv420p -f h264 '" + out + "'";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "bench: ffmpeg could not encode %dx%d\n", w, h);
    std::exit(1);
  }
  return out;
}

using tavolen::tools::canConnect;
using tavolen::tools::freeLoopbackPort;

inline pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    std::_Exit(127);
  }
  return pid;
}

// The substitute camera in its own process; its CPU time is not ours.
struct Camsim {
  pid_t pid = -1;
  int port = 0;
  Camsim(const std::vector<std::string>& extra) {
    port = freeLoopbackPort();
    std::vector<std::string> args = {selfDir() + "/../tools/camsim/tavolen-camsim", "--port",
                                     std::to_string(port), "--quiet", "--max-clients", "256"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid = spawn(args);
    for (int i = 0; i < 500 && !canConnect(port); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!canConnect(port)) {
      std::fprintf(stderr, "bench: tavolen-camsim did not start\n");
      std::exit(1);
    }
  }
  ~Camsim() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

inline double processCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

inline int32_t deliver(const uint8_t* frame, int32_t length, void* user) {
  x_player_inputNetFrame(static_cast<PlayerHandle>(user), frame, length);
  return 1;
}

// One live view: link -> H.264 player -> off-screen window, set up and torn
// down in the order a host does it.
struct View {
  TavolenWindow* window = nullptr;
  PlayerHandle player = nullptr;
  DeviceHandle link = nullptr;

  View(int port, int streamId, int w, int h, void* windowHandle = nullptr) {
    window = windowHandle != nullptr ? nullptr : tavolen_window_create_offscreen(w, h);
    player = x_player_createPlayInstance(0);
    x_player_setPlayWnd(player, windowHandle != nullptr ? windowHandle : window);
    x_player_startPlay(player);
    DeviceConnectParams params;
    std::memset(&params, 0, sizeof params);
    std::snprintf(params.user, sizeof params.user, "admin");
    std::snprintf(params.host, sizeof params.host, "127.0.0.1");
    params.port = port;
    link = device_net_work_createInstance(params);
    device_net_work_startStream(link, streamId, deliver, player);
  }
  ~View() {
    device_net_work_stopStream(link);
    device_net_work_destroyInstance(link);
    x_player_stopPlay(player);
    x_player_destroyPlayInstance(player);
    if (window != nullptr) tavolen_window_destroy(window);
  }
  PlayerCounters counters() const {
    PlayerCounters c{};
    x_player_getCounters(player, &c);
    return c;
  }
};

// CPU seconds (user + system) a child command used, or -1.
inline double childCpuSeconds(const std::vector<std::string>& args) {
  const pid_t pid = spawn(args);
  int status = 0;
  rusage ru{};
  if (::wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
         ru.ru_stime.tv_usec / 1e6;
}

}  // namespace bench
