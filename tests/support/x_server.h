#pragma once
// A private X server for desktop window tests: Xvfb on a display number it
// picks itself, with a black root window and no reset when its last client
// leaves (atoms and properties a test made stay), and the X tools the tests
// drive it with (xdotool, xwininfo, xprop, xlogo, xwd). DISPLAY points at it
// while it runs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <functional>
#include <vector>

#include "tavolen/window.h"

namespace tavolen::test {

// A top-level window's place and size on the screen.
struct XGeometry {
  int x = -1, y = -1, width = -1, height = -1;
  friend bool operator==(const XGeometry&, const XGeometry&) = default;
  friend std::ostream& operator<<(std::ostream& os, const XGeometry& g) {
    return os << g.x << "," << g.y << " " << g.width << "x" << g.height;
  }
};

class XServer {
 public:
  XServer(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
             "tcp", "-br", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    char c;
    while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }
  ~XServer() {
    for (pid_t p : helpers_) stop(p);
    if (pid_ > 0) stop(pid_);
  }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool ok() const { return !display_.empty(); }

  // Runs a shell command against the server; its standard output.
  static std::string run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buf[4096];
    size_t n;
    while (pipe && (n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
    return out;
  }

  // Where the window of that title is, as xwininfo reports it (all -1 when
  // there is none).
  static XGeometry geometry(const std::string& title) {
    std::istringstream in(run("xwininfo -name '" + title + "' 2>/dev/null"));
    XGeometry g;
    std::string line;
    auto value = [&](const char* key, int& out) {
      const size_t at = line.find(key);
      if (at != std::string::npos) out = std::stoi(line.substr(at + std::strlen(key)));
    };
    while (std::getline(in, line)) {
      value("Absolute upper-left X:", g.x);
      value("Absolute upper-left Y:", g.y);
      value("Width:", g.width);
      value("Height:", g.height);
    }
    return g;
  }

  // What the screen shows: 3 bytes per pixel (red, green, blue), rows top to
  // bottom; empty when it could not be read.
  static std::vector<uint8_t> screenshot() {
    // ffmpeg reads the dump only from a file it can look into first.
    char path[] = "/tmp/tavolen-screen-XXXXXX.xwd";
    const int fd = mkstemps(path, 4);
    if (fd < 0) return {};
    close(fd);
    const std::string rgb = run(std::string("xwd -root -silent -out ") + path +
                                " && ffmpeg -loglevel error -i " + path +
                                " -f rawvideo -pix_fmt rgb24 -");
    unlink(path);
    return std::vector<uint8_t>(rgb.begin(), rgb.end());
  }

  // Starts a program that keeps running (an X client); stopped by stopHelper
  // or at the end.
  pid_t startHelper(const std::vector<std::string>& argv) {
    // Everything the child needs is made before the fork: it only execs.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t p = fork();
    if (p == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execvp(args[0], args.data());
      _exit(127);
    }
    if (p > 0) helpers_.push_back(p);
    return p;
  }
  void stopHelper(pid_t p) {
    for (auto it = helpers_.begin(); it != helpers_.end(); ++it)
      if (*it == p) {
        helpers_.erase(it);
        stop(p);
        return;
      }
  }

 private:
  static void stop(pid_t p) {
    kill(p, SIGTERM);
    waitpid(p, nullptr, 0);
  }

  pid_t pid_ = -1;
  std::string display_;
  std::vector<pid_t> helpers_;
};

// A fixture whose suite shares one X server of 1280 x 720; each test opens its
// SDL windows on it, titled after the test.
class XServerTest : public ::testing::Test {
 public:
  static constexpr int kScreenWidth = 1280;
  static constexpr int kScreenHeight = 720;

 protected:
  static void SetUpTestSuite() { server = new XServer(kScreenWidth, kScreenHeight); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  // An SDL window with its client area at (x, y); null (and the test failed)
  // when the server or the window is missing.
  TavolenWindow* openWindow(int32_t x, int32_t y, int32_t width, int32_t height) {
    EXPECT_TRUE(server && server->ok()) << "Xvfb did not start";
    if (!server || !server->ok()) return nullptr;
    setenv("SDL_VIDEODRIVER", "x11", 1);
    title = std::string("tavolen-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    TavolenWindow* window = tavolen_window_create_sdl(title.c_str(), width, height);
    EXPECT_NE(window, nullptr);
    if (window) {
      EXPECT_EQ(tavolen_window_set_position(window, x, y), 1);
    }
    return window;
  }
  XGeometry geometry() const { return XServer::geometry(title); }

  static inline XServer* server = nullptr;
  std::string title;
};

// Pumps an SDL window (the calling thread is its host thread) until pred
// holds; gives up after a generous time, so that a broken build fails instead
// of hanging.
inline bool pumpUntil(TavolenWindow* window, const std::function<bool()>& pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    tavolen_window_pump(window, 20);
    if (pred()) return true;
  }
  return false;
}

}  // namespace tavolen::test
