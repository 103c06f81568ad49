#include "record_fixtures.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "media/adpcm_codec.h"

namespace tavolen::test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "tavolen-record-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string run(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

namespace {

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Splits an Annex B stream whose access units each begin with an access unit
// delimiter (NAL type 9).
std::vector<Bytes> splitAtDelimiters(const Bytes& s) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 4 < s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 0 && s[i + 3] == 1 && (s[i + 4] & 0x1F) == 9) starts.push_back(i);
  }
  std::vector<Bytes> units;
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
    units.emplace_back(s.begin() + static_cast<long>(starts[k]), s.begin() + static_cast<long>(end));
  }
  return units;
}

std::mutex mediaLock;
std::map<std::string, std::vector<Bytes>> mediaCache;

std::map<std::string, std::string> keyValues(const std::string& text) {
  std::map<std::string, std::string> kv;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return kv;
}

}  // namespace

const std::vector<Bytes>& h264AccessUnits(int width, int height, int frames) {
  const std::string key = "h264:" + std::to_string(width) + "x" + std::to_string(height) + ":" + std::to_string(frames);
  std::lock_guard<std::mutex> guard(mediaLock);
  auto it = mediaCache.find(key);
  if (it != mediaCache.end()) return it->second;
  ScratchDir dir;
  const std::string out = dir.path() + "/s.h264";
  int status = 0;
  run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) +
          ":rate=25 -frames:v " + std::to_string(frames) +
          " -c:v libx264 -preset ultrafast -x264-params aud=1:keyint=25 -pix_fmt yuv420p -f h264 " + out,
      &status);
  if (status != 0) throw std::runtime_error("ffmpeg could not make H.264");
  return mediaCache[key] = splitAtDelimiters(readFile(out));
}

const std::vector<Bytes>& jpegPictures(int width, int height, int frames) {
  const std::string key = "jpeg:" + std::to_string(width) + "x" + std::to_string(height) + ":" + std::to_string(frames);
  std::lock_guard<std::mutex> guard(mediaLock);
  auto it = mediaCache.find(key);
  if (it != mediaCache.end()) return it->second;
  ScratchDir dir;
  int status = 0;
  run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) +
          ":rate=25 -frames:v " + std::to_string(frames) + " -c:v mjpeg -pix_fmt yuvj420p " + dir.path() +
          "/p%04d.jpg",
      &status);
  if (status != 0) throw std::runtime_error("ffmpeg could not make JPEG");
  std::vector<Bytes> pictures;
  for (int i = 1; i <= frames; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/p%04d.jpg", i);
    pictures.push_back(readFile(dir.path() + name));
  }
  return mediaCache[key] = pictures;
}

std::vector<int16_t> decodedSoundBlock(int index) {
  std::vector<int16_t> tone(1024);
  for (int i = 0; i < 1024; ++i) {
    const double t = (index * 1024 + i) / 8000.0;
    tone[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
  }
  uint8_t block[512];
  AdpcmState enc;
  adpcmEncode(enc, tone.data(), 2048, block);
  std::vector<int16_t> pcm(1024);
  AdpcmState dec;
  adpcmDecode(dec, block, 512, pcm.data());
  return pcm;
}

std::vector<ProbedStream> probeStreams(const std::string& file) {
  std::vector<ProbedStream> streams;
  const std::string out = run("ffprobe -v error -show_entries "
                              "stream=codec_type,codec_name,codec_tag_string,r_frame_rate,sample_rate,channels,width,height"
                              " -of default=nw=0 '" + file + "' 2>/dev/null");
  std::istringstream in(out);
  std::string line, block;
  while (std::getline(in, line)) {
    if (line == "[STREAM]") {
      block.clear();
    } else if (line == "[/STREAM]") {
      auto kv = keyValues(block);
      ProbedStream s;
      s.type = kv["codec_type"];
      s.codec = kv["codec_name"];
      s.tag = kv["codec_tag_string"];
      s.frameRate = kv["r_frame_rate"];
      s.sampleRate = std::atoi(kv["sample_rate"].c_str());
      s.channels = std::atoi(kv["channels"].c_str());
      s.width = std::atoi(kv["width"].c_str());
      s.height = std::atoi(kv["height"].c_str());
      streams.push_back(s);
    } else {
      block += line + "\n";
    }
  }
  return streams;
}

std::vector<int64_t> packetSizes(const std::string& file, const std::string& stream) {
  const std::string out = run("ffprobe -v error -select_streams " + stream +
                              " -show_entries packet=size -of csv=p=0 '" + file + "' 2>/dev/null");
  std::vector<int64_t> sizes;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) sizes.push_back(std::atoll(line.c_str()));
  }
  return sizes;
}

std::vector<Packet> packets(const std::string& file, const std::string& stream) {
  const std::string out = run("ffprobe -v quiet -select_streams " + stream +
                              " -show_entries packet=dts,size -of csv=p=0 '" + file + "' 2>/dev/null");
  std::vector<Packet> list;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    list.push_back(Packet{std::atoll(line.substr(0, comma).c_str()), std::atoll(line.substr(comma + 1).c_str())});
  }
  return list;
}

Bytes paddedAccessUnit(uint32_t size) {
  const Bytes& unit = h264AccessUnits(320, 240, 50)[0];
  Bytes frame(std::max<size_t>(size, unit.size()), 0);
  std::copy(unit.begin(), unit.end(), frame.begin());
  frame.resize(size);
  return frame;
}

int decodeStatus(const std::string& file) {
  int status = 0;
  run("ffmpeg -nostdin -v error -xerror -i '" + file + "' -f null - 2>&1", &status);
  return status;
}

int decodedPictures(const std::string& file) {
  const std::string out = run("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames "
                              "-of default=nw=1:nk=1 '" + file + "' 2>/dev/null");
  return std::atoi(out.c_str());
}

RecordStartParams recordParams(const std::string& root, const std::string& device, uint32_t fileLen,
                               uint32_t timeLen, uint32_t reserved, uint32_t cover) {
  RecordStartParams p{};
  std::snprintf(p.recordPath, sizeof p.recordPath, "%s", root.c_str());
  std::snprintf(p.deviceFolder, sizeof p.deviceFolder, "%s", device.c_str());
  p.fileLen = fileLen;
  p.timeLen = timeLen;
  p.reserved = reserved;
  p.cover = cover;
  return p;
}

std::vector<std::string> filesUnder(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

platform::LocalTime FakeTime::localTime() {
  std::lock_guard<std::mutex> guard(localLock_);
  return local_;
}

void FakeTime::setLocal(const platform::LocalTime& t) {
  std::lock_guard<std::mutex> guard(localLock_);
  local_ = t;
}

std::optional<uint64_t> FakeDisk::freeBytes(const std::string& path) {
  ++queries_;
  std::lock_guard<std::mutex> guard(lock_);
  if (!freeMB_) return std::nullopt;
  return *freeMB_ << 20;
}

int64_t FakeDisk::creationTime(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = created_.find(path);
  return it != created_.end() ? it->second : platform::Disk::creationTime(path);
}

void FakeDisk::setFreeMB(std::optional<uint64_t> mb) {
  std::lock_guard<std::mutex> guard(lock_);
  freeMB_ = mb;
}

void FakeDisk::setCreationTime(const std::string& path, int64_t seconds) {
  std::lock_guard<std::mutex> guard(lock_);
  created_[path] = seconds;
}

}  // namespace tavolen::test
