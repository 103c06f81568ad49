#include "password_source.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "failure.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

// The longest answer read at the prompt; a password is at most 63 bytes.
constexpr size_t kPromptLimit = 256;

std::string prompt(const CameraAddress& address) {
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) {
    throw Failure("no password for " + address.user + ": write " + address.user +
                  ":PASSWORD@..., or set " + kPasswordVariable);
  }
  termios saved{};
  const bool haveTerm = ::tcgetattr(tty, &saved) == 0;
  if (haveTerm) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  const std::string ask = "Password for " + address.user + "@" + displayName(address) + ": ";
  (void)!::write(tty, ask.data(), ask.size());
  std::string answer;
  bool done = false;
  // Polled, so that Ctrl-C (taken by the signal thread) ends the prompt with
  // the terminal's echo back on.
  while (!done && !interrupted() && answer.size() <= kPromptLimit) {
    pollfd p{tty, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char c;
    const ssize_t n = ::read(tty, &c, 1);
    if (n <= 0 || c == '\n' || c == '\r') done = true;
    else answer += c;
  }
  if (haveTerm) ::tcsetattr(tty, TCSAFLUSH, &saved);
  (void)!::write(tty, "\n", 1);
  ::close(tty);
  if (interrupted()) throw Interrupted();
  return answer;
}

}  // namespace

void findPassword(CameraAddress& address) {
  if (!address.passwordGiven) {
    if (const char* fromEnv = std::getenv(kPasswordVariable)) address.password = fromEnv;
    else if (address.userGiven) address.password = prompt(address);
  }
  const std::string error = checkRequestValue("the password", address.password, kConnectTextMax);
  if (!error.empty()) throw Failure(error);
}

}  // namespace tavolen::cli
