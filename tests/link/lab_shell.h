#pragma once
// What the network-namespace labs share: quiet shell commands (ip, nsenter)
// and the wait for a started program's first line.

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

}  // namespace tavolen::test
