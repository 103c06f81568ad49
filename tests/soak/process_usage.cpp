#include "process_usage.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace soak {

namespace {

uint32_t countEntries(const char* folder) {
  DIR* d = ::opendir(folder);
  if (d == nullptr) return 0;
  uint32_t n = 0;
  while (const dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n > 0 ? n - 1 : 0;  // the listing's own descriptor
}

uint32_t threadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return static_cast<uint32_t>(std::stoul(line.substr(8)));
  return 0;
}

}  // namespace

ProcessUsage sampleProcessUsage(double atSeconds) {
  ProcessUsage u;
  u.atSeconds = atSeconds;
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  u.residentKiB = resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)) / 1024;
  u.openFiles = countEntries("/proc/self/fd");
  u.threads = threadCount();
  u.heapInUseKiB = mallinfo2().uordblks / 1024;
  return u;
}

ProcessUsage peakUsage(const std::vector<ProcessUsage>& samples, double from, double to) {
  ProcessUsage peak;
  for (const ProcessUsage& s : samples) {
    if (s.atSeconds < from || s.atSeconds >= to) continue;
    peak.residentKiB = std::max(peak.residentKiB, s.residentKiB);
    peak.openFiles = std::max(peak.openFiles, s.openFiles);
    peak.threads = std::max(peak.threads, s.threads);
  }
  return peak;
}

std::string flatAfterWarmUp(const std::vector<ProcessUsage>& samples, double warmUpSeconds,
                            bool checkResident, double rssGrowth, uint32_t fileSlack,
                            uint32_t threadSlack) {
  const ProcessUsage warm = peakUsage(samples, 0, warmUpSeconds);
  const ProcessUsage later = peakUsage(samples, warmUpSeconds, 1e18);
  std::ostringstream why;
  if (checkResident && later.residentKiB > warm.residentKiB * (1 + rssGrowth))
    why << "resident memory grew from " << warm.residentKiB << " KiB to " << later.residentKiB << " KiB; ";
  if (later.openFiles > warm.openFiles + fileSlack)
    why << "open descriptors grew from " << warm.openFiles << " to " << later.openFiles << "; ";
  if (later.threads > warm.threads + threadSlack)
    why << "threads grew from " << warm.threads << " to " << later.threads << "; ";
  return why.str();
}

}  // namespace soak
