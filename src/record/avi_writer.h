#pragma once
// RIFF AVI writer for one video stream (stream 00, "00dc" chunks) and one PCM
// sound stream (stream 01, "01wb" chunks).
//
// Layout: RIFF 'AVI ' { LIST hdrl { avih, LIST strl (vids) { strh, strf, indx },
// LIST strl (auds) { strh, strf, indx }, LIST odml { dmlh } }, LIST movi { chunks,
// ix00, ix01 }, idx1 }, then for files past the segment limit (1 GiB) further
// RIFF 'AVIX' { LIST movi { chunks, ix00, ix01 } } segments reached through the
// indx super indexes. Every sample is indexed as a key frame.
//
// Crash safety: after every chunk the sizes of the open RIFF and movi lists are
// patched to the new end, so a file cut off when its process dies reads as a
// complete file up to its last chunk; sync() (called by the owner at least
// once a second) also patches the stream lengths and pushes the data to the
// disk, which bounds what a power loss takes. Only close() writes idx1 and the
// indexes of the last segment.
//
// Not thread-safe: the owner serialises every call. After any failed write
// the writer refuses all further samples; close() still finalises what was
// written before the failure.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace tavolen {

namespace avi {

constexpr uint32_t fourcc(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

inline constexpr uint32_t kIndexKeyFrame = 0x10;  // AVIIF_KEYFRAME
inline constexpr uint32_t kHasIndex = 0x10;       // AVIF_HASINDEX
inline constexpr uint32_t kIsInterleaved = 0x100; // AVIF_ISINTERLEAVED

#pragma pack(push, 1)
struct ChunkHeader {
  uint32_t id;
  uint32_t size;
};
struct ListHeader {
  uint32_t id;  // RIFF or LIST
  uint32_t size;
  uint32_t type;
};
struct MainHeader {
  uint32_t microSecPerFrame;
  uint32_t maxBytesPerSec;
  uint32_t paddingGranularity;
  uint32_t flags;
  uint32_t totalFrames;
  uint32_t initialFrames;
  uint32_t streams;
  uint32_t suggestedBufferSize;
  uint32_t width;
  uint32_t height;
  uint32_t reserved[4];
};
struct StreamHeader {
  uint32_t type;
  uint32_t handler;
  uint32_t flags;
  uint16_t priority;
  uint16_t language;
  uint32_t initialFrames;
  uint32_t scale;
  uint32_t rate;
  uint32_t start;
  uint32_t length;
  uint32_t suggestedBufferSize;
  uint32_t quality;
  uint32_t sampleSize;
  int16_t frameLeft;
  int16_t frameTop;
  int16_t frameRight;
  int16_t frameBottom;
};
struct BitmapInfoHeader {
  uint32_t size;
  int32_t width;
  int32_t height;
  uint16_t planes;
  uint16_t bitCount;
  uint32_t compression;
  uint32_t sizeImage;
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint32_t clrUsed;
  uint32_t clrImportant;
};
struct WaveFormatEx {
  uint16_t formatTag;
  uint16_t channels;
  uint32_t samplesPerSec;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t extraSize;
};
struct OldIndexEntry {  // idx1
  uint32_t chunkId;
  uint32_t flags;
  uint32_t offset;  // of the chunk header, from the 'movi' tag
  uint32_t size;
};
struct SuperIndexHeader {  // indx
  uint16_t longsPerEntry;
  uint8_t indexSubType;
  uint8_t indexType;
  uint32_t entriesInUse;
  uint32_t chunkId;
  uint32_t reserved[3];
};
struct SuperIndexEntry {
  uint64_t offset;  // of the ix chunk header, from the file start
  uint32_t size;    // of the ix chunk, header included
  uint32_t duration;
};
struct StdIndexHeader {  // ix00, ix01
  uint16_t longsPerEntry;
  uint8_t indexSubType;
  uint8_t indexType;
  uint32_t entriesInUse;
  uint32_t chunkId;
  uint64_t baseOffset;
  uint32_t reserved;
};
struct StdIndexEntry {
  uint32_t offset;  // of the chunk data, from baseOffset
  uint32_t size;    // bit 31 set would mark a delta frame
};
struct OdmlHeader {  // dmlh
  uint32_t totalFrames;
  uint32_t reserved[61];
};
#pragma pack(pop)

static_assert(sizeof(ChunkHeader) == 8);
static_assert(sizeof(ListHeader) == 12);
static_assert(sizeof(MainHeader) == 56);
static_assert(offsetof(MainHeader, totalFrames) == 16);
static_assert(offsetof(MainHeader, streams) == 24);
static_assert(offsetof(MainHeader, width) == 32);
static_assert(sizeof(StreamHeader) == 56);
static_assert(offsetof(StreamHeader, initialFrames) == 16);
static_assert(offsetof(StreamHeader, scale) == 20);
static_assert(offsetof(StreamHeader, length) == 32);
static_assert(offsetof(StreamHeader, sampleSize) == 44);
static_assert(offsetof(StreamHeader, frameLeft) == 48);
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(offsetof(BitmapInfoHeader, compression) == 16);
static_assert(offsetof(BitmapInfoHeader, clrImportant) == 36);
static_assert(sizeof(WaveFormatEx) == 18);
static_assert(offsetof(WaveFormatEx, avgBytesPerSec) == 8);
static_assert(offsetof(WaveFormatEx, extraSize) == 16);
static_assert(sizeof(OldIndexEntry) == 16);
static_assert(sizeof(SuperIndexHeader) == 24);
static_assert(sizeof(SuperIndexEntry) == 16);
static_assert(sizeof(StdIndexHeader) == 24);
static_assert(offsetof(StdIndexHeader, baseOffset) == 12);
static_assert(sizeof(StdIndexEntry) == 8);
static_assert(sizeof(OdmlHeader) == 248);

}  // namespace avi

class AviWriter {
 public:
  struct VideoFormat {
    uint32_t compression = avi::fourcc("h264");  // also the stream handler
    int32_t width = 0;
    int32_t height = 0;
    uint32_t frameRate = 25;
  };
  // Sound is always PCM, 16 bits, mono, at this rate.
  static constexpr uint32_t kAudioRate = 8000;

  // First RIFF and each AVIX segment stay at or below this many bytes.
  static constexpr uint64_t kSegmentLimit = 1ull << 30;
  // Super index slots reserved in the header per stream: files end (writes
  // are refused) once that many segments are full.
  static constexpr uint32_t kMaxSegments = 256;
  // Largest sample accepted in one chunk.
  static constexpr uint32_t kMaxSampleBytes = 16u << 20;
  // Samples per segment: bounds the index memory held while a segment is open
  // (24 bytes a sample) when a file holds many tiny samples, such as the
  // empty ones of a stalled camera.
  static constexpr uint32_t kMaxSegmentSamples = 1u << 20;

  // The limits are for tests that exercise continuation segments without
  // writing a gigabyte; they are raised to at least 64 KiB and 16 samples.
  explicit AviWriter(uint64_t segmentLimit = kSegmentLimit, uint32_t maxSegmentSamples = kMaxSegmentSamples);
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Creates (or truncates) path and writes the headers; false on failure,
  // removing the file again when only the headers could not be written.
  bool open(const std::string& path, const VideoFormat& video);
  bool isOpen() const { return file_.isOpen(); }

  // One video sample; size 0 writes an empty sample. False when refused
  // (too big, file full, earlier failure) or when the write fails.
  bool writeVideo(const void* data, uint32_t size);
  // count empty video samples; returns how many were written.
  uint32_t writeEmptyVideo(uint32_t count);
  // count PCM samples as one chunk.
  bool writeAudio(const int16_t* samples, uint32_t count);

  // Makes everything written so far readable after a crash (see above).
  bool sync();
  // Writes the indexes, patches the headers and closes; false if any of that
  // failed (the file is closed in every case).
  bool close();

  uint64_t fileSize() const { return file_.end(); }
  uint32_t videoSamples() const { return videoSamples_; }
  uint64_t audioSamples() const { return audioSamples_; }
  uint32_t segments() const { return static_cast<uint32_t>(finished_.size()) + (isOpen() ? 1 : 0); }

 private:
  struct Segment {
    uint64_t riffStart = 0;  // the RIFF list header
    uint64_t moviStart = 0;  // the movi list header
    std::vector<avi::StdIndexEntry> video;
    std::vector<avi::StdIndexEntry> audio;
    uint64_t audioSamples = 0;
  };
  struct FinishedSegment {
    avi::SuperIndexEntry video{};
    avi::SuperIndexEntry audio{};
    bool hasAudio = false;
  };

  bool writeChunk(uint32_t id, const void* data, uint32_t size, bool video, uint32_t samples, bool patch);
  uint64_t closingBytes(const Segment& s) const;
  bool finishSegment();
  bool startSegment();
  bool writeStdIndex(uint32_t id, uint32_t chunkId, const std::vector<avi::StdIndexEntry>& entries,
                     avi::SuperIndexEntry& out);
  bool patchSizes();
  bool patchHeaders();
  bool fail();

  uint64_t segmentLimit_;
  uint32_t maxSegmentSamples_;
  platform::WritableFile file_;
  VideoFormat video_{};
  bool failed_ = false;

  Segment current_;
  std::vector<FinishedSegment> finished_;
  std::vector<avi::OldIndexEntry> idx1_;  // first segment only
  bool inFirstSegment_ = true;
  uint32_t videoSamples_ = 0;
  uint32_t firstSegmentFrames_ = 0;
  uint64_t audioSamples_ = 0;
  uint32_t maxChunk_ = 0;

  // Offsets of the header fields patched later.
  uint64_t avihAt_ = 0;
  uint64_t videoStrhAt_ = 0;
  uint64_t audioStrhAt_ = 0;
  uint64_t videoIndxAt_ = 0;
  uint64_t audioIndxAt_ = 0;
  uint64_t dmlhAt_ = 0;
};

}  // namespace tavolen
