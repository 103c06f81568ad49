#include "sd_listing.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "failure.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

struct Listing {
  std::vector<SdRecording> files;  // guarded by Waits::mutex()
  bool done = false;               // guarded by Waits::mutex()
};

void onFile(const char* fileName, const char*, int32_t size, void* user) {
  auto* listing = static_cast<Listing*>(user);
  std::lock_guard<std::mutex> lock(Waits::mutex());
  listing->files.push_back({fileName ? fileName : "", static_cast<uint32_t>(size)});
}

int32_t search(DeviceHandle h, const LocalTime& a, const LocalTime& b, Listing* listing) {
  return device_record_file_search_list(h, a.year, a.month, a.day, a.hour, a.minute, a.second, b.year, b.month,
                                        b.day, b.hour, b.minute, b.second, onFile, listing);
}

}  // namespace

std::string parseDay(const std::string& text, LocalTime& first, LocalTime& last) {
  int y = 0, m = 0, d = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &m, &d, &used) != 3 || used != static_cast<int>(text.size()) ||
      text.size() != 10)
    return "expected a date as YYYY-MM-DD, got " + text;
  // Round trip through the calendar: 2024-02-30 is no day.
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = m - 1;
  t.tm_mday = d;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  if (y < 1970 || y > 2037 || std::mktime(&t) == -1 || t.tm_year != y - 1900 || t.tm_mon != m - 1 || t.tm_mday != d)
    return "no such day " + text + " (1970 to 2037)";
  first = {y, m, d, 0, 0, 0};
  last = {y, m, d, 23, 59, 59};
  return "";
}

void wholeRange(LocalTime& first, LocalTime& last) {
  // The link sends the low 32 bits of the seconds: stay inside them, and
  // a day clear of 1970-01-01 00:00, which east of UTC is before the epoch.
  first = {1970, 1, 2, 0, 0, 0};
  last = {2037, 12, 31, 23, 59, 59};
}

std::vector<SdRecording> listRecordings(CameraLink& link, const LocalTime& first, const LocalTime& last) {
  // Both outlive a search the link may still run after a time-out.
  static Listing* const listing = new Listing;
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    listing->files.clear();
    listing->done = false;
  }
  search(link.handle(), first, last, listing);
  DeviceHandle handle = link.handle();
  std::thread end([handle] {
    const LocalTime none{0, 0, 0, 0, 0, 0};
    search(handle, none, none, nullptr);
    {
      std::lock_guard<std::mutex> lock(Waits::mutex());
      listing->done = true;
    }
    Waits::notify();
  });
  const bool done = Waits::until(link.deadline(), [] { return listing->done; });
  if (!done) {
    end.detach();
    link.abandon();
    if (interrupted()) throw Interrupted();
    throw Failure(link.name() + " did not finish listing its recordings within " +
                  secondsText(link.timeoutSeconds()));
  }
  end.join();
  std::lock_guard<std::mutex> lock(Waits::mutex());
  return listing->files;
}

}  // namespace tavolen::cli
