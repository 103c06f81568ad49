#include "recording_maker.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "connection.h"
#include "video_source.h"

namespace camsim {

namespace {

std::string localName(time_t at) {
  std::tm local{};
  localtime_r(&at, &local);
  char name[32];
  std::strftime(name, sizeof name, "%Y%m%d%H%M%S.h264", &local);
  return name;
}

}  // namespace

bool makeRecordings(const std::string& folder, const Profile& profile, int count, int seconds, int8_t timeZone,
                    std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    error = "cannot create " + folder + ": " + ec.message();
    return false;
  }
  const int fps = profile.fps > 0 ? profile.fps : 25;
  const int frames = seconds * fps;
  const time_t now = std::time(nullptr);
  for (int i = 0; i < count; ++i) {
    const time_t start = now - static_cast<time_t>((count - 1 - i) * 60 + seconds);
    const std::filesystem::path path = std::filesystem::path(folder) / localName(start);
    if (std::filesystem::exists(path, ec)) continue;
    std::unique_ptr<VideoSource> source = makePatternSource(profile, error);
    if (!source) return false;
    // Written under a temporary name: a run stopped midway leaves no half
    // recording behind under a recording's name.
    const std::filesystem::path partial = path.string() + ".part";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    AccessUnit unit;
    for (int frame = 0; frame < frames && out; ++frame) {
      if (!source->next(unit)) {
        error = "the test pattern failed";
        return false;
      }
      const int64_t ms = static_cast<int64_t>(frame) * 1000 / fps;
      uint8_t header[32];
      stampHeaderAt(header, unit.type, static_cast<uint32_t>(unit.data.size()), static_cast<uint32_t>(frame),
                    timeZone, static_cast<uint32_t>(start + ms / 1000), static_cast<uint16_t>(ms % 1000));
      out.write(reinterpret_cast<const char*>(header), sizeof header);
      out.write(reinterpret_cast<const char*>(unit.data.data()), static_cast<std::streamsize>(unit.data.size()));
    }
    out.close();
    if (!out) {
      error = "cannot write " + partial.string() + ": " + std::strerror(errno);
      std::filesystem::remove(partial, ec);
      return false;
    }
    std::filesystem::rename(partial, path, ec);
    if (ec) {
      error = "cannot rename " + partial.string() + ": " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace camsim
