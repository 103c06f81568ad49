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

// Bits of an RBSP, most significant first.
class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint32_t bit() {
    const uint32_t b = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
    ++pos_;
    return b;
  }
  uint32_t bits(int n) {
    uint32_t v = 0;
    while (n-- > 0) v = (v << 1) | bit();
    return v;
  }
  uint32_t ue() {
    int zeros = 0;
    while (bit() == 0) ++zeros;
    return (1u << zeros) - 1 + bits(zeros);
  }
  size_t pos() const { return pos_; }
  size_t size() const { return bytes_.size() * 8; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

class BitWriter {
 public:
  void bits(uint32_t v, int n) {
    while (n-- > 0) bit((v >> n) & 1);
  }
  void bit(uint32_t b) {
    if (used_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
    ++used_;
  }
  void ue(uint32_t v) {
    const uint32_t code = v + 1;
    int n = 0;
    while ((code >> n) > 1) ++n;
    bits(0, n);
    bits(code, n + 1);
  }
  std::vector<uint8_t> bytes_;
  size_t used_ = 0;
};

std::vector<uint8_t> unescape(const uint8_t* p, size_t n) {
  std::vector<uint8_t> out;
  int zeros = 0;
  for (size_t i = 0; i < n; ++i) {
    if (zeros == 2 && p[i] == 3) {
      zeros = 0;
      continue;
    }
    out.push_back(p[i]);
    zeros = p[i] == 0 ? zeros + 1 : 0;
  }
  return out;
}

std::vector<uint8_t> escape(const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> out;
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros == 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

// The SPS fields up to the picture size, copied; the size replaced; the rest
// copied up to the stop bit, which is written again with its alignment.
bool rewriteSps(const std::vector<uint8_t>& rbsp, int width, int height, std::vector<uint8_t>& out) {
  BitReader r(rbsp);
  BitWriter w;
  const uint32_t profile = r.bits(8);
  w.bits(profile, 8);
  w.bits(r.bits(16), 16);  // constraint flags, level
  w.ue(r.ue());            // seq_parameter_set_id
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
      profile == 83 || profile == 86 || profile == 118 || profile == 128) {
    const uint32_t chroma = r.ue();
    w.ue(chroma);
    if (chroma == 3) w.bit(r.bit());
    w.ue(r.ue());
    w.ue(r.ue());
    w.bit(r.bit());
    const uint32_t scaling = r.bit();
    if (scaling != 0) return false;
    w.bit(scaling);
  }
  w.ue(r.ue());  // log2_max_frame_num_minus4
  const uint32_t pocType = r.ue();
  w.ue(pocType);
  if (pocType == 0) w.ue(r.ue());
  if (pocType == 1) return false;
  w.ue(r.ue());   // max_num_ref_frames
  w.bit(r.bit()); // gaps_in_frame_num_value_allowed_flag
  r.ue();
  r.ue();
  w.ue(static_cast<uint32_t>(width / 16 - 1));
  w.ue(static_cast<uint32_t>(height / 16 - 1));
  size_t stop = r.size();
  while (stop > r.pos() && ((rbsp[(stop - 1) / 8] >> (7 - (stop - 1) % 8)) & 1) == 0) --stop;
  if (stop <= r.pos()) return false;
  while (r.pos() < stop - 1) w.bit(r.bit());
  w.bit(1);
  while (w.used_ % 8 != 0) w.bit(0);
  out = w.bytes_;
  return true;
}

}  // namespace

std::vector<uint8_t> withAnnouncedSize(const std::vector<uint8_t>& unit, int width, int height) {
  const std::vector<size_t> starts = nalStarts(unit);
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t header = payloadOffset(unit, starts[i]);
    if ((unit[header] & 0x1F) != 7) continue;
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : unit.size();
    std::vector<uint8_t> sps;
    if (!rewriteSps(unescape(unit.data() + header + 1, end - header - 1), width, height, sps)) break;
    std::vector<uint8_t> out(unit.begin(), unit.begin() + static_cast<long>(header) + 1);
    const std::vector<uint8_t> escaped = escape(sps);
    out.insert(out.end(), escaped.begin(), escaped.end());
    out.insert(out.end(), unit.begin() + static_cast<long>(end), unit.end());
    return out;
  }
  ADD_FAILURE() << "no sequence parameter set that can be rewritten";
  return unit;
}

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
