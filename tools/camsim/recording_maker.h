#pragma once
// Fills the SD card with recordings of the camera's own test pattern, so that
// a camera started from nothing has something to list and play back.
//
// Called once, before the server starts; not thread-safe.

#include <string>

#include "camsim.h"

namespace camsim {

// Writes `count` recordings of `seconds` seconds each of the profile's
// pattern into folder (created if missing). They end a minute apart, the last
// one now, and are named after their first frame's local time,
// "YYYYMMDDhhmmss.h264", the first eight characters being the day. An
// existing file of that name is left alone. False with error on failure.
bool makeRecordings(const std::string& folder, const Profile& profile, int count, int seconds, int8_t timeZone,
                    std::string& error);

}  // namespace camsim
