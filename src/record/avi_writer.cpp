#include "record/avi_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tavolen {

static_assert(std::endian::native == std::endian::little, "AVI records are written as they lie in memory");

namespace {

using namespace avi;

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kList = fourcc("LIST");
constexpr uint32_t kVideoChunk = fourcc("00dc");
constexpr uint32_t kAudioChunk = fourcc("01wb");
constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;
constexpr uint64_t kMinSegmentLimit = 64 * 1024;

template <class T>
void put(std::vector<uint8_t>& out, const T& value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof(T));
}

// Opens a list in out; returns where its header lies so closeList can size it.
size_t openList(std::vector<uint8_t>& out, uint32_t id, uint32_t type) {
  const size_t at = out.size();
  put(out, ListHeader{id, 4, type});
  return at;
}

void closeList(std::vector<uint8_t>& out, size_t at) {
  const uint32_t size = static_cast<uint32_t>(out.size() - at - 8);
  std::memcpy(out.data() + at + 4, &size, 4);
}

// Appends a chunk; returns the offset of its data.
template <class T>
size_t putChunk(std::vector<uint8_t>& out, uint32_t id, const T& body) {
  put(out, ChunkHeader{id, static_cast<uint32_t>(sizeof(T))});
  const size_t at = out.size();
  put(out, body);
  if (sizeof(T) & 1) out.push_back(0);
  return at;
}

size_t putSuperIndex(std::vector<uint8_t>& out, uint32_t chunkId) {
  const uint32_t bytes = sizeof(SuperIndexHeader) + AviWriter::kMaxSegments * sizeof(SuperIndexEntry);
  put(out, ChunkHeader{fourcc("indx"), bytes});
  const size_t at = out.size();
  put(out, SuperIndexHeader{4, 0, kIndexOfIndexes, 0, chunkId, {0, 0, 0}});
  out.resize(out.size() + AviWriter::kMaxSegments * sizeof(SuperIndexEntry), 0);
  return at;
}

int16_t rectEdge(int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, 0, 32767)); }

uint32_t pictureBytes(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
}

}  // namespace

AviWriter::AviWriter(uint64_t segmentLimit, uint32_t maxSegmentSamples)
    : segmentLimit_(std::max(segmentLimit, kMinSegmentLimit)), maxSegmentSamples_(std::max(maxSegmentSamples, 16u)) {}

AviWriter::~AviWriter() { close(); }

bool AviWriter::open(const std::string& path, const VideoFormat& video) {
  close();
  video_ = video;
  if (video_.frameRate == 0) video_.frameRate = 25;
  failed_ = false;
  current_ = Segment{};
  finished_.clear();
  idx1_.clear();
  inFirstSegment_ = true;
  videoSamples_ = 0;
  firstSegmentFrames_ = 0;
  audioSamples_ = 0;
  maxChunk_ = 0;

  const uint32_t picture = pictureBytes(video_.width, video_.height);
  std::vector<uint8_t> h;
  h.reserve(16384);
  openList(h, kRiff, fourcc("AVI "));
  const size_t hdrl = openList(h, kList, fourcc("hdrl"));

  MainHeader main{};
  main.microSecPerFrame = 1000000u / video_.frameRate;
  main.flags = kHasIndex | kIsInterleaved;
  main.streams = 2;
  main.suggestedBufferSize = picture;
  main.width = static_cast<uint32_t>(std::max(video_.width, 0));
  main.height = static_cast<uint32_t>(std::max(video_.height, 0));
  avihAt_ = putChunk(h, fourcc("avih"), main);

  const size_t vstrl = openList(h, kList, fourcc("strl"));
  StreamHeader vs{};
  vs.type = fourcc("vids");
  vs.handler = video_.compression;
  vs.scale = 1;
  vs.rate = video_.frameRate;
  vs.suggestedBufferSize = picture;
  vs.frameRight = rectEdge(video_.width);
  vs.frameBottom = rectEdge(video_.height);
  videoStrhAt_ = putChunk(h, fourcc("strh"), vs);
  BitmapInfoHeader bih{};
  bih.size = sizeof(BitmapInfoHeader);
  bih.width = video_.width;
  bih.height = video_.height;
  bih.planes = 1;
  bih.bitCount = 24;
  bih.compression = video_.compression;
  putChunk(h, fourcc("strf"), bih);
  videoIndxAt_ = putSuperIndex(h, kVideoChunk);
  closeList(h, vstrl);

  const size_t astrl = openList(h, kList, fourcc("strl"));
  StreamHeader as{};
  as.type = fourcc("auds");
  as.scale = 1;
  as.rate = kAudioRate;
  as.sampleSize = 2;
  audioStrhAt_ = putChunk(h, fourcc("strh"), as);
  WaveFormatEx wf{};
  wf.formatTag = 1;
  wf.channels = 1;
  wf.samplesPerSec = kAudioRate;
  wf.avgBytesPerSec = kAudioRate * 2;
  wf.blockAlign = 2;
  wf.bitsPerSample = 16;
  putChunk(h, fourcc("strf"), wf);
  audioIndxAt_ = putSuperIndex(h, kAudioChunk);
  closeList(h, astrl);

  const size_t odml = openList(h, kList, fourcc("odml"));
  dmlhAt_ = putChunk(h, fourcc("dmlh"), OdmlHeader{});
  closeList(h, odml);
  closeList(h, hdrl);

  current_.riffStart = 0;
  current_.moviStart = h.size();
  openList(h, kList, fourcc("movi"));
  closeList(h, 0);

  if (!file_.create(path)) return false;
  const platform::ConstBuffer buf{h.data(), h.size()};
  if (!file_.append(&buf, 1)) {
    // The file is ours (just created or truncated) and holds no recording.
    file_.close();
    platform::deleteFile(path);
    return false;
  }
  return true;
}

bool AviWriter::writeVideo(const void* data, uint32_t size) {
  if (size > 0 && data == nullptr) return false;
  return writeChunk(kVideoChunk, data, size, true, 1, true);
}

uint32_t AviWriter::writeEmptyVideo(uint32_t count) {
  uint32_t written = 0;
  while (written < count && writeChunk(kVideoChunk, nullptr, 0, true, 1, false)) ++written;
  if (written > 0) patchSizes();
  return written;
}

bool AviWriter::writeAudio(const int16_t* samples, uint32_t count) {
  if (count == 0 || samples == nullptr || count > kMaxSampleBytes / 2) return false;
  return writeChunk(kAudioChunk, samples, count * 2, false, count, true);
}

uint64_t AviWriter::closingBytes(const Segment& s) const {
  // Room for both ix chunks and (in the first segment) idx1, counting the
  // entry of the chunk about to be written.
  uint64_t bytes = 2 * (sizeof(ChunkHeader) + sizeof(StdIndexHeader)) +
                   (s.video.size() + s.audio.size() + 1) * sizeof(StdIndexEntry);
  if (inFirstSegment_) bytes += sizeof(ChunkHeader) + (idx1_.size() + 1) * sizeof(OldIndexEntry);
  return bytes;
}

bool AviWriter::writeChunk(uint32_t id, const void* data, uint32_t size, bool video, uint32_t sampleCount, bool patch) {
  if (!file_.isOpen() || failed_ || size > kMaxSampleBytes) return false;
  const uint64_t padded = size + (size & 1u);
  const uint64_t needed = sizeof(ChunkHeader) + padded;
  const size_t samples = current_.video.size() + current_.audio.size();
  if (samples > 0 && (samples >= maxSegmentSamples_ ||
                      file_.end() + needed + closingBytes(current_) - current_.riffStart > segmentLimit_)) {
    if (finished_.size() + 1 >= kMaxSegments) return false;
    if (!finishSegment() || !startSegment()) return fail();
  }

  const uint64_t at = file_.end();
  const ChunkHeader header{id, size};
  static const uint8_t kPad = 0;
  const platform::ConstBuffer parts[3] = {{&header, sizeof header}, {data, size}, {&kPad, size & 1u}};
  if (!file_.append(parts, 3)) {
    file_.truncate(at);
    return fail();
  }

  const StdIndexEntry entry{static_cast<uint32_t>(at + sizeof(ChunkHeader) - current_.moviStart), size};
  if (video) {
    current_.video.push_back(entry);
    ++videoSamples_;
  } else {
    current_.audio.push_back(entry);
    current_.audioSamples += sampleCount;
    audioSamples_ += sampleCount;
  }
  if (inFirstSegment_) {
    idx1_.push_back(OldIndexEntry{id, kIndexKeyFrame, static_cast<uint32_t>(at - (current_.moviStart + 8)), size});
  }
  maxChunk_ = std::max(maxChunk_, size);
  // Cheap enough per chunk, and a killed process then loses nothing written.
  if (patch) patchSizes();
  return true;
}

bool AviWriter::fail() {
  failed_ = true;
  return false;
}

bool AviWriter::writeStdIndex(uint32_t id, uint32_t chunkId, const std::vector<StdIndexEntry>& entries,
                              SuperIndexEntry& out) {
  const StdIndexHeader header{2, 0, kIndexOfChunks, static_cast<uint32_t>(entries.size()), chunkId,
                              current_.moviStart, 0};
  const uint32_t bytes = static_cast<uint32_t>(sizeof header + entries.size() * sizeof(StdIndexEntry));
  const ChunkHeader chunk{id, bytes};
  const uint64_t at = file_.end();
  const platform::ConstBuffer parts[3] = {
      {&chunk, sizeof chunk}, {&header, sizeof header}, {entries.data(), entries.size() * sizeof(StdIndexEntry)}};
  if (!file_.append(parts, 3)) {
    file_.truncate(at);
    return false;
  }
  uint64_t duration = 0;
  if (chunkId == kVideoChunk) {
    duration = entries.size();
  } else {
    duration = current_.audioSamples;
  }
  out = SuperIndexEntry{at, bytes + static_cast<uint32_t>(sizeof chunk),
                        static_cast<uint32_t>(std::min<uint64_t>(duration, 0xFFFFFFFFu))};
  return true;
}

bool AviWriter::finishSegment() {
  FinishedSegment done;
  bool ok = true;
  if (!current_.video.empty()) ok = writeStdIndex(fourcc("ix00"), kVideoChunk, current_.video, done.video);
  if (ok && !current_.audio.empty()) {
    ok = writeStdIndex(fourcc("ix01"), kAudioChunk, current_.audio, done.audio);
    done.hasAudio = ok;
  }
  // The movi list ends here; in the first segment idx1 follows it.
  const uint32_t moviSize = static_cast<uint32_t>(file_.end() - current_.moviStart - 8);
  ok = file_.writeAt(current_.moviStart + 4, &moviSize, 4) && ok;
  if (ok && inFirstSegment_) {
    const uint64_t at = file_.end();
    const ChunkHeader chunk{fourcc("idx1"), static_cast<uint32_t>(idx1_.size() * sizeof(OldIndexEntry))};
    const platform::ConstBuffer parts[2] = {{&chunk, sizeof chunk},
                                            {idx1_.data(), idx1_.size() * sizeof(OldIndexEntry)}};
    if (!file_.append(parts, 2)) {
      file_.truncate(at);
      ok = false;
    }
  }
  const uint32_t riffSize = static_cast<uint32_t>(file_.end() - current_.riffStart - 8);
  ok = file_.writeAt(current_.riffStart + 4, &riffSize, 4) && ok;
  if (ok) {
    if (inFirstSegment_) firstSegmentFrames_ = static_cast<uint32_t>(current_.video.size());
    inFirstSegment_ = false;
    idx1_.clear();
    idx1_.shrink_to_fit();
    if (!current_.video.empty() || done.hasAudio) finished_.push_back(done);
  }
  ok = patchHeaders() && ok;
  return ok;
}

bool AviWriter::startSegment() {
  current_ = Segment{};
  current_.riffStart = file_.end();
  current_.moviStart = current_.riffStart + sizeof(ListHeader);
  const ListHeader lists[2] = {{kRiff, 4 + sizeof(ListHeader), fourcc("AVIX")}, {kList, 4, fourcc("movi")}};
  const platform::ConstBuffer buf{lists, sizeof lists};
  if (!file_.append(&buf, 1)) {
    file_.truncate(current_.riffStart);
    return false;
  }
  return true;
}

bool AviWriter::patchSizes() {
  const uint32_t moviSize = static_cast<uint32_t>(file_.end() - current_.moviStart - 8);
  const uint32_t riffSize = static_cast<uint32_t>(file_.end() - current_.riffStart - 8);
  return file_.writeAt(current_.moviStart + 4, &moviSize, 4) && file_.writeAt(current_.riffStart + 4, &riffSize, 4);
}

bool AviWriter::patchHeaders() {
  const uint32_t firstFrames = inFirstSegment_ ? videoSamples_ : firstSegmentFrames_;
  const uint32_t audioLength = static_cast<uint32_t>(std::min<uint64_t>(audioSamples_, 0xFFFFFFFFu));
  bool ok = file_.writeAt(avihAt_ + offsetof(MainHeader, totalFrames), &firstFrames, 4);
  ok = file_.writeAt(avihAt_ + offsetof(MainHeader, suggestedBufferSize), &maxChunk_, 4) && ok;
  ok = file_.writeAt(videoStrhAt_ + offsetof(StreamHeader, length), &videoSamples_, 4) && ok;
  ok = file_.writeAt(audioStrhAt_ + offsetof(StreamHeader, length), &audioLength, 4) && ok;
  ok = file_.writeAt(dmlhAt_ + offsetof(OdmlHeader, totalFrames), &videoSamples_, 4) && ok;

  std::vector<SuperIndexEntry> video;
  std::vector<SuperIndexEntry> audio;
  for (const FinishedSegment& s : finished_) {
    if (s.video.size) video.push_back(s.video);
    if (s.hasAudio) audio.push_back(s.audio);
  }
  const auto writeIndex = [&](uint64_t at, uint32_t chunkId, const std::vector<SuperIndexEntry>& entries) {
    const SuperIndexHeader header{4, 0, kIndexOfIndexes, static_cast<uint32_t>(entries.size()), chunkId, {0, 0, 0}};
    return file_.writeAt(at, &header, sizeof header) &&
           (entries.empty() ||
            file_.writeAt(at + sizeof header, entries.data(), entries.size() * sizeof(SuperIndexEntry)));
  };
  ok = writeIndex(videoIndxAt_, kVideoChunk, video) && ok;
  ok = writeIndex(audioIndxAt_, kAudioChunk, audio) && ok;
  return ok;
}

bool AviWriter::sync() {
  if (!file_.isOpen()) return false;
  bool ok = patchSizes();
  ok = patchHeaders() && ok;
  ok = file_.syncData() && ok;
  return ok;
}

bool AviWriter::close() {
  if (!file_.isOpen()) return true;
  bool ok = finishSegment();
  if (!ok) patchSizes();
  ok = file_.syncData() && ok;
  file_.close();
  return ok;
}

}  // namespace tavolen
