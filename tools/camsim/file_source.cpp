// Video from a file: Annex B H.264 cut into access units, or MJPEG cut into
// pictures. The file is read once (bounded) and played in a loop.
#include <cstdio>
#include <cstring>

#include "connection.h"
#include "video_source.h"

namespace camsim {

namespace {

constexpr size_t kMaxFileBytes = 512u << 20;

bool readFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = "cannot open " + path;
    return false;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (out.size() + n > kMaxFileBytes) {
      std::fclose(f);
      error = path + " is too large";
      return false;
    }
    out.insert(out.end(), buf, buf + n);
  }
  std::fclose(f);
  return true;
}

// Offsets of every start code (00 00 01, also matching 00 00 00 01) and the
// first payload byte behind it.
struct Nal {
  size_t start;    // where the start code begins
  size_t payload;  // first byte after it
};

std::vector<Nal> findNals(const uint8_t* d, size_t size) {
  std::vector<Nal> nals;
  for (size_t i = 0; i + 3 <= size; ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
      const size_t start = (i > 0 && d[i - 1] == 0) ? i - 1 : i;
      nals.push_back({start, i + 3});
      i += 2;
    }
  }
  return nals;
}

std::vector<AccessUnit> splitJpeg(const uint8_t* d, size_t size) {
  std::vector<AccessUnit> units;
  size_t i = 0;
  while (i + 1 < size) {
    if (!(d[i] == 0xFF && d[i + 1] == 0xD8)) {
      ++i;
      continue;
    }
    size_t j = i + 2;
    while (j + 1 < size && !(d[j] == 0xFF && d[j + 1] == 0xD9)) ++j;
    if (j + 1 >= size) break;
    const size_t len = j + 2 - i;
    if (len <= kMaxFramePayload) {
      AccessUnit u;
      u.type = 3;
      u.data.assign(d + i, d + j + 2);
      units.push_back(std::move(u));
    }
    i = j + 2;
  }
  return units;
}

class UnitLoop : public VideoSource {
 public:
  explicit UnitLoop(std::vector<AccessUnit> units) : units_(std::move(units)) {}
  bool next(AccessUnit& out) override {
    if (units_.empty()) return false;
    out = units_[index_];
    index_ = (index_ + 1) % units_.size();
    return true;
  }

 private:
  std::vector<AccessUnit> units_;
  size_t index_ = 0;
};

}  // namespace

std::unique_ptr<VideoSource> makeUnitLoop(std::vector<AccessUnit> units) {
  return std::make_unique<UnitLoop>(std::move(units));
}

std::vector<AccessUnit> splitAnnexB(const uint8_t* d, size_t size) {
  std::vector<AccessUnit> units;
  const std::vector<Nal> nals = findNals(d, size);
  AccessUnit current;
  bool haveSlice = false;
  auto flush = [&] {
    if (haveSlice && !current.data.empty() && current.data.size() <= kMaxFramePayload) {
      units.push_back(std::move(current));
    }
    current = AccessUnit{};
    haveSlice = false;
  };
  for (size_t k = 0; k < nals.size(); ++k) {
    const size_t begin = nals[k].start;
    const size_t end = k + 1 < nals.size() ? nals[k + 1].start : size;
    if (nals[k].payload >= end) continue;
    const int type = d[nals[k].payload] & 0x1F;
    const bool isSlice = type == 1 || type == 5;
    // first_mb_in_slice == 0 is coded as a single 1 bit: the first slice of a picture.
    const bool firstSlice =
        isSlice && nals[k].payload + 1 < end && (d[nals[k].payload + 1] & 0x80) != 0;
    const bool opensUnit = type == 9 || type == 7 || type == 8 || type == 6 || firstSlice;
    if (opensUnit && haveSlice) flush();
    if (isSlice) {
      haveSlice = true;
      if (type == 5) current.type = 0;
    }
    current.data.insert(current.data.end(), d + begin, d + end);
  }
  flush();
  return units;
}

std::unique_ptr<VideoSource> makeFileSource(const std::string& path, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes, error)) return nullptr;
  std::vector<AccessUnit> units;
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
    units = splitJpeg(bytes.data(), bytes.size());
  } else {
    units = splitAnnexB(bytes.data(), bytes.size());
  }
  if (units.empty()) {
    error = path + " holds no usable frames";
    return nullptr;
  }
  return makeUnitLoop(std::move(units));
}

}  // namespace camsim
