#include "record/avi_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "record_fixtures.h"

namespace tavolen {
namespace {

namespace fs = std::filesystem;
using test::Packet;

constexpr uint64_t kSmallSegment = 96 * 1024;

// Writes frames, a sound block after every third and two empty samples
// after every seventh; returns the video packets a reader should find.
std::vector<Packet> writeStream(AviWriter& w, const std::vector<test::Bytes>& frames, size_t count) {
  std::vector<Packet> expected;
  for (size_t i = 0; i < count; ++i) {
    const test::Bytes& f = frames[i % frames.size()];
    EXPECT_TRUE(w.writeVideo(f.data(), static_cast<uint32_t>(f.size())));
    expected.push_back(Packet{static_cast<int64_t>(w.videoSamples() - 1), static_cast<int64_t>(f.size())});
    if (i % 3 == 2) {
      const std::vector<int16_t> pcm = test::decodedSoundBlock(static_cast<int>(i));
      EXPECT_TRUE(w.writeAudio(pcm.data(), 1024));
    }
    if (i % 7 == 6) {
      EXPECT_EQ(w.writeEmptyVideo(2), 2u);
    }
  }
  return expected;
}

bool containsTag(const std::string& file, const std::string& tag) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  return bytes.find(tag) != std::string::npos;
}

struct SegmentCase {
  const char* name;
  uint64_t segmentLimit;
  uint32_t segmentSamples;
  size_t frames;
  bool expectContinuation;
};
void PrintTo(const SegmentCase& c, std::ostream* os) { *os << c.name; }

class AviWriterSegments : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(AviWriterSegments, ClosedFileReadsBackWhole) {
  const SegmentCase& c = GetParam();
  test::ScratchDir dir;
  const std::string file = dir.path() + "/out.avi";
  const auto& frames = test::h264AccessUnits(320, 240, 50);
  AviWriter w(c.segmentLimit, c.segmentSamples);
  ASSERT_TRUE(w.open(file, {avi::fourcc("h264"), 320, 240, 25}));
  const std::vector<Packet> expected = writeStream(w, frames, c.frames);
  EXPECT_EQ(w.segments() > 1, c.expectContinuation);
  ASSERT_TRUE(w.close());

  EXPECT_EQ(containsTag(file, "AVIX"), c.expectContinuation);
  EXPECT_TRUE(containsTag(file, "idx1"));
  EXPECT_EQ(test::packets(file, "v"), expected);
  EXPECT_EQ(test::packets(file, "a").size(), c.frames / 3);
  EXPECT_EQ(test::decodeStatus(file), 0);
  EXPECT_EQ(test::decodedPictures(file), static_cast<int>(c.frames));
}

TEST_P(AviWriterSegments, FileCutOffBeforeCloseReadsToItsLastChunk) {
  const SegmentCase& c = GetParam();
  test::ScratchDir dir;
  const std::string file = dir.path() + "/out.avi";
  const std::string cut = dir.path() + "/cut.avi";
  const auto& frames = test::h264AccessUnits(320, 240, 50);
  AviWriter w(c.segmentLimit, c.segmentSamples);
  ASSERT_TRUE(w.open(file, {avi::fourcc("h264"), 320, 240, 25}));
  std::vector<Packet> expected = writeStream(w, frames, c.frames);
  EXPECT_EQ(w.segments() > 1, c.expectContinuation);
  fs::copy_file(file, cut);  // what a killed process leaves behind
  w.close();

  EXPECT_EQ(test::packets(cut, "v"), expected);
  EXPECT_EQ(test::decodeStatus(cut), 0);
  EXPECT_EQ(test::decodedPictures(cut), static_cast<int>(c.frames));
}

INSTANTIATE_TEST_SUITE_P(Layouts, AviWriterSegments,
                         ::testing::Values(SegmentCase{"OneRiff", AviWriter::kSegmentLimit,
                                                       AviWriter::kMaxSegmentSamples, 60, false},
                                           SegmentCase{"SegmentsBySize", kSmallSegment, AviWriter::kMaxSegmentSamples,
                                                       150, true},
                                           SegmentCase{"SegmentsBySampleCount", AviWriter::kSegmentLimit, 40, 100,
                                                       true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AviWriter, RefusesOversizedSamplesAndWritesNothingAfterClose) {
  test::ScratchDir dir;
  AviWriter w;
  ASSERT_TRUE(w.open(dir.path() + "/a.avi", {}));
  const test::Bytes big(AviWriter::kMaxSampleBytes + 1, 0);
  EXPECT_FALSE(w.writeVideo(big.data(), static_cast<uint32_t>(big.size())));
  EXPECT_FALSE(w.writeVideo(nullptr, 10));
  EXPECT_FALSE(w.writeAudio(nullptr, 1024));
  const uint8_t ok[3] = {0, 0, 1};
  EXPECT_TRUE(w.writeVideo(ok, 3)) << "a refused sample does not spoil the file";
  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.writeVideo(ok, 3));
  EXPECT_FALSE(AviWriter().open(dir.path() + "/missing/b.avi", {}));
}

// Runs body in a child whose file-size limit makes writes fail as on a full
// disk (the test process keeps its own limit); returns the child's exit code.
int withFileSizeLimit(rlim_t bytes, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(body());
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(AviWriter, FullDiskEndsTheFileWithEverythingBeforeTheFailureReadable) {
  test::ScratchDir dir;
  const std::string file = dir.path() + "/full.avi";
  const auto& frames = test::h264AccessUnits(320, 240, 50);
  const int written = withFileSizeLimit(40000, [&] {
    AviWriter w;
    if (!w.open(file, {avi::fourcc("h264"), 320, 240, 25})) return 255;
    int n = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
      if (!w.writeVideo(frames[i].data(), static_cast<uint32_t>(frames[i].size()))) break;
      ++n;
    }
    const uint8_t small[4] = {0, 0, 0, 1};
    if (n == static_cast<int>(frames.size()) || w.writeVideo(small, 4)) return 254;  // must stay refused
    w.close();
    return n;
  });
  ASSERT_GT(written, 0);
  ASSERT_LT(written, 50);
  EXPECT_EQ(test::packets(file, "v").size(), static_cast<size_t>(written));
  EXPECT_EQ(test::decodeStatus(file), 0);
}

TEST(AviWriter, HeadersThatDoNotFitLeaveNoFileBehind) {
  test::ScratchDir dir;
  const std::string file = dir.path() + "/tiny.avi";
  EXPECT_EQ(withFileSizeLimit(1000, [&] { return AviWriter().open(file, {}) ? 1 : 0; }), 0);
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace tavolen
