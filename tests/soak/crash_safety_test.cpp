// A control host killed outright (SIGKILL) in the middle of a recording with
// sound: the file it was writing reads back in an independent reader with at
// most its last second missing, the settings file it kept rewriting is whole,
// and the next start of the host records again as if nothing had happened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "control_support.h"
#include "recording_check.h"
#include "sound_rig.h"

extern char** environ;

namespace {

using ctltest::ScratchFolder;

constexpr int kFramesPerSecond = 25;  // the substitute camera's stream

// The recording host as a child process, its output read line by line.
class RecordingHost {
 public:
  explicit RecordingHost(std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> argv = {RECORD_UNTIL_KILLED};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~RecordingHost() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The next line, or "" after timeoutMs or at the end of the output.
  std::string line(int timeoutMs) {
    for (;;) {
      const size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string l = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return l;
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) return "";
      char chunk[256];
      const ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Waits for a line starting with prefix; false at the end of the output.
  bool waitFor(const std::string& prefix, int timeoutMs = 60000) {
    for (;;) {
      const std::string l = line(timeoutMs);
      if (l.empty()) return false;
      if (l.rfind(prefix, 0) == 0) return true;
    }
  }
  void killNow() { kill(pid_, SIGKILL); }
  // The exit status, or -1 when it was killed.
  int wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

class CrashSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(records());
    ctltest::writeText(settingsFile(), "[PATH]\nSETPATH=" + records() + "\n");
  }
  std::string records() const { return dir_.file("records"); }
  std::string settingsFile() const { return dir_.file("Tavolen.ini"); }

  ScratchFolder dir_;
  ctltest::EnvOverride settings_{"TAVOLEN_SETTINGS_FILE", dir_.file("Tavolen.ini")};
  ctltest::EnvOverride chooser_{"TAVOLEN_FOLDER_DIALOG", "exit 1"};
};

// The settings file as the host writes it: the folder, then the four limits
// with values from the ranges the host cycles through.
void expectWholeSettings(const std::string& text, const std::string& folder) {
  EXPECT_NE(text.find("SETPATH=" + folder + "\n"), std::string::npos) << text;
  for (const char* key : {"FILELEN", "TIMELEN", "RESERVEDSPACE", "COVER"})
    EXPECT_TRUE(std::regex_search(text, std::regex(std::string("\n") + key + "=[0-9]+\n"))) << key << "\n"
                                                                                          << text;
}

TEST_F(CrashSafety, KilledWhileRecordingLosesAtMostTheLastSecond) {
  TAVOLEN_REQUIRE_SOUND_RIG();
  uint32_t taken = 0;
  {
    RecordingHost host({});
    ASSERT_TRUE(host.waitFor("recording")) << "the host never recorded";
    // Let it record a while; each report says how many frames the file
    // holds by now at least.
    for (int reports = 0; reports < 30;) {
      const std::string l = host.line(10000);
      ASSERT_FALSE(l.empty()) << "the host stopped reporting";
      if (l.rfind("video ", 0) == 0) {
        taken = static_cast<uint32_t>(std::stoul(l.substr(6)));
        ++reports;
      }
    }
    host.killNow();
    EXPECT_EQ(host.wait(), -1);
  }
  const std::vector<std::string> files = soak::recordingsUnder(records());
  ASSERT_EQ(files.size(), 1u);
  const soak::RecordingReadBack back = soak::readRecording(files[0]);
  ASSERT_TRUE(back.readable) << back.error;
  int64_t video = -1, sound = -1;
  for (const auto& s : back.streams) (s.kind == "video" ? video : sound) = s.read;
  EXPECT_GE(video + kFramesPerSecond, static_cast<int64_t>(taken)) << "more than a second of video lost";
  EXPECT_GT(sound, 0) << "no sound in the recording";
  expectWholeSettings(ctltest::readText(settingsFile()), records());

  // The next start: nothing left behind in the way, a complete new file.
  RecordingHost again({"--seconds", "2"});
  ASSERT_TRUE(again.waitFor("stopped")) << "the host did not start again";
  EXPECT_EQ(again.wait(), 0);
  const std::vector<std::string> after = soak::recordingsUnder(records());
  ASSERT_EQ(after.size(), 2u);
  for (const std::string& f : after) EXPECT_EQ(soak::recordingProblem(soak::readRecording(f)), "") << f;
  expectWholeSettings(ctltest::readText(settingsFile()), records());
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_TRUE(e.path().filename() == "Tavolen.ini" || e.path().filename() == "records")
        << "left behind: " << e.path();
}

}  // namespace
