#include "crash_dump.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace tavolen::tools {
namespace {

// Everything the handler needs is prepared at install time: it may only use
// calls that are safe inside a signal handler, so it builds strings by hand
// into these fixed buffers.
constexpr size_t kPathMax = 4096;
char gExeFolder[kPathMax];    // with trailing '/'
char gStateFolder[kPathMax];  // with trailing '/'
char gGdb[kPathMax];          // empty: no gdb, no dump
char gDumpPath[kPathMax + 64];
char gGenerate[kPathMax + 96];
char gSelectThread[160];
char gPid[24];
std::atomic<int> gEntered{0};
char gAltStack[64 * 1024];

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};
// A gdb that has not written the core by then is given up on: a dying
// process must not hang.
constexpr int kGdbWaitMs = 60000;

void append(char* out, size_t size, const char* text) {
  size_t used = std::strlen(out);
  while (*text && used + 1 < size) out[used++] = *text++;
  out[used] = '\0';
}

void appendNumber(char* out, size_t size, long value, int width, char pad) {
  char digits[24];
  int n = 0;
  const bool negative = value < 0;
  unsigned long v = negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v && n < 22);
  if (negative) digits[n++] = '-';
  char text[48];
  int k = 0;
  for (int i = n; i < width && k < 24; ++i) text[k++] = pad;
  while (n) text[k++] = digits[--n];
  text[k] = '\0';
  append(out, size, text);
}

void formatName(char* out, size_t size, const std::tm& t) {
  append(out, size, "ocx_CrashDump");
  appendNumber(out, size, t.tm_year + 1900L, 4, ' ');
  append(out, size, "_");
  appendNumber(out, size, t.tm_mon + 1L, 2, '0');
  append(out, size, "_");
  appendNumber(out, size, t.tm_mday, 2, '0');
  append(out, size, "_");
  appendNumber(out, size, t.tm_hour, 2, '0');
  append(out, size, "_");
  appendNumber(out, size, t.tm_min, 2, '0');
  append(out, size, "_");
  appendNumber(out, size, t.tm_sec, 2, '0');
  append(out, size, ".dmp");
}

void makeFolders(char* path) {
  for (char* p = path + 1; *p; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    mkdir(path, 0700);
    *p = '/';
  }
}

void sleepMs(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

void writeDump() {
  if (!gGdb[0]) return;
  const char* folder = gExeFolder;
  if (access(gExeFolder, W_OK) != 0) {
    makeFolders(gStateFolder);
    folder = gStateFolder;
  }
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  gDumpPath[0] = '\0';
  append(gDumpPath, sizeof gDumpPath, folder);
  formatName(gDumpPath, sizeof gDumpPath, local);
  gGenerate[0] = '\0';
  append(gGenerate, sizeof gGenerate, "generate-core-file ");
  append(gGenerate, sizeof gGenerate, gDumpPath);
  // gdb selects the first thread after attaching; the core's first thread is
  // the one a reader sees first, so select the crashing one.
  gSelectThread[0] = '\0';
  append(gSelectThread, sizeof gSelectThread,
         "python [t.switch() for t in gdb.selected_inferior().threads() if t.ptid[1] == ");
  appendNumber(gSelectThread, sizeof gSelectThread, static_cast<long>(syscall(SYS_gettid)), 1, '0');
  append(gSelectThread, sizeof gSelectThread, "]");

  int go[2];
  if (pipe2(go, O_CLOEXEC) != 0) return;
  const pid_t child = fork();
  if (child < 0) {
    close(go[0]);
    close(go[1]);
    return;
  }
  if (child == 0) {
    char byte;
    close(go[1]);
    while (read(go[0], &byte, 1) < 0 && errno == EINTR) {
    }
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    const char* argv[] = {gGdb, "-batch", "-nx", "-p", gPid, "-ex", gSelectThread, "-ex", gGenerate, nullptr};
    execve(gGdb, const_cast<char* const*>(argv), environ);
    _exit(127);
  }
  close(go[0]);
  // Where a security module limits tracing to ancestors, the child needs
  // this process's leave to attach.
  prctl(PR_SET_PTRACER, child, 0, 0, 0);
  const char byte = 1;
  while (write(go[1], &byte, 1) < 0 && errno == EINTR) {
  }
  close(go[1]);
  for (int waited = 0;; waited += 20) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) break;
    if (waited >= kGdbWaitMs) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    sleepMs(20);
  }
}

void onFatalSignal(int signal) {
  if (gEntered.exchange(1) == 0) writeDump();
  // End as the signal would have: default action, delivered again.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  syscall(SYS_tgkill, getpid(), syscall(SYS_gettid), signal);
  _exit(128 + signal);
}

void copyFolder(char* out, const std::string& folder) {
  out[0] = '\0';
  if (folder.size() + 2 >= kPathMax) return;
  append(out, kPathMax, folder.c_str());
  if (folder.empty() || folder.back() != '/') append(out, kPathMax, "/");
}

std::string findOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = list.find(':', start);
    const std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty() && dir[0] == '/') {
      const std::string candidate = dir + "/" + program;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return {};
}

}  // namespace

std::string crashDumpName(const std::tm& local) {
  char name[64] = "";
  formatName(name, sizeof name, local);
  return name;
}

bool crashDumpAvailable() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return false;
#else
  return true;
#endif
#else
  return true;
#endif
}

void installCrashDump() {
  if (!crashDumpAvailable()) return;
  char exe[kPathMax];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string folder = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
  folder = folder.substr(0, folder.rfind('/') + 1);
  copyFolder(gExeFolder, folder);

  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::string stateFolder = state && state[0] == '/' ? std::string(state)
                                                     : std::string(home && home[0] ? home : "/tmp") + "/.local/state";
  copyFolder(gStateFolder, stateFolder + "/tavolen");

  const std::string gdb = findOnPath("gdb");
  gGdb[0] = '\0';
  if (gdb.size() < kPathMax) append(gGdb, kPathMax, gdb.c_str());
  gPid[0] = '\0';
  appendNumber(gPid, sizeof gPid, static_cast<long>(getpid()), 1, '0');

  // Load the time zone now, so the handler's localtime_r reads no file.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);

  stack_t stack{};
  stack.ss_sp = gAltStack;
  stack.ss_size = sizeof gAltStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = onFatalSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_ONSTACK | SA_RESTART;
  for (int signal : kSignals) sigaction(signal, &action, nullptr);
}

}  // namespace tavolen::tools
