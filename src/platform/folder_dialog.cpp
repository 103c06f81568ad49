#include "platform/folder_dialog.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

extern char** environ;

namespace tavolen::platform {

namespace {

bool hasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t at = 0;
  while (at <= dirs.size()) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(at, end - at);
    if (dir.empty()) dir = ".";
    if (::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

class ChooserDialog : public FolderDialog {
 public:
  std::optional<std::string> choose(const std::string& title) override {
    std::vector<std::string> argv;
    if (const char* command = std::getenv(kFolderDialogVariable); command && *command) {
      argv = {"/bin/sh", "-c", command};
    } else if (!hasDisplay()) {
      return std::nullopt;
    } else if (onPath("zenity")) {
      argv = {"zenity", "--file-selection", "--directory", "--title=" + title};
    } else if (onPath("kdialog")) {
      argv = {"kdialog", "--getexistingdirectory", "--title", title};
    } else {
      return std::nullopt;
    }
    std::string output;
    if (!run(argv, output)) return std::nullopt;
    return chooserAnswer(output);
  }

  void cancel() override {
    std::lock_guard guard(lock_);
    cancelled_ = true;
    // The whole group: a shell's children hold the pipe open too.
    if (child_ > 0) ::kill(-child_, SIGKILL);
  }

 private:
  // Runs the chooser with stdin and stderr on /dev/null; true when it exited
  // with 0. Its output is collected up to the bound.
  bool run(const std::vector<std::string>& args, std::string& output) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int spawned;
    {
      std::lock_guard guard(lock_);
      if (cancelled_) {
        spawned = ECANCELED;
      } else {
        spawned = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
        if (spawned == 0) child_ = pid;
      }
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(pipeFds[1]);
    if (spawned != 0) {
      ::close(pipeFds[0]);
      return false;
    }
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (output.size() < kMaxChooserOutput)
        output.append(buffer, std::min(static_cast<size_t>(n), kMaxChooserOutput - output.size()));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    bool cancelled;
    {
      std::lock_guard guard(lock_);
      child_ = -1;
      cancelled = cancelled_;
    }
    return !cancelled && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           output.size() < kMaxChooserOutput;
  }

  std::mutex lock_;  // guards child_ and cancelled_
  pid_t child_ = -1;
  bool cancelled_ = false;
};

}  // namespace

std::optional<std::string> chooserAnswer(const std::string& output) {
  std::string line = output;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty() || line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return std::nullopt;
  return line;
}

std::unique_ptr<FolderDialog> createFolderDialog() { return std::make_unique<ChooserDialog>(); }

}  // namespace tavolen::platform
