// tavolen-view: shows one camera live, with a caption and the picture's time,
// sound, snapshots and local recording on keys. With no camera given it starts
// the substitute camera on a free loopback port and shows that. Without a
// display (or with --headless) it draws into an off-screen window and prints
// the player's counters once a second.
//
// Built only on the public C interface (tavolen/tavolen.h).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "crash_dump.h"
#include "tavolen/tavolen.h"

namespace {

std::atomic<bool> gQuit{false};
void onSignal(int) { gQuit = true; }

struct Options {
  std::string host;  // empty: start the substitute camera
  int port = 0;
  std::string user = "admin";
  std::string password;
  int stream = 1;
  int audioStream = 2;
  bool jpeg = false;
  bool headless = false;
  int width = 640;
  int height = 360;
  double seconds = 0;  // 0: until closed
  std::string snapshot;  // headless: write one snapshot here once a picture is shown
  std::string screenshot;  // at the end: the window's contents, text included, as BMP
  std::string recordDir = "recordings";
  std::string caption;
  std::vector<std::string> camsimArgs;
};

void usage() {
  std::fputs(
      "usage: tavolen-view [options]\n"
      "  --host ADDR --port N    the camera (default: start tavolen-camsim on loopback)\n"
      "  --user NAME --password PWD\n"
      "  --stream ID             live stream id (default 1)\n"
      "  --audio-stream ID       audio stream id (default 2)\n"
      "  --jpeg                  use the JPEG player\n"
      "  --size WxH              window size (default 640x360)\n"
      "  --headless              off-screen window, counters printed every second\n"
      "  --seconds N             end after N seconds\n"
      "  --snapshot PATH         write a snapshot to PATH once the first picture is shown\n"
      "  --screenshot PATH       at the end, write what the window shows (BMP)\n"
      "  --record-dir DIR        where 'r' records (default ./recordings)\n"
      "  --caption TEXT          caption text (slot 0)\n"
      "  --camsim-arg ARG        extra argument for the started tavolen-camsim (repeatable)\n"
      "  --version               print the version and exit\n"
      "keys (in the terminal): s sound, p snapshot, r record, c counters, q quit\n",
      stderr);
}

bool parseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tavolen-view: %s needs a value\n", a.c_str());
        return nullptr;
      }
      return argv[++i];
    };
    const char* v = nullptr;
    if (a == "--help" || a == "-h") {
      usage();
      std::exit(0);
    } else if (a == "--version") {
      std::printf("tavolen-view %s\n", TAVOLEN_VERSION);
      std::exit(0);
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--jpeg") {
      o.jpeg = true;
    } else if (a == "--host" || a == "--port" || a == "--user" || a == "--password" ||
               a == "--stream" || a == "--audio-stream" || a == "--size" || a == "--seconds" ||
               a == "--snapshot" || a == "--screenshot" || a == "--record-dir" || a == "--caption" ||
               a == "--camsim-arg") {
      if ((v = value()) == nullptr) return false;
      if (a == "--host") o.host = v;
      else if (a == "--port") o.port = std::atoi(v);
      else if (a == "--user") o.user = v;
      else if (a == "--password") o.password = v;
      else if (a == "--stream") o.stream = std::atoi(v);
      else if (a == "--audio-stream") o.audioStream = std::atoi(v);
      else if (a == "--seconds") o.seconds = std::atof(v);
      else if (a == "--snapshot") o.snapshot = v;
      else if (a == "--screenshot") o.screenshot = v;
      else if (a == "--record-dir") o.recordDir = v;
      else if (a == "--caption") o.caption = v;
      else if (a == "--camsim-arg") o.camsimArgs.push_back(v);
      else if (std::sscanf(v, "%dx%d", &o.width, &o.height) != 2 || o.width < 16 ||
               o.height < 16 || o.width > TAVOLEN_WINDOW_MAX_SIDE ||
               o.height > TAVOLEN_WINDOW_MAX_SIDE) {
        std::fprintf(stderr, "tavolen-view: bad size %s\n", v);
        return false;
      }
    } else {
      std::fprintf(stderr, "tavolen-view: unknown option %s\n", a.c_str());
      usage();
      return false;
    }
  }
  if (o.port < 0 || o.port > 65535) {
    std::fprintf(stderr, "tavolen-view: bad port\n");
    return false;
  }
  return true;
}

// ---- the substitute camera, when no camera is given ----

int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

bool canConnect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

std::string siblingTool(const char* name) {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return name;
  self[n] = '\0';
  std::string dir(self);
  dir.erase(dir.rfind('/'));
  // build/tools/view/tavolen-view next to build/tools/camsim/tavolen-camsim
  for (const std::string& candidate : {dir + "/../camsim/" + name, dir + "/" + name})
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  return name;  // from PATH
}

pid_t startCamsim(int port, const Options& o) {
  const std::string path = siblingTool("tavolen-camsim");
  std::vector<std::string> args = {path, "--port", std::to_string(port), "--quiet"};
  for (const std::string& a : o.camsimArgs) args.push_back(a);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Its own process group, so a Ctrl-C in the terminal reaches us first and
    // we stop it in order.
    ::setpgid(0, 0);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "tavolen-view: cannot start %s\n", path.c_str());
    std::_Exit(127);
  }
  if (pid < 0) return -1;
  for (int i = 0; i < 300 && !canConnect(port); ++i) {
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pid;
}

void stopCamsim(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// ---- keys from the terminal ----

class TerminalKeys {
 public:
  TerminalKeys() {
    if (::isatty(0) && ::tcgetattr(0, &saved_) == 0) {
      termios raw = saved_;
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      raw.c_cc[VMIN] = 0;
      raw.c_cc[VTIME] = 0;
      raw_ = ::tcsetattr(0, TCSANOW, &raw) == 0;
    }
  }
  ~TerminalKeys() {
    if (raw_) ::tcsetattr(0, TCSANOW, &saved_);
  }
  // The next key pressed, or 0.
  char poll() {
    if (!raw_) return 0;
    pollfd p{0, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return 0;
    char c = 0;
    return ::read(0, &c, 1) == 1 ? c : 0;
  }

 private:
  termios saved_{};
  bool raw_ = false;
};

// ---- the view ----

int32_t onFrame(const uint8_t* frame, int32_t length, void* user) {
  x_player_inputNetFrame(static_cast<PlayerHandle>(user), frame, length);
  return 1;
}

void onLinkEvent(int32_t event, void*) {
  const char* what = event == LinkEventStreamConnected       ? "stream connected"
                     : event == LinkEventStreamLost          ? "connecting"
                     : event == LinkEventStreamConnectFailed ? "connect failed"
                     : event == LinkEventBadCredentials      ? "wrong user or password"
                     : event == LinkEventMaxConnections      ? "too many connections"
                     : event == LinkEventVideoLoss           ? "video loss"
                                                             : nullptr;
  if (what != nullptr)
    std::fprintf(stderr, "tavolen-view: %s\n", what);
  else
    std::fprintf(stderr, "tavolen-view: camera event %d\n", event);
}

OsdItem osdText(int32_t position, int32_t kind, const std::string& text, uint8_t r, uint8_t g,
                uint8_t b) {
  OsdItem item;
  std::memset(&item, 0, sizeof item);
  std::snprintf(item.faceName, sizeof item.faceName, "%s", "DejaVu Sans");
  item.fontHeight = 22;
  item.red = r;
  item.green = g;
  item.blue = b;
  item.kind = kind;
  item.position = position;
  std::snprintf(item.text, sizeof item.text, "%s", text.c_str());
  return item;
}

std::string countersLine(const PlayerCounters& c) {
  char line[320];
  std::snprintf(line, sizeof line,
                "in %u decoded %u shown %u errors %u | dropped: full %u flushed %u sound %u "
                "unusable %u | queue %u | %ux%u",
                c.framesIn, c.picturesDecoded, c.picturesPresented, c.decodeErrors,
                c.droppedOverflow, c.droppedFlushed, c.droppedAudio, c.droppedUnusable,
                c.queueDepth, c.width, c.height);
  return line;
}

// The window's pixels as a 32-bit bottom-up BMP.
bool writeScreenshot(TavolenWindow* window, int w, int h, const std::string& path) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
  if (tavolen_window_read_pixels(window, px.data(), static_cast<int32_t>(px.size())) <= 0)
    return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  uint8_t head[54] = {'B', 'M'};
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) head[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(2, static_cast<uint32_t>(54 + px.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  head[26] = 1;
  head[28] = 32;
  put32(34, static_cast<uint32_t>(px.size()));
  bool ok = std::fwrite(head, 1, sizeof head, f) == sizeof head;
  for (int y = h - 1; y >= 0 && ok; --y)
    ok = std::fwrite(px.data() + static_cast<size_t>(y) * w * 4, 1, static_cast<size_t>(w) * 4, f) ==
         static_cast<size_t>(w) * 4;
  return std::fclose(f) == 0 && ok;
}

std::string stampedName(const char* prefix, const char* ext) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char name[96];
  std::snprintf(name, sizeof name, "%s-%04d%02d%02d-%02d%02d%02d.%s", prefix, t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, ext);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseArgs(argc, argv, o)) return 2;
  tavolen::tools::installCrashDump();
  ::signal(SIGINT, onSignal);
  ::signal(SIGTERM, onSignal);
  ::signal(SIGPIPE, SIG_IGN);

  pid_t camsim = -1;
  if (o.host.empty()) {
    const int port = freeLoopbackPort();
    camsim = port > 0 ? startCamsim(port, o) : -1;
    if (camsim <= 0) {
      std::fprintf(stderr, "tavolen-view: could not start tavolen-camsim\n");
      return 1;
    }
    o.host = "127.0.0.1";
    o.port = port;
    std::fprintf(stderr, "tavolen-view: substitute camera on 127.0.0.1:%d\n", port);
  } else if (o.port == 0) {
    o.port = 80;
  }

  TavolenWindow* window = nullptr;
  bool sdl = false;
  const bool haveDisplay = std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
  if (!o.headless && haveDisplay) {
    const std::string title = "Tavolen - " + o.host + ":" + std::to_string(o.port);
    window = tavolen_window_create_sdl(title.c_str(), o.width, o.height);
    sdl = window != nullptr;
  }
  if (window == nullptr) {
    window = tavolen_window_create_offscreen(o.width, o.height);
    if (!o.headless) std::fprintf(stderr, "tavolen-view: no display, running headless\n");
  }
  if (window == nullptr) {
    std::fprintf(stderr, "tavolen-view: cannot create a window\n");
    stopCamsim(camsim);
    return 1;
  }

  x_player_initPlayLib();
  device_net_work_init();
  PlayerHandle player = x_player_createPlayInstance(o.jpeg ? 1 : 0);
  x_player_setPlayWnd(player, window);
  x_player_startPlay(player);
  const std::string caption =
      o.caption.empty() ? "Tavolen  " + o.host + ":" + std::to_string(o.port) : o.caption;
  const OsdItem captionItem = osdText(10, 0, caption, 255, 220, 0);
  const OsdItem timeItem = osdText(13, 1, "", 255, 255, 255);
  x_player_setOsdString(player, 0, &captionItem);
  x_player_setOsdString(player, 1, &timeItem);

  DeviceConnectParams params;
  std::memset(&params, 0, sizeof params);
  std::snprintf(params.user, sizeof params.user, "%s", o.user.c_str());
  std::snprintf(params.password, sizeof params.password, "%s", o.password.c_str());
  std::snprintf(params.host, sizeof params.host, "%s", o.host.c_str());
  params.port = o.port;
  DeviceHandle link = device_net_work_createInstance(params);
  if (link == nullptr) {
    std::fprintf(stderr, "tavolen-view: cannot create the camera link\n");
  } else {
    device_net_work_set_event_callback(link, onLinkEvent, nullptr);
    device_net_work_startStream(link, o.stream, onFrame, player);
  }

  TerminalKeys keys;
  bool sound = false, recording = false, showCounters = o.headless || !sdl;
  bool snapshotDone = o.snapshot.empty();
  const auto start = std::chrono::steady_clock::now();
  auto nextReport = start + std::chrono::seconds(1);
  int status = 0;
  while (!gQuit) {
    if (sdl) {
      if (tavolen_window_pump(window, 15) == 0) break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    const auto now = std::chrono::steady_clock::now();
    if (o.seconds > 0 && now - start >= std::chrono::duration<double>(o.seconds)) break;

    PlayerCounters c{};
    x_player_getCounters(player, &c);
    if (!snapshotDone && c.picturesPresented > 0) {
      snapshotDone = true;
      if (x_player_capturePicture(player, o.snapshot.c_str()) == 1)
        std::fprintf(stderr, "tavolen-view: snapshot %s\n", o.snapshot.c_str());
      else {
        std::fprintf(stderr, "tavolen-view: snapshot failed\n");
        status = 1;
      }
    }
    if (now >= nextReport) {
      nextReport += std::chrono::seconds(1);
      if (showCounters) {
        std::printf("%s\n", countersLine(c).c_str());
        std::fflush(stdout);
      }
      if (showCounters && sdl) {
        const OsdItem item = osdText(11, 0, countersLine(c), 120, 255, 120);
        x_player_setOsdString(player, 2, &item);
      }
    }

    switch (keys.poll()) {
      case 'q':
      case 27:
        gQuit = true;
        break;
      case 's':
        if (link == nullptr) break;
        if (!sound) {
          device_net_work_startAudio(link, o.audioStream, onFrame, player);
          x_player_openSound(player);
          sound = true;
        } else {
          device_net_work_stopAudio(link);
          x_player_closeSound(player);
          sound = false;
        }
        std::fprintf(stderr, "tavolen-view: sound %s\n", sound ? "on" : "off");
        break;
      case 'p': {
        const std::string name = stampedName("snapshot", o.jpeg ? "jpg" : "bmp");
        const int32_t r = x_player_capturePicture(player, name.c_str());
        std::fprintf(stderr, "tavolen-view: snapshot %s%s\n", name.c_str(), r ? "" : " failed");
        break;
      }
      case 'r':
        if (!recording) {
          RecordStartParams rp;
          std::memset(&rp, 0, sizeof rp);
          std::snprintf(rp.recordPath, sizeof rp.recordPath, "%s", o.recordDir.c_str());
          std::snprintf(rp.deviceFolder, sizeof rp.deviceFolder, "%s_%d", o.host.c_str(), o.port);
          recording = x_player_startlocalrecord(player, rp) == 1;
          std::fprintf(stderr, "tavolen-view: recording %s\n",
                       recording ? "into the record folder" : "could not start");
        } else {
          x_player_stoplocalrecord(player);
          recording = false;
          std::fprintf(stderr, "tavolen-view: recording stopped\n");
        }
        break;
      case 'c':
        showCounters = !showCounters;
        if (!showCounters) x_player_removeOsdstring(player, 2);
        break;
      default:
        break;
    }
  }

  // The order a view is taken down in: the link first, so that no frame
  // arrives at a player being stopped, then the player, then the window.
  if (!o.screenshot.empty()) {
    if (writeScreenshot(window, o.width, o.height, o.screenshot)) {
      std::fprintf(stderr, "tavolen-view: screenshot %s\n", o.screenshot.c_str());
    } else {
      std::fprintf(stderr, "tavolen-view: screenshot failed\n");
      status = 1;
    }
  }
  if (link != nullptr) {
    device_net_work_stopAudio(link);
    device_net_work_stopStream(link);
    device_net_work_destroyInstance(link);
  }
  x_player_stoplocalrecord(player);
  x_player_closeSound(player);
  x_player_stopPlay(player);
  PlayerCounters last{};
  x_player_getCounters(player, &last);
  std::printf("%s\n", countersLine(last).c_str());
  x_player_destroyPlayInstance(player);
  tavolen_window_destroy(window);
  device_net_work_deInit();
  x_player_uninitPlayLib();
  stopCamsim(camsim);
  return status;
}
