// tavolen-view as a user meets it: the real program, its substitute camera,
// on a private X server, driven by xdotool clicks and keys and looked at
// through xwd screenshots and its terminal output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/wait_until.h"
#include "support/x_server.h"

namespace {

using tavolen::test::XGeometry;
using tavolen::test::XServer;

constexpr int kScreenW = tavolen::test::XServerTest::kScreenWidth;
constexpr int kScreenH = tavolen::test::XServerTest::kScreenHeight;
constexpr uint32_t kRed = 0xFF0000, kGrey = 0xACACAC, kBlack = 0;
constexpr int kWidth = 320, kHeight = 180;

struct Screen {
  std::vector<uint8_t> rgb;
  // 0xRRGGBB at (x, y), or a value no colour has when nothing was read.
  uint32_t at(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * kScreenW + x) * 3;
    if (x < 0 || y < 0 || i + 2 >= rgb.size()) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(rgb[i]) << 16 | static_cast<uint32_t>(rgb[i + 1]) << 8 | rgb[i + 2];
  }
};
Screen shot() { return {XServer::screenshot()}; }

// Gives up after a generous time, so that a broken build fails instead of
// hanging; screenshots and a starting camera take a while under sanitizers.
bool waitUntil(const std::function<bool()>& pred) { return tavolen::test::waitUntil(pred, 15000); }

// The viewer as a child process whose standard output and error lines are
// collected by a reader thread.
class Viewer {
 public:
  explicit Viewer(const std::vector<std::string>& extraArgs) {
    std::vector<std::string> argv = {TAVOLEN_VIEW_PROGRAM, "--size",
                                     std::to_string(kWidth) + "x" + std::to_string(kHeight)};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      dup2(fds[1], 2);
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    reader_ = std::thread([this, fd = fds[0]] { read(fd); });
  }
  ~Viewer() {
    if (pid_ > 0 && !exited_) {
      // Asked first, so that it stops its camera in order.
      kill(pid_, SIGTERM);
      if (waitForExit() < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
    stop_ = true;
    if (reader_.joinable()) reader_.join();
  }

  // Waits for a line equal to `line` beyond the first `after` lines; its
  // index, or -1.
  int waitForLine(const std::string& line, int after = 0) {
    std::unique_lock lock(m_);
    int found = -1;
    changed_.wait_for(lock, std::chrono::seconds(15), [&] {
      for (size_t i = static_cast<size_t>(after); i < lines_.size(); ++i)
        if (lines_[i] == line) return (found = static_cast<int>(i)) >= 0;
      return eof_;
    });
    return found;
  }
  // Waits for a line starting with prefix; the rest of it, or "".
  std::string waitForPrefix(const std::string& prefix) {
    std::unique_lock lock(m_);
    std::string rest;
    changed_.wait_for(lock, std::chrono::seconds(15), [&] {
      for (const std::string& l : lines_)
        if (l.rfind(prefix, 0) == 0) return !(rest = l.substr(prefix.size())).empty();
      return eof_;
    });
    return rest;
  }
  // Lines starting with prefix, from `after` on.
  std::vector<std::string> linesStarting(const std::string& prefix, int after = 0) {
    std::lock_guard lock(m_);
    std::vector<std::string> out;
    for (size_t i = static_cast<size_t>(after); i < lines_.size(); ++i)
      if (lines_[i].rfind(prefix, 0) == 0) out.push_back(lines_[i]);
    return out;
  }
  int lineCount() {
    std::lock_guard lock(m_);
    return static_cast<int>(lines_.size());
  }
  std::string output() {
    std::lock_guard lock(m_);
    std::string all;
    for (const std::string& l : lines_) all += l + "\n";
    return all;
  }
  // Asks it to end as Ctrl-C does; its exit status, or -1.
  int terminate() {
    if (pid_ <= 0 || exited_) return -1;
    kill(pid_, SIGTERM);
    return waitForExit();
  }
  // The exit status once it ended by itself, or -1 (then it is killed).
  int waitForExit() {
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

 private:
  void read(int fd) {
    std::string partial;
    char buf[4096];
    ssize_t n = 0;
    // Polled, so that a grandchild still holding the pipe open cannot keep
    // the reader (and the test) waiting once the viewer is gone.
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) == 0) continue;
      if ((n = ::read(fd, buf, sizeof buf)) <= 0) break;
      partial.append(buf, static_cast<size_t>(n));
      std::lock_guard lock(m_);
      for (size_t nl; (nl = partial.find('\n')) != std::string::npos; partial.erase(0, nl + 1))
        lines_.push_back(partial.substr(0, nl));
      changed_.notify_all();
    }
    close(fd);
    std::lock_guard lock(m_);
    eof_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  bool exited_ = false;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::mutex m_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;  // guarded by m_
  bool eof_ = false;                // guarded by m_
};

// One viewer per test on the suite's X server, viewing its own substitute
// camera, with a settings file of its own so the user's is never touched.
class ViewOnX : public tavolen::test::XServerTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server && server->ok()) << "Xvfb did not start";
    folder = std::filesystem::temp_directory_path() /
             ("tavolen-view-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    setenv("TAVOLEN_SETTINGS_FILE", (folder / "Tavolen.ini").c_str(), 1);
    // Snapshots and recordings into the test's folder, not the home folder.
    std::ofstream(folder / "Tavolen.ini") << "[PATH]\nSETPATH=" << folder.string() << "\n";
    setenv("SDL_VIDEODRIVER", "x11", 1);
    // The camera answers the LAN search on a loopback address of this test's
    // own, so that other cameras answering on 127.0.0.1 meanwhile do not.
    const std::string searchIp = "127.0." + std::to_string(1 + getpid() % 250) + ".9";
    setenv("TAVOLEN_SEARCH_ADDRESS", (searchIp + ":8600").c_str(), 1);
    viewer = std::make_unique<Viewer>(
        std::vector<std::string>{"--camsim-arg", "--search-bind", "--camsim-arg", searchIp,
                                 "--camsim-arg", "--name", "--camsim-arg", "view-test"});
    const std::string port = viewer->waitForPrefix("tavolen-view: substitute camera on 127.0.0.1:");
    ASSERT_FALSE(port.empty()) << viewer->output();
    cameraPort = port;
    title = "Tavolen - 127.0.0.1:" + port;
    ASSERT_TRUE(waitUntil([&] { return geometry().width == kWidth; })) << viewer->output();
    normal = geometry();
    // Input is only looked at once the window is up and showing the camera.
    ASSERT_TRUE(waitUntil([&] { return showsPicture(shot(), normal); })) << viewer->output();
  }
  void TearDown() override {
    // Every run ends cleanly: a sanitizer's finding in the viewer fails it.
    if (viewer && !HasFatalFailure()) {
      const int status = viewer->terminate();
      if (status != -1) {
        EXPECT_EQ(status, 0) << viewer->output();
      }
    }
    viewer.reset();
    std::filesystem::remove_all(folder);
  }

  // xdotool at a point of the window's client area.
  void xdotoolAt(int x, int y, const std::string& what) {
    XServer::run("xdotool mousemove " + std::to_string(normal.x + x) + " " +
                 std::to_string(normal.y + y) + " " + what);
  }

  // The camera's picture fills the client area: a moving colour ramp, not the
  // black surface with a grey status text that stands there without one.
  bool showsPicture(const Screen& s, const XGeometry& g) const {
    std::set<uint32_t> colours;
    int coloured = 0, samples = 0;
    for (int y = g.height / 4; y < g.height; y += g.height / 10)
      for (int x = 8; x < g.width - 8; x += g.width / 16) {
        const uint32_t c = s.at(g.x + x, g.y + y);
        const int r = c >> 16 & 0xFF, gr = c >> 8 & 0xFF, b = c & 0xFF;
        coloured += std::max({r, gr, b}) - std::min({r, gr, b}) > 12;
        colours.insert(c);
        ++samples;
      }
    return colours.size() > static_cast<size_t>(samples) / 2 && coloured > samples / 2;
  }

  std::filesystem::path folder;
  std::string cameraPort;
  std::unique_ptr<Viewer> viewer;
  XGeometry normal;
};

TEST_F(ViewOnX, ShowsTheCameraAndQQuitsCleanly) {
  EXPECT_GE(viewer->waitForLine("PlayVideo(\"admin\", \"***\", \"127.0.0.1\", " +
                                title.substr(title.rfind(':') + 1) + ", 1, 2) = 0"),
            0)
      << viewer->output();
  EXPECT_TRUE(showsPicture(shot(), normal));
  // The frame is grey until a click.
  EXPECT_EQ(shot().at(normal.x, normal.y), kGrey);

  xdotoolAt(kWidth / 2, kHeight / 2, "key q");
  EXPECT_EQ(viewer->waitForExit(), 0) << viewer->output();
}

// Each row runs on the same viewer, after the rows above it.
TEST_F(ViewOnX, ClicksReachTheVideoWindowAndAreReported) {
  struct Case {
    const char* what;
    int x;  // apart from the row before, so that no two rows make a double click
    const char* xdotool;
    std::vector<std::string> notices;
  };
  const Case cases[] = {
      {"a click", 40, "click 1", {"MessageNotify(0, 0)"}},
      {"a right click", 160, "click 3", {"MessageNotify(0, 0)"}},
      // Its first press is a click, its second the double click.
      {"a double click", 280, "click --repeat 2 --delay 60 1",
       {"MessageNotify(0, 0)", "MessageNotify(1, 0)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int before = viewer->lineCount();
    xdotoolAt(c.x, kHeight / 2, c.xdotool);
    ASSERT_GE(viewer->waitForLine(c.notices.back(), before), 0) << viewer->output();
    // Let a stray extra notice show before counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(viewer->linesStarting("MessageNotify", before), c.notices) << viewer->output();
    // The focus frame turned red on the screen, all four corners.
    EXPECT_TRUE(waitUntil([&] {
      const Screen s = shot();
      const int r = normal.x + kWidth - 1, b = normal.y + kHeight - 1;
      return s.at(normal.x, normal.y) == kRed && s.at(r, normal.y) == kRed &&
             s.at(normal.x, b) == kRed && s.at(r, b) == kRed;
    }));
  }
}

// Each key waits for its line before the next is typed, so the toggles read
// the state the key before left.
TEST_F(ViewOnX, KeysCallTheControlAndEveryResultIsPrinted) {
  // Whether the folder setting holds a file with that extension (at any
  // depth: recordings go into dated folders).
  auto hasFile = [&](const std::string& extension) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec))
      if (entry.path().extension() == extension) return true;
    return false;
  };
  struct Case {
    const char* key;
    std::string line;
    const char* fileMade = nullptr;  // waited for before the next key
  };
  const Case cases[] = {
      {"o", "OpenSound() = 0"},
      {"shift+o", "CloseSound() = 0"},
      {"t", "StartTalk() = 0"},
      {"t", "StopTalk() = 0"},
      // A recording's file starts with the camera's next key frame.
      {"r", "StartRecord() = 0", ".avi"},
      {"r", "StopRecord() = 0"},
      {"p", "CapturePic() = 0", ".bmp"},
      {"f", "SetFlip(1) = 0"},
      {"f", "SetFlip(2) = 0"},
      {"a", "SetAlias(\"Tavolen\") = 0"},
      {"c", "SetOsd(\"Tavolen  127.0.0.1:" + cameraPort + "\") = 0"},
      {"shift+c", "RemoveOsd() = 0"},
      {"m", "ShowMax()"},
      {"n", "ShowNormal()"},
      {"s", "OnSearchCameras()"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const int before = viewer->lineCount();
    xdotoolAt(kWidth / 2, kHeight / 2, std::string("key ") + c.key);
    ASSERT_GE(viewer->waitForLine(c.line, before), 0) << viewer->output();
    if (c.fileMade) {
      EXPECT_TRUE(waitUntil([&] { return hasFile(c.fileMade); })) << c.fileMade;
    }
  }
  // The camera answers the search.
  const std::string found = viewer->waitForPrefix("OnCameraSearched(");
  EXPECT_NE(found.find("\"view-test\", \"127.0.0.1\", " + cameraPort + ", "), std::string::npos)
      << viewer->output();
}

TEST_F(ViewOnX, F11CoversTheScreenOnePixelShortAndComesBack) {
  xdotoolAt(kWidth / 2, kHeight / 2, "key F11");
  ASSERT_GE(viewer->waitForLine("ShowMax()"), 0) << viewer->output();
  const XGeometry full{0, 0, kScreenW - 1, kScreenH - 1};
  ASSERT_TRUE(waitUntil([&] { return geometry() == full; })) << geometry();
  EXPECT_TRUE(waitUntil([&] {
    const Screen s = shot();
    return s.at(0, 0) == kGrey && s.at(kScreenW - 2, kScreenH - 2) == kGrey &&
           s.at(kScreenW - 1, 0) == kBlack && s.at(0, kScreenH - 1) == kBlack;
  }));
  EXPECT_TRUE(waitUntil([&] { return showsPicture(shot(), full); }));

  XServer::run("xdotool mousemove 600 400 key F11");
  ASSERT_GE(viewer->waitForLine("ShowNormal()"), 0) << viewer->output();
  EXPECT_TRUE(waitUntil([&] { return geometry() == normal; })) << geometry();
  EXPECT_TRUE(waitUntil([&] { return shot().at(normal.x, normal.y) == kGrey; }));
}

}  // namespace
