// A program that installs the hosts' crash dump and then dies on purpose:
// "segv-thread" dereferences a null pointer on a second thread, "abort" aborts
// on the main thread.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "crash_dump.h"

__attribute__((noinline)) void crashInWorkerOnPurpose() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

int main(int argc, char** argv) {
  tavolen::tools::installCrashDump();
  if (argc > 1 && std::strcmp(argv[1], "abort") == 0) std::abort();
  std::thread worker(crashInWorkerOnPurpose);
  worker.join();
  return 0;
}
