#pragma once
// The process's resident size, for tests that prove a bound on memory: the
// size now (/proc/self/statm), and the peak since the last reset (VmHWM of
// /proc/self/status, reset by writing 5 to /proc/self/clear_refs), which also
// catches a buffer allocated, filled and freed between two readings.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace tavolen::test {

// Bytes resident now; -1 when unreadable.
inline long long residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = -1;
  if (!(statm >> pages >> resident)) return -1;
  return resident * sysconf(_SC_PAGESIZE);
}

// Starts a new peak at the size resident now; false when the kernel refused.
inline bool resetPeakResident() {
  FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return false;
  const bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

// The highest resident size since the last reset, in bytes; -1 when unreadable.
inline long long peakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    long long kb = 0;
    if (std::sscanf(line.c_str(), "VmHWM: %lld kB", &kb) == 1) return kb * 1024;
  }
  return -1;
}

}  // namespace tavolen::test
