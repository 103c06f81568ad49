#pragma once
// The SD-card recordings a camera made on one local day, through a camera
// link of its own and the link's record-file search.
//
// The search reports one callback per file and no end. The link runs one
// search at a time and a second one waits for the first, so a second search
// with dates the link refuses at once (it sends nothing for them) marks the
// end of the first. A camera that does not finish answering within the
// deadline gets its link destroyed, which cancels the exchange.
//
// Threads: blocks the calling thread for at most about the deadline; any
// thread may call it, several at once (each has its own link).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavolen::host {

struct RecordFileRow {
  std::string name;  // UTF-8, as the camera wrote it
  int32_t size = 0;  // bytes
};

struct CameraAccount {
  std::string user, password, host;  // UTF-8
  int32_t port = 0;
};

// How long a camera may take to answer the listing.
inline constexpr std::chrono::milliseconds kListingDeadline{10000};

// The files of year-month-day, in the camera's order; nullopt when the date
// is no day of 1970 to 2037, the account does not fit the link's fields, or
// the camera did not answer within the deadline.
std::optional<std::vector<RecordFileRow>> listRecordFiles(
    const CameraAccount& camera, int32_t year, int32_t month, int32_t day,
    std::chrono::milliseconds deadline = kListingDeadline);

}  // namespace tavolen::host
