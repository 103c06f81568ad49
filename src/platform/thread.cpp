#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>

namespace tavolen::platform {

namespace {
void raiseToTimeCritical() {
  sched_param param{};
  // The lowest real-time level already runs ahead of every normal thread; a
  // higher one would only let a stuck delivery starve the rest of the machine.
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  // Without CAP_SYS_NICE or an rtprio limit this fails with EPERM; correctness
  // never depends on it.
  (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}
}  // namespace

std::thread startThread(std::function<void()> fn, ThreadPriority priority) {
  return std::thread([fn = std::move(fn), priority] {
    if (priority == ThreadPriority::TimeCritical) raiseToTimeCritical();
    fn();
  });
}

void setCurrentThreadName(const char* name) {
  char shortName[16] = {};
  for (size_t i = 0; i + 1 < sizeof shortName && name[i] != '\0'; ++i) shortName[i] = name[i];
  (void)pthread_setname_np(pthread_self(), shortName);
}

}  // namespace tavolen::platform
