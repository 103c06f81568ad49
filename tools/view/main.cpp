// tavolen-view: the desktop viewer. It hosts one control in a window and
// drives it from the keyboard, printing every call's result and every event
// of the control on standard output, one line each. With no camera given it
// starts the substitute camera on a free loopback port and shows that.
// Without a display (or with --headless) the control lives in an off-screen
// window and keys come from the terminal only.

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crash_dump.h"
#include "key_commands.h"
#include "substitute_camera.h"
#include "tavolen/window.h"
#include "view_control.h"

namespace {

using tavolen::view::KeyCommands;
using tavolen::view::SubstituteCamera;
using tavolen::view::ViewControl;

std::atomic<bool> gQuit{false};
void onSignal(int) { gQuit = true; }

struct Options {
  std::string host;  // empty: start the substitute camera
  int port = 0;
  std::string user = "admin";
  std::string password;
  int stream = 1;
  int audioStream = 2;
  bool headless = false;
  int width = 640;
  int height = 360;
  double seconds = 0;      // 0: until closed
  std::string screenshot;  // at the end: the window's contents, text included, as BMP
  std::string caption;
  std::string alias = "Tavolen";
  std::vector<std::string> camsimArgs;
};

void usage() {
  std::fputs(
      "usage: tavolen-view [options]\n"
      "  --host ADDR --port N    the camera (default: start tavolen-camsim on loopback)\n"
      "  --user NAME --password PWD\n"
      "  --stream ID             live stream id (default 1)\n"
      "  --audio-stream ID       audio stream id (default 2)\n"
      "  --size WxH              window size (default 640x360)\n"
      "  --headless              off-screen window, keys from the terminal only\n"
      "  --seconds N             end after N seconds\n"
      "  --screenshot PATH       at the end, write what the window shows (BMP)\n"
      "  --caption TEXT          the caption 'c' sets (default: Tavolen ADDR:PORT)\n"
      "  --alias TEXT            the camera alias 'a' sets (default: Tavolen)\n"
      "  --camsim-arg ARG        extra argument for the started tavolen-camsim (repeatable)\n"
      "  --version               print the version and exit\n"
      "keys (in the window or the terminal):\n"
      "  o/O sound on/off   t talk   r record   p snapshot   f flip   a alias\n"
      "  c/C caption on/off   m full screen   n back   F11 toggle (window only)\n"
      "  s search the LAN   q quit\n",
      stderr);
}

bool parseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      usage();
      std::exit(0);
    } else if (a == "--version") {
      std::printf("tavolen-view %s\n", TAVOLEN_VERSION);
      std::exit(0);
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--host" || a == "--port" || a == "--user" || a == "--password" ||
               a == "--stream" || a == "--audio-stream" || a == "--size" || a == "--seconds" ||
               a == "--screenshot" || a == "--caption" || a == "--alias" || a == "--camsim-arg") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tavolen-view: %s needs a value\n", a.c_str());
        return false;
      }
      const char* v = argv[++i];
      if (a == "--host") o.host = v;
      else if (a == "--port") o.port = std::atoi(v);
      else if (a == "--user") o.user = v;
      else if (a == "--password") o.password = v;
      else if (a == "--stream") o.stream = std::atoi(v);
      else if (a == "--audio-stream") o.audioStream = std::atoi(v);
      else if (a == "--seconds") o.seconds = std::atof(v);
      else if (a == "--screenshot") o.screenshot = v;
      else if (a == "--caption") o.caption = v;
      else if (a == "--alias") o.alias = v;
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

// Keys typed in the terminal, one at a time, without waiting for Enter.
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
  int32_t poll() {
    if (!raw_) return 0;
    pollfd p{0, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return 0;
    unsigned char c = 0;
    return ::read(0, &c, 1) == 1 ? c : 0;
  }

 private:
  termios saved_{};
  bool raw_ = false;
};

// The window's pixels as a 32-bit bottom-up BMP, at the size it has now
// (full screen included).
bool writeScreenshot(TavolenWindow* window, const std::string& path) {
  TavolenWindowState s{};
  if (tavolen_window_get_state(window, &s) != 1 || s.width <= 0 || s.height <= 0) return false;
  const size_t w = static_cast<size_t>(s.width), h = static_cast<size_t>(s.height);
  std::vector<uint8_t> px(w * h * 4);
  if (tavolen_window_read_pixels(window, px.data(), static_cast<int32_t>(px.size())) !=
      static_cast<int32_t>(px.size()))
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
  for (size_t y = h; y-- > 0 && ok;)
    ok = std::fwrite(px.data() + y * w * 4, 1, w * 4, f) == w * 4;
  return std::fclose(f) == 0 && ok;
}

TavolenWindow* openWindow(const Options& o, bool& desktop) {
  desktop = false;
  const bool haveDisplay =
      std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
  if (!o.headless && haveDisplay) {
    const std::string title = "Tavolen - " + o.host + ":" + std::to_string(o.port);
    if (TavolenWindow* w = tavolen_window_create_sdl(title.c_str(), o.width, o.height)) {
      desktop = true;
      return w;
    }
  }
  if (!o.headless) std::fprintf(stderr, "tavolen-view: no display, running headless\n");
  return tavolen_window_create_offscreen(o.width, o.height);
}

// Runs until q, the window's close button, a signal or --seconds.
void run(const Options& o, TavolenWindow* window, bool desktop, KeyCommands& keys) {
  TerminalKeys terminal;
  const auto start = std::chrono::steady_clock::now();
  while (!gQuit) {
    if (desktop) {
      if (tavolen_window_pump(window, 15) == 0) return;
      for (int32_t key; (key = tavolen_window_next_key(window)) != 0;)
        if (!keys.press(key)) return;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    if (const int32_t key = terminal.poll(); key != 0 && !keys.press(key)) return;
    if (o.seconds > 0 &&
        std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(o.seconds))
      return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseArgs(argc, argv, o)) return 2;
  tavolen::tools::installCrashDump();
  ::signal(SIGINT, onSignal);
  ::signal(SIGTERM, onSignal);
  ::signal(SIGPIPE, SIG_IGN);

  SubstituteCamera camsim;
  if (o.host.empty()) {
    if (!camsim.start(o.camsimArgs)) {
      std::fprintf(stderr, "tavolen-view: could not start tavolen-camsim\n");
      return 1;
    }
    o.host = "127.0.0.1";
    o.port = camsim.port();
    // The search finds it only when sent to loopback rather than broadcast
    // to the network; an address the user chose stays.
    ::setenv("TAVOLEN_SEARCH_ADDRESS", tavolen::view::kSearchAddress, 0);
    std::fprintf(stderr, "tavolen-view: substitute camera on 127.0.0.1:%d\n", o.port);
  } else if (o.port == 0) {
    o.port = 80;
  }
  if (o.caption.empty()) o.caption = "Tavolen  " + o.host + ":" + std::to_string(o.port);

  bool desktop = false;
  TavolenWindow* window = openWindow(o, desktop);
  if (window == nullptr) {
    std::fprintf(stderr, "tavolen-view: cannot create a window\n");
    return 1;
  }
  int status = 0;
  {
    std::unique_ptr<ViewControl> control = ViewControl::open(window);
    if (!control) {
      tavolen_window_destroy(window);
      return 1;
    }
    std::fprintf(stderr, "tavolen-view: snapshots and recordings go to %s\n",
                 control->readText("RecFilePath").c_str());
    control->call("PlayVideo",
                  {o.user, o.password, o.host, int32_t{o.port}, int32_t{o.stream},
                   int32_t{o.audioStream}},
                  {1});
    control->call("SetOsd", {o.caption});
    KeyCommands keys(*control, window, o.caption, o.alias);
    run(o, window, desktop, keys);

    if (!o.screenshot.empty()) {
      if (writeScreenshot(window, o.screenshot)) {
        std::fprintf(stderr, "tavolen-view: screenshot %s\n", o.screenshot.c_str());
      } else {
        std::fprintf(stderr, "tavolen-view: screenshot failed\n");
        status = 1;
      }
    }
    // The control goes before its window: it stops its links and players,
    // which draw into the window until then.
  }
  tavolen_window_destroy(window);
  camsim.stop();
  return status;
}
