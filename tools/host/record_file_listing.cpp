#include "record_file_listing.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "calendar_day.h"
#include "tavolen/tavolen.h"

namespace tavolen::host {
namespace {

// What the search thread hands over; lives until the link is destroyed, after
// which no callback can come.
struct Listing {
  std::mutex mutex;  // guards the three below
  std::condition_variable ended;
  std::vector<RecordFileRow> files;
  bool done = false;
};

void onFile(const char* fileName, const char*, int32_t size, void* user) {
  auto* listing = static_cast<Listing*>(user);
  std::lock_guard lock(listing->mutex);
  listing->files.push_back({fileName ? fileName : "", size});
}

bool copyField(char (&field)[64], const std::string& text) {
  if (text.size() >= sizeof field || text.find('\0') != std::string::npos) return false;
  std::memcpy(field, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

std::optional<std::vector<RecordFileRow>> listRecordFiles(const CameraAccount& camera, int32_t year,
                                                          int32_t month, int32_t day,
                                                          std::chrono::milliseconds deadline) {
  if (!tools::isCalendarDay(year, month, day)) return std::nullopt;
  DeviceConnectParams params;
  std::memset(&params, 0, sizeof params);
  if (!copyField(params.user, camera.user) || !copyField(params.password, camera.password) ||
      !copyField(params.host, camera.host))
    return std::nullopt;
  params.port = camera.port;
  DeviceHandle link = device_net_work_createInstance(params);
  if (!link) return std::nullopt;

  Listing listing;
  device_record_file_search_list(link, year, month, day, 0, 0, 0, year, month, day, 23, 59, 59, onFile,
                                 &listing);
  std::thread end([link, &listing] {
    device_record_file_search_list(link, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, nullptr);
    std::lock_guard lock(listing.mutex);
    listing.done = true;
    listing.ended.notify_all();
  });
  bool done;
  {
    std::unique_lock lock(listing.mutex);
    done = listing.ended.wait_for(lock, deadline, [&] { return listing.done; });
  }
  // Cancels an exchange still waiting for the camera; the end marker's call
  // then returns too.
  device_net_work_destroyInstance(link);
  end.join();
  if (!done) return std::nullopt;
  return std::move(listing.files);
}

}  // namespace tavolen::host
