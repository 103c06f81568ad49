#include "console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#define TAVOLEN_CLI_SANITIZED 1
#endif

namespace tavolen::cli {

namespace {

FILE* gOut = nullptr;
FILE* gErr = nullptr;
int gOutFd = 1;
int gErrFd = 2;

int keep(int fd) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  return copy >= 0 ? copy : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
}

}  // namespace

void Console::takeOver(bool verbose) {
  std::fflush(stdout);
  std::fflush(stderr);
  gOutFd = keep(1);
  gErrFd = keep(2);
  gOut = ::fdopen(gOutFd, "w");
  gErr = ::fdopen(gErrFd, "w");
  if (gErr != nullptr) std::setvbuf(gErr, nullptr, _IOLBF, 0);
#ifdef TAVOLEN_CLI_SANITIZED
  // A sanitizer's report is the tool's own business: keep it visible.
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<uintptr_t>(gErrFd)));
#endif
  const int sink = verbose ? gErrFd : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink >= 0) {
    ::dup2(sink, 1);
    ::dup2(verbose ? 2 : sink, 2);
    if (!verbose) ::close(sink);
  }
}

FILE* Console::out() { return gOut != nullptr ? gOut : stdout; }
FILE* Console::err() { return gErr != nullptr ? gErr : stderr; }
int Console::outFd() { return gOutFd; }
int Console::errFd() { return gErrFd; }
bool Console::errIsTerminal() { return ::isatty(gErrFd) == 1; }

void message(const std::string& text) {
  std::fprintf(Console::err(), "tavolen: %s\n", text.c_str());
  std::fflush(Console::err());
}

}  // namespace tavolen::cli
