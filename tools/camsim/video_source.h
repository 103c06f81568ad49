#pragma once
// Where the live stream's access units come from: the test pattern encoded on
// the fly, a file, or a fixed run of frames encoded once and looped.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camsim.h"

namespace camsim {

struct AccessUnit {
  std::vector<uint8_t> data;
  uint8_t type = 1;  // 0 key (IDR), 1 delta, 3 JPEG
};

class VideoSource {
 public:
  virtual ~VideoSource() = default;
  // The next unit; false when the source failed (files loop, never end).
  virtual bool next(AccessUnit& out) = 0;
};

// H.264 through libx264: Annex B, SPS and PPS in front of every IDR, one IDR
// per second, no B-frames, no encoder delay.
std::unique_ptr<VideoSource> makePatternSource(const Profile& profile, std::string& error);
// An Annex B H.264 file cut into access units, or an MJPEG file cut into
// pictures (chosen by the first bytes).
std::unique_ptr<VideoSource> makeFileSource(const std::string& path, std::string& error);
// Takes count units from source once and hands them out in a loop.
std::unique_ptr<VideoSource> makeLoopSource(std::unique_ptr<VideoSource> source, int count,
                                            std::string& error);

// Hands out the given units in a loop, without end.
std::unique_ptr<VideoSource> makeUnitLoop(std::vector<AccessUnit> units);

// Cuts an Annex B byte stream into access units (exposed for tests).
std::vector<AccessUnit> splitAnnexB(const uint8_t* data, size_t size);

// Draws the moving test pattern with the clock text into an I420 picture.
void drawTestPattern(uint8_t* y, int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride,
                     int width, int height, int64_t frameNumber, const char* clockText);

}  // namespace camsim
