#include "waits.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace tavolen::cli {

namespace {

std::atomic<int> gSignal{0};

}  // namespace

std::mutex& Waits::mutex() {
  static std::mutex* m = new std::mutex;  // outlives the library's threads at exit
  return *m;
}

std::condition_variable& Waits::condition() {
  static std::condition_variable* c = new std::condition_variable;
  return *c;
}

void Waits::notify() { condition().notify_all(); }

void Waits::notifyInterrupt() {
  // Taking the mutex orders the flag before any waiter's next look at it.
  { std::lock_guard<std::mutex> lock(mutex()); }
  notify();
}

void startInterruptHandling() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Writes to a closed pipe or socket come back as errors instead.
  signal(SIGPIPE, SIG_IGN);
  std::thread([set] {
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      int none = 0;
      if (!gSignal.compare_exchange_strong(none, sig)) _exit(128 + sig);
      Waits::notifyInterrupt();
    }
  }).detach();
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

bool interrupted() { return gSignal.load() != 0; }

int interruptedStatus() { return 128 + gSignal.load(); }

}  // namespace tavolen::cli
