#include "player/h264_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tavolen::test {

namespace {

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ScratchDir {
  std::string path;
  ScratchDir() {
    char tmpl[] = "/tmp/tavolen-test-XXXXXX";
    const char* made = mkdtemp(tmpl);
    path = made != nullptr ? made : "/tmp";
  }
  ~ScratchDir() {
    std::error_code ec;
    if (path != "/tmp") std::filesystem::remove_all(path, ec);
  }
};

// Offsets of every 00 00 01 start code (a preceding 00 belongs to it).
std::vector<size_t> nalStarts(const std::vector<uint8_t>& s) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 < s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      starts.push_back(i > 0 && s[i - 1] == 0 ? i - 1 : i);
      i += 2;
    }
  }
  return starts;
}

size_t payloadOffset(const std::vector<uint8_t>& s, size_t start) {
  return start + (s[start + 2] == 1 ? 3 : 4);
}

}  // namespace

std::string scratchDir() {
  static ScratchDir dir;
  return dir.path;
}

H264Stream encodeTestStream(int width, int height, int frames, int gop, const std::string& profile) {
  H264Stream stream;
  const std::string out = scratchDir() + "/s" + std::to_string(width) + "x" +
                          std::to_string(height) + "_" + std::to_string(frames) + "_" +
                          std::to_string(gop) + profile + ".h264";
  // Access unit delimiters mark where each unit begins.
  const std::string cmd =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + std::to_string(width) + "x" +
      std::to_string(height) + ":rate=25 -frames:v " + std::to_string(frames) +
      " -c:v libx264 -threads 1 -profile:v " + profile + " -bf 0 -g " + std::to_string(gop) +
      " -sc_threshold 0 -x264-params aud=1 -pix_fmt yuv420p -f h264 " + out;
  if (std::system(cmd.c_str()) != 0) {
    ADD_FAILURE() << "ffmpeg failed: " << cmd;
    return stream;
  }
  const std::vector<uint8_t> bytes = readFile(out);
  const std::vector<size_t> starts = nalStarts(bytes);
  std::vector<size_t> unitStarts;
  for (size_t st : starts)
    if ((bytes[payloadOffset(bytes, st)] & 0x1F) == 9) unitStarts.push_back(st);
  for (size_t i = 0; i < unitStarts.size(); ++i) {
    const size_t end = i + 1 < unitStarts.size() ? unitStarts[i + 1] : bytes.size();
    std::vector<uint8_t> unit(bytes.begin() + unitStarts[i], bytes.begin() + end);
    bool idr = false;
    for (size_t st : nalStarts(unit))
      if ((unit[payloadOffset(unit, st)] & 0x1F) == 5) idr = true;
    stream.units.push_back(std::move(unit));
    stream.key.push_back(idr);
  }
  stream.width = width;
  stream.height = height;
  EXPECT_EQ(static_cast<int>(stream.units.size()), frames);
  return stream;
}

std::vector<std::vector<uint8_t>> referenceDecode(const std::vector<std::vector<uint8_t>>& units,
                                                  int width, int height) {
  static int counter = 0;
  const std::string base = scratchDir() + "/ref" + std::to_string(counter++);
  {
    std::ofstream f(base + ".h264", std::ios::binary);
    for (const auto& u : units) f.write(reinterpret_cast<const char*>(u.data()), u.size());
  }
  const std::string cmd = "ffmpeg -nostdin -v error -y -threads 1 -f h264 -i " + base +
                          ".h264 -f rawvideo -pix_fmt yuv420p " + base + ".yuv";
  std::vector<std::vector<uint8_t>> pictures;
  if (std::system(cmd.c_str()) != 0) {
    ADD_FAILURE() << "ffmpeg failed: " << cmd;
    return pictures;
  }
  const std::vector<uint8_t> yuv = readFile(base + ".yuv");
  const size_t size = static_cast<size_t>(width) * height + 2 * (width / 2) * (height / 2);
  for (size_t off = 0; off + size <= yuv.size(); off += size)
    pictures.emplace_back(yuv.begin() + off, yuv.begin() + off + size);
  return pictures;
}

}  // namespace tavolen::test
