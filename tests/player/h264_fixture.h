#pragma once
// Real H.264 for tests: a test pattern encoded by the ffmpeg command-line tool
// (libx264), cut into access units, and ffmpeg's own decode of it as the
// reference pictures.

#include <cstdint>
#include <string>
#include <vector>

namespace tavolen::test {

struct H264Stream {
  int width = 0;
  int height = 0;
  std::vector<std::vector<uint8_t>> units;  // Annex B access units, in order
  std::vector<bool> key;                    // unit holds an IDR picture
};

// frames pictures of width x height at 25/s, one IDR every gop pictures, no
// B-frames. Fails the current test (and returns an empty stream) if ffmpeg
// cannot make it.
H264Stream encodeTestStream(int width, int height, int frames, int gop,
                            const std::string& profile = "main");

// ffmpeg's decode of the concatenated units: one planar 4:2:0 picture per
// unit, width * height luma bytes then two (width/2) * (height/2) planes.
std::vector<std::vector<uint8_t>> referenceDecode(const std::vector<std::vector<uint8_t>>& units,
                                                  int width, int height);

// The unit with its sequence parameter set rewritten to announce a picture of
// width x height (whole macroblocks, no cropping); its slices still code the
// small picture. What a hostile camera sends to make a decoder set up a huge
// picture from a few bytes. Fails the current test (and returns the unit
// unchanged) for a parameter set it cannot rewrite.
std::vector<uint8_t> withAnnouncedSize(const std::vector<uint8_t>& unit, int width, int height);

// A private scratch directory, removed at exit.
std::string scratchDir();

}  // namespace tavolen::test
