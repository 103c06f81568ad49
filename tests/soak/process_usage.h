#pragma once
// What a long-running process holds of the machine, read from /proc/self:
// resident memory, open descriptors and threads. A soak samples it once a
// second to show that nothing creeps upwards once the process has warmed up.
//
// Threads: sampleProcessUsage may be called from any thread.

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct ProcessUsage {
  double atSeconds = 0;  // since the soak began
  uint64_t residentKiB = 0;
  uint32_t openFiles = 0;
  uint32_t threads = 0;
  uint64_t heapInUseKiB = 0;  // what the allocator has handed out and not got back
};

ProcessUsage sampleProcessUsage(double atSeconds);

// The largest of each figure among the samples taken in [from, to) seconds.
ProcessUsage peakUsage(const std::vector<ProcessUsage>& samples, double from, double to);

// Empty when the figures after warmUpSeconds stay within the bounds of the
// warm-up's peaks, else what grew and by how much. Resident memory may grow
// by rssGrowth (a fraction) when checkResident is set; descriptors and
// threads by the given counts, because the substitute cameras in this same
// process open and close connections (and their threads) with every fault.
std::string flatAfterWarmUp(const std::vector<ProcessUsage>& samples, double warmUpSeconds,
                            bool checkResident, double rssGrowth, uint32_t fileSlack,
                            uint32_t threadSlack);

}  // namespace soak
