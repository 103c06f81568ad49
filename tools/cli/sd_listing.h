#pragma once
// The camera's SD-card recordings between two local times, through the
// link's record-file search. The search reports one callback per file and
// no end; a second search started behind it waits for the first to finish
// (the link runs one at a time), so one with dates the link refuses at once
// marks the end of the listing.

#include <cstdint>
#include <string>
#include <vector>

#include "camera_link.h"

namespace tavolen::cli {

struct LocalTime {
  int32_t year, month, day, hour, minute, second;
};

struct SdRecording {
  std::string name;
  uint32_t size;
};

// "" when text is a date YYYY-MM-DD (the first and last second of that day
// are filled in), else what is wrong.
std::string parseDay(const std::string& text, LocalTime& first, LocalTime& last);
// Every date the link can ask for.
void wholeRange(LocalTime& first, LocalTime& last);

// Throws Failure when the camera does not finish answering in time; then
// the link is left to the process's end (it still runs the search).
std::vector<SdRecording> listRecordings(CameraLink& link, const LocalTime& first, const LocalTime& last);

}  // namespace tavolen::cli
