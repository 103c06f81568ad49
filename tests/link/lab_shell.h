#pragma once
// What the network-namespace labs share: quiet shell commands (ip, nsenter)
// and the wait for a started program's first line.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace tavolen::test {

// Runs command through the shell with its output discarded; true on status 0.
inline bool sh(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// True once a whole line has been read from fd, false at its end or after
// timeoutMs without a byte.
inline bool readFirstLine(int fd, int timeoutMs) {
  char c;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    if (read(fd, &c, 1) != 1) return false;
    if (c == '\n') return true;
  }
}

// Starts argv in a network namespace of its own (unshare -n) and waits up to
// timeoutMs for the first line of its output; ready tells whether it came.
// The child's pid (the caller reaps it), or -1 when it could not be started.
inline pid_t startInOwnNetwork(const std::vector<std::string>& argv, int timeoutMs, bool& ready) {
  ready = false;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  std::vector<std::string> full = {"unshare", "-n"};
  full.insert(full.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (auto& a : full) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "unshare", &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return -1;
  }
  ready = readFirstLine(out[0], timeoutMs);
  close(out[0]);
  return pid;
}

}  // namespace tavolen::test
